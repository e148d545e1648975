// The script check: it reads any file without crashing, counts the statements the runner's
// reader hands on (the non-blank ones that are not only comments), and gives findings in
// script order on lines that exist.
//
// Input: the bytes of a script file, written to a file that both the check and the runner's
// reader open.
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzScratch.h"
#include "platform/Text.h"
#include "runner/RunnerContext.h"
#include "runner/ScriptCheck.h"
#include "runner/ScriptReader.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    runner::RunnerContext context;
    context.ExecutablePath = fuzzcheck::ExecutableWithScript(input);
    const std::string scriptPath = runner::ScriptPath(context.ExecutablePath, "");

    // The runner's reader: every statement it hands on that is not blank and not comments
    // only, converted or not.
    std::size_t statements = 0;
    {
        runner::TScriptFile file(scriptPath);
        runner::ReadStatements(file, [&](const std::string& statement,
                                         const runner::TStatementShape& shape,
                                         const std::vector<runner::TUnconvertible>&) {
            if (!platform::Trim(statement).empty() && !shape.CommentOnly) {
                ++statements;
            }
        });
    }

    const runner::TScriptReport report = runner::CheckScript(scriptPath);
    FUZZ_CHECK(report.Statements == statements,
               "input " + fuzzcheck::Shown(input) + "\nthe check counted " +
                   std::to_string(report.Statements) + " statements, the reader handed on " +
                   std::to_string(statements));
    // The file has at most this many lines; a finding may name the one after the last.
    const auto lines = static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n')) + 1;
    std::size_t previous = 1;
    for (const runner::TFinding& finding : report.Findings) {
        FUZZ_CHECK(finding.Line >= previous && finding.Line <= lines + 1,
                   "input " + fuzzcheck::Shown(input) + "\nfinding on line " +
                       std::to_string(finding.Line) + ": " + finding.Text);
        FUZZ_CHECK(!finding.Text.empty(), "a finding without text");
        previous = finding.Line;
    }
    return 0;
}

// The script reader: the file's line reading and the collection of statements at blank lines.
//
// Input: the bytes of a script file. Each input is written to a file that the real reader
// opens as the run's script (beside a made-up executable path), and the lines and statements
// it hands on are compared with the line rules applied to the whole converted text at once
// (DecodeScript; a script holding characters without a Windows-1251 form has failed
// statements, so only its lines and cuts are compared):
// a line ends at LF, every CR is dropped, Ctrl-Z ends the file, a last line without a break
// counts; a statement is the lines between the blank lines where the text collected so far is
// complete (the whole statement scanned anew at each blank line, against the reader's one
// scan), joined by CR LF, and one more (possibly empty) statement follows the last line; as
// long as every blank line ends a complete text, the statements are those of cutting at every
// blank line; the run hands on every statement but the paragraphs of comments only.
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzScratch.h"
#include "runner/RunnerContext.h"
#include "runner/ScriptReader.h"
#include "runner/ScriptText.h"
#include "runner/SqlTokenizer.h"
#include "tests/support/ScriptSplitting.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ExpectedLines(std::string_view text) {
    text = text.substr(0, text.find('\x1A'));
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        const bool last = lf == std::string_view::npos;
        if (last) {
            lf = text.size();
        }
        std::string line;
        for (const char c : text.substr(start, lf - start)) {
            if (c != '\r') {
                line += c;
            }
        }
        lines.push_back(std::move(line));
        start = lf + 1;
    }
    return lines;
}

std::string Describe(const std::vector<std::string>& list) {
    std::string text = std::to_string(list.size()) + " item(s):";
    for (std::size_t i = 0; i < list.size() && i < 20; ++i) {
        text += "\n  " + fuzzcheck::Shown(list[i]);
    }
    return text;
}

std::string Describe(const std::vector<testsupport::SplitStatement>& list) {
    std::string text = std::to_string(list.size()) + " statement(s):";
    for (std::size_t i = 0; i < list.size() && i < 20; ++i) {
        text += "\n  " + std::to_string(list[i].FirstLine) + ": " + fuzzcheck::Shown(list[i].Text);
    }
    return text;
}

bool CommentOnly(const std::string& statement) {
    runner::TSqlScanner scanner;
    scanner.Scan(statement);
    return !statement.empty() && scanner.Complete() && !scanner.HasCode();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    runner::RunnerContext context;
    context.ExecutablePath = fuzzcheck::ExecutableWithScript(input);
    const std::string scriptPath = runner::ScriptPath(context.ExecutablePath, "");

    const runner::TScriptText decoded = runner::DecodeScript(input);
    const std::vector<std::string> lines = ExpectedLines(decoded.Text);
    std::vector<std::string> read;
    {
        runner::TScriptFile file(scriptPath);
        std::string line;
        while (file.ReadLine(line)) {
            read.push_back(line);
        }
        FUZZ_CHECK(line.empty(), "ReadLine left text at the end of the file");
        FUZZ_CHECK(!file.ReadLine(line), "ReadLine went on after the end of the file");
    }
    FUZZ_CHECK(read == lines, "input " + fuzzcheck::Shown(input) + "\nread " + Describe(read) +
                                  "\nexpected " + Describe(lines));

    std::vector<testsupport::SplitStatement> cut;
    {
        runner::TScriptFile file(scriptPath);
        runner::ReadStatements(file, [&](const std::string& statement,
                                         const runner::TStatementShape& shape,
                                         const std::vector<runner::TUnconvertible>&) {
            cut.push_back({statement, shape.FirstLine});
            FUZZ_CHECK(shape.CommentOnly == CommentOnly(statement),
                       "comment-only wrong for " + fuzzcheck::Shown(statement));
        });
    }
    const std::vector<testsupport::SplitStatement> expected =
        testsupport::SplitAtBlankLines(lines, true);
    FUZZ_CHECK(cut == expected, "input " + fuzzcheck::Shown(input) + "\ngot " + Describe(cut) +
                                    "\nexpected " + Describe(expected));
    const std::vector<testsupport::SplitStatement> old =
        testsupport::SplitAtBlankLines(lines, false);
    const std::size_t prefix = testsupport::CompletePrefix(old);
    for (std::size_t i = 0; i < prefix && i < old.size(); ++i) {
        FUZZ_CHECK(i < cut.size() && cut[i] == old[i],
                   "input " + fuzzcheck::Shown(input) + "\nstatement " + std::to_string(i) +
                       " differs from cutting at every blank line although it is complete");
    }

    if (!decoded.Unconvertible.empty()) {
        return 0;
    }
    std::vector<std::string> statements;
    runner::RunScriptFile(context,
                          [&](const std::string& statement) { statements.push_back(statement); });
    std::vector<std::string> handed;
    for (const testsupport::SplitStatement& statement : expected) {
        if (!CommentOnly(statement.Text)) {
            handed.push_back(statement.Text);
        }
    }
    FUZZ_CHECK(!context.ErrorFlag, "the script could not be read");
    FUZZ_CHECK(statements == handed, "input " + fuzzcheck::Shown(input) + "\ngot " +
                                         Describe(statements) + "\nexpected " + Describe(handed));
    return 0;
}

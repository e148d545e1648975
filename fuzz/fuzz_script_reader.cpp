// The script reader: the file's line reading and the collection of statements at blank lines.
//
// Input: the bytes of a script file. Each input is written to a file that the real reader
// opens as the run's script (beside a made-up executable path), and the lines and statements
// it hands on are compared with the line rules applied to the whole converted text at once
// (DecodeScript; a script holding characters without a Windows-1251 form has failed
// statements, so only its lines are compared):
// a line ends at LF, every CR is dropped, Ctrl-Z ends the file, a last line without a break
// counts; a statement is the non-blank lines between blank ones joined by CR LF, and one more
// (possibly empty) statement follows the last line.
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzScratch.h"
#include "runner/RunnerContext.h"
#include "runner/ScriptReader.h"
#include "runner/ScriptText.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool IsBlankLine(std::string_view line) {
    for (const char c : line) {
        if (static_cast<unsigned char>(c) > 32) {
            return false;
        }
    }
    return true;
}

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

std::vector<std::string> ExpectedStatements(const std::vector<std::string>& lines) {
    std::vector<std::string> statements;
    std::string buffer;
    for (const std::string& line : lines) {
        if (IsBlankLine(line)) {
            statements.push_back(buffer);
            buffer.clear();
        } else {
            buffer += (buffer.empty() ? "" : "\r\n") + line;
        }
    }
    statements.push_back(buffer);
    return statements;
}

std::string Describe(const std::vector<std::string>& list) {
    std::string text = std::to_string(list.size()) + " item(s):";
    for (std::size_t i = 0; i < list.size() && i < 20; ++i) {
        text += "\n  " + fuzzcheck::Shown(list[i]);
    }
    return text;
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

    if (!decoded.Unconvertible.empty()) {
        return 0;
    }
    std::vector<std::string> statements;
    runner::RunScriptFile(context,
                          [&](const std::string& statement) { statements.push_back(statement); });
    const std::vector<std::string> expected = ExpectedStatements(lines);
    FUZZ_CHECK(!context.ErrorFlag, "the script could not be read");
    FUZZ_CHECK(statements == expected, "input " + fuzzcheck::Shown(input) + "\ngot " +
                                           Describe(statements) + "\nexpected " +
                                           Describe(expected));
    return 0;
}

// dbupgrade-check: finds an upgrade script's mistakes before it ships.
//
//   dbupgrade-check [--settings FILE] SCRIPT
//   dbupgrade-check --help | -h | --version
//
// Prints one line per finding ("FILE:LINE: error: TEXT" or "FILE:LINE: warning: TEXT"), the
// settings file's first, then the script's in script order, and one summary line. Exit code
// 0 without findings, 1 with at least one, 2 when a file cannot be read or the arguments are
// wrong (one line on standard error). Never connects to a database and never writes a file.
#include "platform/FormatSettings.h"
#include "platform/Process.h"
#include "runner/CommandLine.h"
#include "runner/ScriptCheck.h"
#include "runner/ScriptReader.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kClean = 0;
constexpr int kFindings = 1;
constexpr int kCannotCheck = 2;

constexpr const char* kUsage = "usage: dbupgrade-check [--settings FILE] SCRIPT";

int Fail(const std::string& message) {
    platform::WriteErrorStream("dbupgrade-check: " + message + "\n");
    return kCannotCheck;
}

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

struct Arguments {
    std::string settings;
    std::string script;
};

// Parses the command line; returns an exit code when the run ends here.
std::optional<int> ParseArguments(const std::vector<std::string>& argv, Arguments& arguments) {
    bool optionsEnded = false;
    bool haveScript = false;
    const std::size_t argc = argv.size();
    for (std::size_t i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && runner::TerminalRequest(arg) != runner::TTerminalRequest::None) {
            const std::string text = runner::TerminalRequest(arg) == runner::TTerminalRequest::Help
                                         ? runner::CheckUsage()
                                         : runner::VersionText("dbupgrade-check");
            std::fwrite(text.data(), 1, text.size(), stdout);
            return kClean;
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--settings") {
            if (i + 1 >= argc || argv[i + 1].empty()) {
                return Fail("--settings needs a file name");
            }
            arguments.settings = argv[++i];
        } else if (!optionsEnded && arg.starts_with("--settings=")) {
            arguments.settings = arg.substr(11);
            if (arguments.settings.empty()) {
                return Fail("--settings needs a file name");
            }
        } else if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
            return Fail("unknown option " + std::string(arg) + "; " + kUsage);
        } else if (haveScript) {
            return Fail("more than one script given; " + std::string(kUsage));
        } else {
            arguments.script = arg;
            haveScript = true;
        }
    }
    if (!haveScript || arguments.script.empty()) {
        return Fail(std::string("no script given; ") + kUsage);
    }
    return std::nullopt;
}

int Check(const Arguments& arguments) {
    std::vector<runner::TFinding> settingsFindings;
    if (!arguments.settings.empty()) {
        auto findings = runner::CheckSettings(arguments.settings);
        if (!findings) {
            return Fail(arguments.settings + ": the settings file cannot be read");
        }
        settingsFindings = std::move(*findings);
    }
    runner::TScriptReport report;
    try {
        report = runner::CheckScript(arguments.script);
    } catch (const platform::EInOutError& error) {
        return Fail(arguments.script + ": " + error.Message());
    }

    std::size_t errors = 0;
    std::size_t warnings = 0;
    const auto print = [&](const std::string& file, const std::vector<runner::TFinding>& list) {
        for (const runner::TFinding& finding : list) {
            (finding.Severity == runner::TSeverity::Error ? errors : warnings) += 1;
            Print(runner::FormatFinding(file, finding));
        }
    };
    print(arguments.settings, settingsFindings);
    print(arguments.script, report.Findings);
    Print(runner::FormatSummary(report.Statements, errors, warnings));
    return errors + warnings == 0 ? kClean : kFindings;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        Arguments arguments;
        if (const std::optional<int> end =
                ParseArguments(platform::CommandLineArguments(argc, argv), arguments)) {
            return *end;
        }
        // Numbers and dates are written the way the runner writes them on this machine.
        platform::LoadFormatSettings();
        const int code = Check(arguments);
        if (std::fflush(stdout) != 0) {
            return Fail("standard output cannot be written");
        }
        return code;
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
}

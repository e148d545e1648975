// dbupgrade: the unattended database upgrade runner's entry point. Runs the main sequence;
// an error that escapes it sets SetupStatus to "Cancel", is reported as one line on the
// error output and ends the process with exit code 1. An orderly end prints nothing. A person
// at a terminal gets the usage (--help, -h) or the version (--version) on standard output, and
// a program without a settings file in a folder it may not write is refused (one line on the
// error output, exit code 2), both without touching any file.
#include "ibclient/Cancel.h"
#include "platform/FormatSettings.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/StopSignals.h"
#include "runner/CommandLine.h"
#include "runner/Runner.h"
#include "runner/RunnerContext.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kRefused = 2;

std::string ModuleName(const std::string& executablePath) {
    return executablePath.empty()
               ? "dbupgrade"
               : executablePath.substr(platform::ExtractFilePath(executablePath).size());
}

// The report of an escaped error goes to standard error when there is one (a program that
// opens no window may have none); never to a message box.
int ReportEscapedError(const runner::RunnerContext& context, const std::exception& error) {
    runner::WriteCancelAfterEscapedError(context);
    try {
        platform::WriteErrorStream(
            runner::UnhandledErrorReport(error, ModuleName(context.ExecutablePath)));
    } catch (...) {
        platform::WriteErrorStream("Exception in module dbupgrade\n");
    }
    return 1;
}

// Shuts the client library down in order when main returns, after everything that used it is
// released: the exit that follows then finds none of the library's threads running.
struct ClientLibraryShutdown {
    ClientLibraryShutdown() = default;
    ~ClientLibraryShutdown() { ibclient::ShutdownClientLibrary(); }
    ClientLibraryShutdown(const ClientLibraryShutdown&) = delete;
    ClientLibraryShutdown& operator=(const ClientLibraryShutdown&) = delete;
};

} // namespace

int main(int argc, char** argv) {
    // Before anything else, and so before any thread exists: SIGTERM and SIGINT are the run's.
    platform::BlockStopSignals();
    const ClientLibraryShutdown shutdown;
    runner::RunnerContext context;
    try {
        const std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
        const std::string firstArgument = arguments.size() > 1 ? arguments[1] : "";
        if (const runner::TTerminalRequest request = runner::TerminalRequest(firstArgument);
            request != runner::TTerminalRequest::None) {
            const std::string text = request == runner::TTerminalRequest::Help
                                         ? runner::RunnerUsage()
                                         : runner::VersionText("dbupgrade");
            std::fwrite(text.data(), 1, text.size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        context.ExecutablePath =
            platform::ExecutableFullPath(arguments.empty() ? "" : arguments.front());
        context.FirstArgument = firstArgument;
        if (const std::optional<std::string> refusal =
                runner::SetupFolderRefusal(context.ExecutablePath)) {
            platform::WriteErrorStream(ModuleName(context.ExecutablePath) + ": " + *refusal + "\n");
            return kRefused;
        }
        platform::LoadFormatSettings();
        return runner::RunMainSequence(context);
    } catch (const std::exception& error) {
        return ReportEscapedError(context, error);
    } catch (...) {
        return ReportEscapedError(context, std::bad_exception());
    }
}

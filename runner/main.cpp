// dbupgrade: the unattended database upgrade runner's entry point. Runs the main sequence;
// an error that escapes it sets SetupStatus to "Cancel", is reported as one line on the
// error output and ends the process with exit code 1. An orderly end prints nothing. A person
// at a terminal gets the usage (--help, -h) or the version (--version) on standard output, and
// a program without a settings file in a folder it may not write is refused (one line on the
// error output, exit code 2), both without touching any file.
#include "ibclient/Cancel.h"
#include "ibclient/FormatSettings.h"
#include "runner/CommandLine.h"
#include "runner/Paths.h"
#include "runner/Runner.h"
#include "runner/RunnerContext.h"
#include "runner/StopSignals.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

namespace {

constexpr int kRefused = 2;

std::string ModuleName(const std::string& executablePath) {
    const std::size_t slash = executablePath.rfind('/');
    return executablePath.empty() ? "dbupgrade" : executablePath.substr(slash + 1);
}

void Write(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

int ReportEscapedError(const runner::RunnerContext& context, const std::exception& error) {
    runner::WriteCancelAfterEscapedError(context);
    try {
        Write(stderr, runner::UnhandledErrorReport(error, ModuleName(context.ExecutablePath)));
    } catch (...) {
        std::fputs("Exception in module dbupgrade\n", stderr);
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
    runner::BlockStopSignals();
    const ClientLibraryShutdown shutdown;
    runner::RunnerContext context;
    try {
        const std::string firstArgument = argc > 1 ? argv[1] : "";
        if (const runner::TTerminalRequest request = runner::TerminalRequest(firstArgument);
            request != runner::TTerminalRequest::None) {
            Write(stdout, request == runner::TTerminalRequest::Help
                              ? runner::RunnerUsage()
                              : runner::VersionText("dbupgrade"));
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        context.ExecutablePath = runner::ExecutableFullPath(argc > 0 ? argv[0] : "");
        context.FirstArgument = firstArgument;
        if (const std::optional<std::string> refusal =
                runner::SetupFolderRefusal(context.ExecutablePath)) {
            Write(stderr, ModuleName(context.ExecutablePath) + ": " + *refusal + "\n");
            return kRefused;
        }
        ibclient::LoadFormatSettings();
        return runner::RunMainSequence(context);
    } catch (const std::exception& error) {
        return ReportEscapedError(context, error);
    } catch (...) {
        return ReportEscapedError(context, std::bad_exception());
    }
}

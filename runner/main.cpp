// dbupgrade: the unattended database upgrade runner's entry point. Runs the main sequence;
// an error that escapes it sets SetupStatus to "Cancel", is reported as one line on the
// error output and ends the process with exit code 1. An orderly end prints nothing.
#include "ibclient/FormatSettings.h"
#include "runner/Paths.h"
#include "runner/Runner.h"
#include "runner/RunnerContext.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

std::string ModuleName(const std::string& executablePath) {
    const std::size_t slash = executablePath.rfind('/');
    return executablePath.empty() ? "dbupgrade" : executablePath.substr(slash + 1);
}

int ReportEscapedError(const runner::RunnerContext& context, const std::exception& error) {
    runner::WriteCancelAfterEscapedError(context);
    try {
        const std::string report =
            runner::UnhandledErrorReport(error, ModuleName(context.ExecutablePath));
        std::fwrite(report.data(), 1, report.size(), stderr);
    } catch (...) {
        std::fputs("Exception in module dbupgrade\n", stderr);
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    runner::RunnerContext context;
    try {
        context.ExecutablePath = runner::ExecutableFullPath(argc > 0 ? argv[0] : "");
        context.FirstArgument = argc > 1 ? argv[1] : "";
        ibclient::LoadFormatSettings();
        return runner::RunMainSequence(context);
    } catch (const std::exception& error) {
        return ReportEscapedError(context, error);
    } catch (...) {
        return ReportEscapedError(context, std::bad_exception());
    }
}

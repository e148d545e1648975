// The usage and version texts of the two programs, and the refusal of an unfit folder.
#include "runner/CommandLine.h"

#include "platform/Paths.h"

#ifndef DBU_VERSION
#error "DBU_VERSION must name the project's version"
#endif

namespace runner {

TTerminalRequest TerminalRequest(std::string_view argument) noexcept {
    if (argument == "--help" || argument == "-h") {
        return TTerminalRequest::Help;
    }
    if (argument == "--version") {
        return TTerminalRequest::Version;
    }
    return TTerminalRequest::None;
}

std::string VersionText(std::string_view program) {
    return std::string(program) + " " + DBU_VERSION + "\n";
}

std::string RunnerUsage() {
    return "usage: dbupgrade [SCRIPT.sql]\n"
           "Applies one SQL upgrade script to every database named in its settings file and\n"
           "records the outcome there as SetupStatus (Continue or Cancel). It reads and writes\n"
           "the files beside the path it was started by (NAME is that path without its\n"
           "extension):\n"
           "  NAME.ini  settings: [General], [Database] (one database per key), [Common]\n"
           "  NAME.sql  the script, unless SCRIPT.sql is given\n"
           "  NAME.log  the log\n"
           "Link or copy the program into the setup's folder, beside its settings file and\n"
           "script, and start it there; an example of both is in /usr/share/dbupgrade/.\n"
           "Exit code 0 when the run ended in order (SetupStatus tells its outcome), 1 when it\n"
           "did not, 2 when no settings file is beside a program in a folder it may not write.\n"
           "  -h, --help  this text\n"
           "  --version   the version\n"
           "See the manual page dbupgrade(1).\n";
}

std::string CheckUsage() {
    return "usage: dbupgrade-check [--settings FILE] SCRIPT\n"
           "Checks an upgrade script of dbupgrade, and with --settings its settings file,\n"
           "before it ships: one line per finding (FILE:LINE: error|warning: TEXT), then a\n"
           "summary. It never connects to a database and writes no file.\n"
           "Exit code 0 without findings, 1 with at least one, 2 when a file cannot be read or\n"
           "the arguments are wrong.\n"
           "  -h, --help  this text\n"
           "  --version   the version\n"
           "See the manual page dbupgrade-check(1).\n";
}

std::optional<std::string> SetupFolderRefusal(const std::string& executablePath) {
    const std::string settings = platform::ChangeFileExt(executablePath, ".ini");
    if (platform::PathExists(settings) || !platform::UnfitProgramFolder(executablePath)) {
        return std::nullopt;
    }
    return "no settings file " + settings +
           ": the settings file must be beside the program, named after the path it is started "
           "by, in a folder where it may write its log; link or copy the program into the "
           "setup's folder, beside its settings file and script (see dbupgrade(1))";
}

}  // namespace runner

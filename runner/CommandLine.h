// What a person at a terminal asks of the two programs: their usage (--help, -h) and their
// version (--version), answered on standard output without touching any file; and the refusal
// of a program started where it has no settings file and may not keep its files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace runner {

enum class TTerminalRequest { None, Help, Version };

// The request that command-line argument `argument` makes: exactly "--help" or "-h" asks for
// the usage, exactly "--version" for the version; anything else is no request (for dbupgrade
// a script path or nothing, which starts a run as always).
TTerminalRequest TerminalRequest(std::string_view argument) noexcept;

// "<program> <version>", the project's version.
std::string VersionText(std::string_view program);

// The usage of dbupgrade: where its files are, what it does, its exit codes, the manual page.
std::string RunnerUsage();

// The usage of dbupgrade-check: its arguments, what it does, its exit codes, the manual page.
std::string CheckUsage();

// Why the program at `executablePath` (absolute) must not run, as one line without its line
// feed; nullopt when it may. It must not when no settings file is beside it (the path with
// ".ini") and its folder is no place for its files (platform::UnfitProgramFolder: a system
// folder, or one the process may not write). Anything else, a setup folder among them, runs as
// always.
std::optional<std::string> SetupFolderRefusal(const std::string& executablePath);

}  // namespace runner

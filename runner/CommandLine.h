// What a person at a terminal asks of the two programs: their usage (--help, -h) and their
// version (--version), answered on standard output without touching any file.
#pragma once

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

}  // namespace runner

// The process: its command line as UTF-8 and its standard error stream, which a program that
// opens no window (the Windows GUI-subsystem build) may or may not have been given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The command line as UTF-8, the program's own name first. POSIX: `argv` as it is. Windows:
// read again from the wide command line, since `argv` holds it in the active code page and
// loses every character that page lacks.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Whether the process has a standard error stream that text can be written to.
bool HasErrorStream() noexcept;

// Writes `text` (UTF-8) to the standard error stream as it is: POSIX through stderr; Windows
// as UTF-16 to a console and as the UTF-8 bytes to a file or pipe. False when there is no such
// stream or the write failed. Never shows a message box.
bool WriteErrorStream(std::string_view text) noexcept;

}  // namespace platform

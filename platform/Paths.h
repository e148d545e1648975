// File-name helpers: the executable's own path, the separators of path components, and the
// extension of a path's last component (the settings, log and script files are all named after
// the executable).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// True for a character that separates path components: "/" on POSIX, "\" and "/" on Windows.
bool IsPathSeparator(char c) noexcept;

// The extension of the last path component: from its last "." to the end, empty when the
// component holds no ".". Dots in folder names do not count.
std::string_view ExtractFileExt(std::string_view path) noexcept;

// `path` with its extension (as ExtractFileExt sees it) replaced by `extension`, which is
// appended when the path has none. `extension` includes its leading ".".
std::string ChangeFileExt(std::string_view path, std::string_view extension);

// The folder part of `path` including its last separator ("/opt/app/" for "/opt/app/x");
// empty when the path has no separator.
std::string ExtractFilePath(std::string_view path);

// The executable's full path as the program was started, so that a link in a setup folder
// finds the files beside the link, not those beside the file it points to.
// POSIX: `startedAs` is the first element of the command line. When it holds a "/", it is that
// path made absolute against the current folder ("." components dropped, nothing resolved);
// without a "/", the first folder of PATH that holds it. Either must name the running
// program's file; otherwise, and when it is empty, the path is read from /proc/self/exe (links
// resolved).
// Windows: the module's own path (GetModuleFileNameW); `startedAs` is not used.
// Raises platform::Exception when no path can be had.
std::string ExecutableFullPath(std::string_view startedAs);

}  // namespace platform

// File-name helpers: the executable's own path, the separators of path components, and the
// extension of a path's last component (the settings, log and script files are all named after
// the executable).
#pragma once

#include <optional>
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

// Whether anything (a file, a folder, a link even when dangling) exists at `path`.
bool PathExists(const std::string& path);

// The place where the program at `executablePath` keeps the files named after it, when that is
// no place for them: "a system folder" for a folder of the operating system itself (POSIX: /,
// /bin, /sbin, /lib*, /etc, /boot, /dev, /proc, /sys, /run, or /usr or any folder in it;
// Windows: the Windows folder and everything in it), "a folder it may not write" for one where
// the process may not create files (POSIX: faccessat with the effective IDs; Windows: a trial
// file, created and deleted at once); nullopt for a folder fit for them.
std::optional<std::string> UnfitProgramFolder(const std::string& executablePath);

}  // namespace platform

// File-name helpers of the runner: the executable's own path, the extension of a path's last
// component and replacing it (the settings, log and script files are all named after the
// executable).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace runner {

// The extension of the last path component: from its last "." to the end, empty when the
// component holds no ".". Dots in folder names do not count.
std::string_view ExtractFileExt(std::string_view path) noexcept;

// `path` with its extension (as ExtractFileExt sees it) replaced by `extension`, which is
// appended when the path has none. `extension` includes its leading ".".
std::string ChangeFileExt(std::string_view path, std::string_view extension);

// The executable's full path as the program was started, so that a symbolic link in a setup
// folder finds the files beside the link, not those beside the file it points to.
// `startedAs` is the first element of the command line. When it holds a "/", it is that path
// made absolute against the current folder ("." components dropped, nothing resolved); without
// a "/", the first folder of PATH that holds it. Either must name the running program's file;
// otherwise, and when it is empty, the path is read from /proc/self/exe (links resolved).
// Raises ibclient::Exception when none of them gives a path.
std::string ExecutableFullPath(std::string_view startedAs);

// Why the program at `executablePath` (absolute) must not run, as one line without its line
// feed; nullopt when it may. It must not when no settings file is beside it (the path with
// ".ini") and its folder is no place for its files: a system folder (/, /bin, /sbin, /lib*,
// /etc, /boot, /dev, /proc, /sys, /run, or /usr or any folder in it), or a folder the process
// may not write. Anything else, a setup folder among them, runs as always.
std::optional<std::string> SetupFolderRefusal(const std::string& executablePath);

} // namespace runner

// File-name helpers of the runner: the extension of a path's last component and replacing it
// (the settings, log and script files are all named after the executable).
#pragma once

#include <string>
#include <string_view>

namespace runner {

// The extension of the last path component: from its last "." to the end, empty when the
// component holds no ".". Dots in folder names do not count.
std::string_view ExtractFileExt(std::string_view path) noexcept;

// `path` with its extension (as ExtractFileExt sees it) replaced by `extension`, which is
// appended when the path has none. `extension` includes its leading ".".
std::string ChangeFileExt(std::string_view path, std::string_view extension);

} // namespace runner

// File-name helpers of the runner.
#include "runner/Paths.h"

namespace runner {

namespace {

// Position of the extension's "." in `path`, or npos when the last component has none.
std::size_t ExtensionStart(std::string_view path) noexcept {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos) {
        return dot;
    }
    const std::size_t slash = path.rfind('/');
    if (slash != std::string_view::npos && slash > dot) {
        return std::string_view::npos;
    }
    return dot;
}

} // namespace

std::string_view ExtractFileExt(std::string_view path) noexcept {
    const std::size_t dot = ExtensionStart(path);
    return dot == std::string_view::npos ? std::string_view{} : path.substr(dot);
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
    std::string result(path.substr(0, ExtensionStart(path)));
    result += extension;
    return result;
}

} // namespace runner

// The extension and folder of a path; the separators come from the system's implementation.
#include "platform/Paths.h"

namespace platform {

namespace {

// Position of the last separator in `path`, or npos.
std::size_t LastSeparator(std::string_view path) noexcept {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsPathSeparator(path[i - 1])) {
            return i - 1;
        }
    }
    return std::string_view::npos;
}

// Position of the extension's "." in `path`, or npos when the last component has none.
std::size_t ExtensionStart(std::string_view path) noexcept {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos) {
        return dot;
    }
    const std::size_t separator = LastSeparator(path);
    if (separator != std::string_view::npos && separator > dot) {
        return std::string_view::npos;
    }
    return dot;
}

}  // namespace

std::string_view ExtractFileExt(std::string_view path) noexcept {
    const std::size_t dot = ExtensionStart(path);
    return dot == std::string_view::npos ? std::string_view{} : path.substr(dot);
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
    std::string result(path.substr(0, ExtensionStart(path)));
    result += extension;
    return result;
}

std::string ExtractFilePath(std::string_view path) {
    const std::size_t separator = LastSeparator(path);
    return separator == std::string_view::npos ? std::string()
                                               : std::string(path.substr(0, separator + 1));
}

}  // namespace platform

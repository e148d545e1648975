// The executable's own path on Windows: GetModuleFileNameW.
#include "platform/Paths.h"

#include "platform/Errors.h"
#include "platform/windows/WindowsText.h"

namespace platform {

bool IsPathSeparator(char c) noexcept {
    return c == '\\' || c == '/';
}

std::string ExecutableFullPath(std::string_view /*startedAs*/) {
    // The path may be longer than MAX_PATH (up to 32767 characters with a \\?\ prefix).
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            throw Exception("Unable to read the executable's path: " +
                            windows::SystemErrorText(GetLastError()));
        }
        if (length < path.size()) {
            path.resize(length);
            return windows::Narrow(path);
        }
        if (path.size() >= 65536) {
            throw Exception("Unable to read the executable's path: it is too long");
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace platform

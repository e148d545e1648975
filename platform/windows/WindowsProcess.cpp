// The process on Windows: the wide command line, and a standard error stream that a
// GUI-subsystem program has only when its starter handed one over.
#include "platform/Process.h"

#include "platform/CodePage.h"
#include "platform/windows/WindowsText.h"

#include <shellapi.h>

#include <algorithm>

namespace platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    int count = 0;
    if (wchar_t** const wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) {
            arguments.push_back(windows::Narrow(wide[i]));
        }
        LocalFree(wide);
        return arguments;
    }
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(ActiveCodePageToUtf8(argv[i] != nullptr ? argv[i] : ""));
    }
    return arguments;
}

namespace {

// The standard error handle when it leads anywhere; null when not.
HANDLE ErrorHandle() noexcept {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    SetLastError(NO_ERROR);
    if (GetFileType(handle) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) {
        return nullptr;
    }
    return handle;
}

}  // namespace

bool HasErrorStream() noexcept {
    return ErrorHandle() != nullptr;
}

bool WriteErrorStream(std::string_view text) noexcept {
    const HANDLE handle = ErrorHandle();
    if (handle == nullptr) {
        return false;
    }
    try {
        DWORD mode = 0;
        if (GetConsoleMode(handle, &mode)) {
            const std::wstring wide = windows::Wide(text);
            DWORD written = 0;
            return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                                 nullptr) != 0 &&
                   written == wide.size();
        }
    } catch (...) {
        return false;
    }
    while (!text.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
        if (!WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        text.remove_prefix(written);
    }
    return true;
}

}  // namespace platform

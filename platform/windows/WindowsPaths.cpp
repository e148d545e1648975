// The executable's own path on Windows (GetModuleFileNameW) and what its folder is.
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

bool PathExists(const std::string& path) {
    return GetFileAttributesW(windows::Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// The Windows folder with a separator at its end, in upper case; empty when unknown.
std::wstring WindowsFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    std::wstring folder(buffer, length);
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
    return folder;
}

}  // namespace

std::optional<std::string> UnfitProgramFolder(const std::string& executablePath) {
    std::wstring folder = windows::Wide(ExtractFilePath(executablePath));
    if (folder.empty()) {
        folder = L".\\";
    }
    std::wstring upper = folder;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    if (const std::wstring system = WindowsFolder(); !system.empty() && upper.starts_with(system)) {
        return "a system folder";
    }
    // Whether a file may be created there is the folder's ACL, its read-only state and the
    // medium's: a trial file answers all of them. It never outlives its handle.
    const std::wstring trial =
        folder + L"dbupgrade-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    const windows::FileHandle file(CreateFileW(trial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                               nullptr));
    if (!file.IsValid() && GetLastError() != ERROR_FILE_EXISTS) {
        return "a folder it may not write";
    }
    return std::nullopt;
}

}  // namespace platform

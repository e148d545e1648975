// The run lock on Windows: a named mutex, which exists as long as a process holds a handle of
// it. Named in the Global namespace, so that a run in another session (an installer started
// elevated, a service) sees it too.
#include "platform/RunLock.h"

#include "platform/Errors.h"
#include "platform/Text.h"
#include "platform/windows/WindowsText.h"

namespace platform {

namespace {

using windows::FileHandle;
using windows::Narrow;
using windows::Wide;

// The final path of an existing file or folder (links resolved, letter case as on disk);
// empty when it cannot be opened.
std::wstring FinalPath(const std::wstring& path) {
    const FileHandle file(CreateFileW(path.c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.IsValid()) {
        return {};
    }
    const DWORD size = GetFinalPathNameByHandleW(file.Get(), nullptr, 0, FILE_NAME_NORMALIZED);
    if (size == 0) {
        return {};
    }
    std::wstring final(size, L'\0');
    const DWORD length =
        GetFinalPathNameByHandleW(file.Get(), final.data(), size, FILE_NAME_NORMALIZED);
    final.resize(length < size ? length : 0);
    return final;
}

// `path` made absolute, links resolved (for a file that does not exist yet: its folder's), in
// upper case, since Windows file names do not tell letter case apart.
std::string CanonicalPath(const std::string& path) {
    std::wstring full = Wide(path);
    if (const DWORD size = GetFullPathNameW(full.c_str(), 0, nullptr, nullptr); size > 0) {
        std::wstring buffer(size, L'\0');
        const DWORD length = GetFullPathNameW(full.c_str(), size, buffer.data(), nullptr);
        if (length > 0 && length < size) {
            buffer.resize(length);
            full = buffer;
        }
    }
    std::wstring canonical = FinalPath(full);
    if (canonical.empty()) {
        const std::size_t separator = full.find_last_of(L"\\/");
        const std::wstring folder =
            separator == std::wstring::npos ? std::wstring() : FinalPath(full.substr(0, separator));
        canonical = folder.empty() ? full : folder + full.substr(separator);
    }
    if (!canonical.empty()) {
        CharUpperBuffW(canonical.data(), static_cast<DWORD>(canonical.size()));
    }
    return Narrow(canonical);
}

}  // namespace

std::optional<RunLock> RunLock::TryAcquire(const std::string& path) {
    const std::wstring name = L"Global\\dbupgrade-run-" + Wide(HexHash(CanonicalPath(path)));
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (mutex == nullptr) {
        // Another user's run made it, and its default security keeps this user out.
        if (error == ERROR_ACCESS_DENIED) {
            return std::nullopt;
        }
        throw Exception("the lock of this setup's runs cannot be made: " +
                        windows::SystemErrorText(error));
    }
    RunLock lock(reinterpret_cast<std::intptr_t>(mutex));
    if (error == ERROR_ALREADY_EXISTS) {
        return std::nullopt;
    }
    return lock;
}

void RunLock::Release() noexcept {
    if (handle_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
        handle_ = -1;
    }
}

}  // namespace platform

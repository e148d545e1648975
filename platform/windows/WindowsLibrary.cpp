// Libraries loaded with LoadLibraryExW, and where the client library is looked for on Windows:
// beside the program, in the Firebird instance its installer registered, in the system folder;
// never in the current folder, where anyone may have planted a DLL of the same name.
#include "platform/Library.h"

#include "platform/Paths.h"
#include "platform/windows/WindowsText.h"

#include <cstring>

namespace platform {

namespace {

using windows::Narrow;
using windows::Wide;

// Where Firebird's Windows installer records its installation (the 64-bit view of the
// registry for this 64-bit program; a 32-bit Firebird could not be loaded anyway).
constexpr const wchar_t* kInstancesKey = L"SOFTWARE\\Firebird Project\\Firebird Server\\Instances";
constexpr const wchar_t* kDefaultInstance = L"DefaultInstance";

// No message box for a library or one of its dependencies that cannot be loaded, for as long
// as this object lives on this thread.
class QuietErrorMode {
public:
    QuietErrorMode() noexcept {
        SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_);
    }
    ~QuietErrorMode() { SetThreadErrorMode(previous_, nullptr); }
    QuietErrorMode(const QuietErrorMode&) = delete;
    QuietErrorMode& operator=(const QuietErrorMode&) = delete;

private:
    DWORD previous_ = 0;
};

std::wstring FullPath(const std::wstring& path) {
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return path;
    }
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    full.resize(written < length ? written : 0);
    return full.empty() ? path : full;
}

std::wstring SystemFolder() {
    std::wstring folder(MAX_PATH, L'\0');
    const UINT length = GetSystemDirectoryW(folder.data(), MAX_PATH);
    folder.resize(length < MAX_PATH ? length : 0);
    return folder;
}

bool HasSeparator(std::string_view name) {
    for (const char c : name) {
        if (IsPathSeparator(c)) {
            return true;
        }
    }
    return false;
}

// The install folder of the registered Firebird instance, with a trailing "\"; empty when
// none is registered.
std::string RegisteredFirebirdFolder() {
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kInstancesKey, kDefaultInstance, RRF_RT_REG_SZ, nullptr,
                     nullptr, &size) != ERROR_SUCCESS ||
        size < sizeof(wchar_t)) {
        return {};
    }
    std::wstring folder(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kInstancesKey, kDefaultInstance, RRF_RT_REG_SZ, nullptr,
                     folder.data(), &size) != ERROR_SUCCESS) {
        return {};
    }
    folder.resize(wcsnlen(folder.c_str(), folder.size()));
    if (folder.empty()) {
        return {};
    }
    std::string result = Narrow(folder);
    if (!IsPathSeparator(result.back())) {
        result += '\\';
    }
    return result;
}

}  // namespace

Library Library::Load(const std::string& name) {
    Library library;
    const QuietErrorMode quiet;
    HMODULE module = nullptr;
    if (HasSeparator(name)) {
        // From exactly that file; what it depends on from its own folder or the system folder.
        const std::wstring path = FullPath(Wide(name));
        module = LoadLibraryExW(path.c_str(), nullptr,
                                LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
            // A system without the LOAD_LIBRARY_SEARCH flags (Windows 7 before KB2533623).
            module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    } else {
        module = LoadLibraryExW(Wide(name).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
            const std::wstring path = SystemFolder() + L"\\" + Wide(name);
            module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    if (module == nullptr) {
        library.error_ = windows::SystemErrorText(GetLastError());
    }
    library.handle_ = module;
    return library;
}

void* Library::Symbol(const char* name) {
    if (handle_ == nullptr) {
        error_ = "no library loaded";
        return nullptr;
    }
    const FARPROC procedure = GetProcAddress(static_cast<HMODULE>(handle_), name);
    if (procedure == nullptr) {
        error_ = windows::SystemErrorText(GetLastError());
        return nullptr;
    }
    void* symbol = nullptr;
    static_assert(sizeof symbol == sizeof procedure);
    std::memcpy(&symbol, &procedure, sizeof symbol);
    return symbol;
}

void Library::Release() noexcept {
    if (handle_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

std::vector<std::string> ClientLibraryCandidates() {
    if (const DWORD size = GetEnvironmentVariableW(L"DBU_CLIENT_LIBRARY", nullptr, 0); size > 1) {
        std::wstring override(size, L'\0');
        const DWORD length = GetEnvironmentVariableW(L"DBU_CLIENT_LIBRARY", override.data(), size);
        if (length > 0 && length < size) {
            override.resize(length);
            return {Narrow(override)};
        }
    }
    std::vector<std::string> candidates;
    try {
        const std::string folder = ExtractFilePath(ExecutableFullPath(""));
        if (!folder.empty()) {
            candidates.push_back(folder + "fbclient.dll");
            candidates.push_back(folder + "gds32.dll");
        }
    } catch (...) {
        // No own folder to look in.
    }
    if (const std::string firebird = RegisteredFirebirdFolder(); !firebird.empty()) {
        candidates.push_back(firebird + "fbclient.dll");
        candidates.push_back(firebird + "bin\\fbclient.dll");
    }
    candidates.push_back("fbclient.dll");
    candidates.push_back("gds32.dll");
    return candidates;
}

void PrepareForClientLibrary() {
    // Libraries that the client library loads later by bare name must not come from the
    // current folder either.
    SetDllDirectoryW(L"");
}

}  // namespace platform

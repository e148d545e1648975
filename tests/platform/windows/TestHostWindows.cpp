// The Windows part of the platform tests' set-up: child processes with CreateProcessW and a
// command line quoted as the C runtime reads it, the environment, the user's locale.
#include "tests/platform/TestHost.h"

#include <windows.h>

namespace platformtest {

namespace {

std::wstring Wide(const std::string& utf8) {
    return Fs(utf8).wstring();
}

// One argument as CommandLineToArgvW and the C runtime read it back.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring out = L"\"";
    for (auto it = argument.begin();; ++it) {
        std::size_t backslashes = 0;
        while (it != argument.end() && *it == L'\\') {
            ++it;
            ++backslashes;
        }
        if (it == argument.end()) {
            out.append(backslashes * 2, L'\\');
            break;
        }
        out.append(*it == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        out += *it;
    }
    out += L'"';
    return out;
}

}  // namespace

Child::Child(const std::string& program, const std::vector<std::string>& arguments,
             ErrorStream error, const std::string& errorFile) {
    std::wstring commandLine = Quoted(Wide(program));
    for (const std::string& argument : arguments) {
        commandLine += L" " + Quoted(Wide(argument));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    HANDLE errorHandle = nullptr;
    if (error != ErrorStream::Inherited) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        if (error == ErrorStream::ToFile) {
            SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
            errorHandle = CreateFileW(Wide(errorFile).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            startup.hStdError = errorHandle;
        }
    }
    PROCESS_INFORMATION process{};
    if (CreateProcessW(Wide(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                       nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        process_ = reinterpret_cast<std::intptr_t>(process.hProcess);
    }
    if (errorHandle != nullptr && errorHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(errorHandle);
    }
}

Child::~Child() {
    Wait();
}

int Child::Wait() {
    if (!waited_ && process_ != -1) {
        waited_ = true;
        const auto process = reinterpret_cast<HANDLE>(process_);
        DWORD code = 0;
        if (WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process, &code)) {
            exitCode_ = static_cast<int>(code);
        }
        CloseHandle(process);
    }
    return exitCode_;
}

std::string SelfPath() {
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    return Utf8(std::filesystem::path(std::wstring(path, length)));
}

void SetEnvironment(const std::string& name, const std::string& value) {
    SetEnvironmentVariableW(Wide(name).c_str(), value.empty() ? nullptr : Wide(value).c_str());
}

RussianRegionalSettings::RussianRegionalSettings() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    active_ = GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) > 0 &&
              std::wstring(name) == L"ru-RU";
}

RussianRegionalSettings::~RussianRegionalSettings() = default;

std::string ClientLibraryFileName() {
    return "fbclient.dll";
}

std::string SystemFolder() {
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return Utf8(std::filesystem::path(std::wstring(path, length)));
}

}  // namespace platformtest

// UTF-8 and UTF-16 at the Windows API's edge, system error texts, file handles.
#include "platform/windows/WindowsText.h"

#include "platform/Unicode.h"

#include <cstring>

namespace platform::windows {

std::wstring Wide(std::string_view utf8) {
    const std::string units = Utf8ToUtf16(utf8, ByteOrder::LittleEndian);
    std::wstring wide(units.size() / 2, L'\0');
    std::memcpy(wide.data(), units.data(), units.size());
    return wide;
}

std::string Narrow(std::wstring_view utf16) {
    return Utf16ToUtf8(std::string_view(reinterpret_cast<const char*>(utf16.data()),
                                        utf16.size() * sizeof(wchar_t)),
                       ByteOrder::LittleEndian);
}

std::string SystemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer != nullptr ? buffer : L"", length);
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    return text.empty() ? "System error " + std::to_string(code) : Narrow(text);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Reset();
        handle_ = other.Release();
    }
    return *this;
}

HANDLE FileHandle::Release() noexcept {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
}

void FileHandle::Reset() noexcept {
    if (IsValid()) {
        CloseHandle(handle_);
    }
    handle_ = INVALID_HANDLE_VALUE;
}

}  // namespace platform::windows

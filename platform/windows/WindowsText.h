// The Windows side's edge: UTF-8 texts of the interface as the UTF-16 the wide API takes and
// back (lone surrogates of a file name survive the round trip), and the system's error texts.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace platform::windows {

std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// FormatMessageW's text of a system error code, without the line break at its end; the code
// as a number when the system has no text for it.
std::string SystemErrorText(DWORD code);

// Owns one HANDLE of a file (not one of the standard handles); closed when destroyed.
class FileHandle {
public:
    FileHandle() noexcept = default;
    explicit FileHandle(HANDLE handle) noexcept : handle_(handle) {}
    FileHandle(FileHandle&& other) noexcept : handle_(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { Reset(); }

    HANDLE Get() const noexcept { return handle_; }
    bool IsValid() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Release() noexcept;
    void Reset() noexcept;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace platform::windows

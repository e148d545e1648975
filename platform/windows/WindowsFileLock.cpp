// File locks on Windows: LockFileEx on one byte far beyond any content. Windows byte-range
// locks are mandatory, so a lock on the content would keep readers out; a lock past the end
// keeps out only those who ask for the same byte.
#include "platform/FileLock.h"

#include "platform/Errors.h"
#include "platform/windows/WindowsText.h"

#include <algorithm>
#include <thread>

namespace platform {

using windows::FileHandle;
using windows::Wide;

namespace {

constexpr auto kLockRetryPause = std::chrono::milliseconds(1);

// The locked bytes: one for the appenders of a log, another for the holder of a run's lock.
constexpr DWORD kLockOffsetHigh = 0x40000000;
constexpr DWORD kAppendLockOffsetLow = 0;
constexpr DWORD kRunLockOffsetLow = 1;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool TryLockByte(HANDLE file, DWORD offsetLow) {
    OVERLAPPED at{};
    at.Offset = offsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void UnlockByte(HANDLE file, DWORD offsetLow) {
    OVERLAPPED at{};
    at.Offset = offsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(file, 0, 1, 0, &at);
}

// Takes the appenders' lock, waiting up to `patience` for it; false when it could not be had.
bool LockForAppending(HANDLE file, std::chrono::steady_clock::duration patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!TryLockByte(file, kAppendLockOffsetLow)) {
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kLockRetryPause);
    }
    return true;
}

bool FileSize(HANDLE file, LONGLONG& size) {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(file, &value)) {
        return false;
    }
    size = value.QuadPart;
    return true;
}

// Cuts the file back to `size` when it is `expected` long, through a handle of its own: the
// appending handle may only append.
void CutBack(const std::wstring& path, LONGLONG expected, LONGLONG size) {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LONGLONG now = 0;
    LARGE_INTEGER at{};
    at.QuadPart = size;
    if (file.IsValid() && FileSize(file.Get(), now) && now == expected &&
        SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN)) {
        SetEndOfFile(file.Get());
    }
}

}  // namespace

bool AppendUnderLock(const std::string& path, std::string_view entry, bool& waitForLock) noexcept {
    try {
        const std::wstring widePath = Wide(path);
        // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file as
        // it is then, also for other appenders without the lock. Others may read, append and
        // rename or delete the file meanwhile. Create-or-append, never truncate.
        const FileHandle file(
            CreateFileW(widePath.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                        kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) {
            return false;
        }
        // Only a file on a disk is a log: a pipe or a device loses its entries as an unwritable
        // log does.
        if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
            return false;
        }
        const bool locked = LockForAppending(
            file.Get(), waitForLock ? std::chrono::steady_clock::duration(kAppendLockPatience)
                                    : std::chrono::steady_clock::duration::zero());
        if (!locked) {
            waitForLock = false;
        }
        // Under the lock nobody else appends, so the entry starts at the current end.
        LONGLONG entryStart = -1;
        if (locked && !FileSize(file.Get(), entryStart)) {
            entryStart = -1;
        }
        std::string_view left = entry;
        bool complete = true;
        while (!left.empty()) {
            DWORD written = 0;
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(left.size(), 1u << 30));
            if (!WriteFile(file.Get(), left.data(), chunk, &written, nullptr) || written == 0) {
                complete = false;
                break;
            }
            left.remove_prefix(written);
        }
        if (!complete && locked && entryStart >= 0 && left.size() < entry.size()) {
            CutBack(widePath, entryStart + static_cast<LONGLONG>(entry.size() - left.size()),
                    entryStart);
        }
        if (locked) {
            UnlockByte(file.Get(), kAppendLockOffsetLow);
        }
        return complete;
    } catch (...) {
        return false;
    }
}

}  // namespace platform

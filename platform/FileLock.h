// File locks between processes: appending an entry to a log under the lock that every writer of
// the log takes, and an exclusive lock that one process holds on a file for as long as it runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// How long an append waits for another writer's lock before it writes without one.
constexpr std::chrono::milliseconds kAppendLockPatience{2000};

// Appends `entry` at the end of the file at `path` (created when missing, never truncated),
// under an exclusive lock that other appenders of the file take too, while others may still
// read the file. POSIX: O_APPEND and an exclusive flock; Windows: FILE_APPEND_DATA, shared for
// reading and for other appenders, and a LockFileEx lock on one byte far beyond any content,
// so that the lock keeps no reader out.
// `waitForLock` says whether another writer's lock may still be waited for, up to
// kAppendLockPatience; it is cleared once such a wait ran out, so that a run pays for a stuck
// lock holder only once; later appends take the lock only when it is free at once. Without
// the lock the entry is still appended as one write, which keeps it whole.
// A write that stops half-way (a full disk) is cut back to where the entry began, so that the
// entry is lost whole instead of leaving a torn line for the next entry to run into; it is cut
// only under the lock and only while the entry's bytes are the last of the file.
// Only a regular file is appended to: a FIFO, a device or the like is never written, and
// opening never waits on one. Never raises; false when the entry was not written whole.
bool AppendUnderLock(const std::string& path, std::string_view entry, bool& waitForLock) noexcept;

// An exclusive lock on a file, held until Release or destruction; never waited for.
// POSIX: flock(LOCK_EX) on the file; Windows: LockFileEx on one byte far beyond any content
// (another byte than the appenders'), so that readers and writers of the file's content are
// not kept out. The lock belongs to the file that `path` names when it is taken: a file later
// replaced by a rename is another file that the lock does not cover, so lock a file that is
// never replaced. On POSIX, a flock taken through another descriptor of the same file, also
// in the same process, conflicts with it.
class FileLock {
public:
    FileLock() noexcept = default;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() { Release(); }

    // Takes the lock on the file at `path` (created empty when missing) if it is free now.
    static FileLock TryLock(const std::string& path);

    bool IsHeld() const noexcept;
    // True when the lock is not held because another holder has it (false when the file could
    // not be opened or created: ErrorNumber then gives the file error number).
    bool HeldByAnother() const noexcept { return heldByAnother_; }
    int32_t ErrorNumber() const noexcept { return errorNumber_; }

    void Release() noexcept;

private:
    std::intptr_t handle_ = -1;  // POSIX: a descriptor; Windows: a HANDLE; -1 when none
    bool heldByAnother_ = false;
    int32_t errorNumber_ = 0;
};

}  // namespace platform

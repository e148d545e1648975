// Appending an entry to a log under the lock that every writer of the log takes.
#pragma once

#include <chrono>
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
// A new file is created readable by its owner and group only (POSIX mode 0640 narrowed by the
// umask or shaped by the folder's default ACL; Windows: the folder's inherited ACL). POSIX, run
// as root: a path that is a symbolic link owned by another user is not written.
// Only a regular file is appended to: a FIFO, a device or the like is never written, and
// opening never waits on one. Never raises; false when the entry was not written whole.
bool AppendUnderLock(const std::string& path, std::string_view entry, bool& waitForLock) noexcept;

}  // namespace platform

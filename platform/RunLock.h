// One run at a time per settings file: a lock that a process holds from before it touches the
// first database or settings value until it ends, and that another process finds taken.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// A lock named after a file's canonical path (links, "." and ".." resolved; on Windows without
// regard to letter case), not a lock on the file itself: the file is replaced by a rename when
// SetupStatus is written, which a lock on the old file would not survive, and its folder may
// not be writable, which rules out a lock file beside it. The system drops the name when the
// process ends in whatever way, so a killed run leaves nothing behind.
// POSIX (Linux): a socket bound to an abstract name. Windows: a named mutex in the Global
// namespace, seen from every session.
class RunLock {
public:
    // Takes the lock of the file at `path` (which need not exist); nullopt when another holder
    // has it, in this process or another. Raises platform::Exception when no lock can be made.
    static std::optional<RunLock> TryAcquire(const std::string& path);

    RunLock(RunLock&& other) noexcept;
    RunLock& operator=(RunLock&& other) noexcept;
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    ~RunLock() { Release(); }

private:
    explicit RunLock(std::intptr_t handle) noexcept : handle_(handle) {}
    void Release() noexcept;

    std::intptr_t handle_;  // POSIX: the socket; Windows: the mutex; -1 when moved from
};

}  // namespace platform

// One run at a time per settings file: a lock that a run holds from before it touches the
// first database or settings value until it ends, and that a second run of the same setup
// finds taken.
#pragma once

#include "runner/ScriptReader.h"

#include <optional>
#include <string>

namespace runner {

// The lock is a name of the system's, made from the settings file's canonical path (links
// resolved), not a lock on the file itself: the file is replaced by a rename when SetupStatus
// is written, which a lock on the old file would not survive, and its folder may not be
// writable, which rules out a lock file beside it. The system drops the name when the process
// ends in whatever way, so a killed run leaves nothing behind.
class TRunLock {
public:
    // Takes the lock of the settings file at `settingsPath`; nullopt when another process
    // holds it. Raises ibclient::Exception when no lock can be made at all.
    static std::optional<TRunLock> TryAcquire(const std::string& settingsPath);

    TRunLock(TRunLock&&) noexcept = default;
    TRunLock& operator=(TRunLock&&) noexcept = default;

private:
    explicit TRunLock(FileDescriptor socket) : socket_(std::move(socket)) {}

    FileDescriptor socket_;
};

}  // namespace runner

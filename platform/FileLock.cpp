// The moves of a file lock; taking and releasing it is the system's (posix/, windows/).
#include "platform/FileLock.h"

namespace platform {

FileLock::FileLock(FileLock&& other) noexcept
    : handle_(other.handle_), heldByAnother_(other.heldByAnother_),
      errorNumber_(other.errorNumber_) {
    other.handle_ = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        heldByAnother_ = other.heldByAnother_;
        errorNumber_ = other.errorNumber_;
        other.handle_ = -1;
    }
    return *this;
}

}  // namespace platform

// The moves of a run lock; taking and dropping it is the system's (posix/, windows/).
#include "platform/RunLock.h"

namespace platform {

RunLock::RunLock(RunLock&& other) noexcept : handle_(other.handle_) {
    other.handle_ = -1;
}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

}  // namespace platform

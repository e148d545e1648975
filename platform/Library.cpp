// The moves of a loaded library; loading and releasing it is the system's (posix/, windows/).
#include "platform/Library.h"

namespace platform {

Library::Library(Library&& other) noexcept
    : handle_(other.handle_), error_(std::move(other.error_)) {
    other.handle_ = nullptr;
}

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        error_ = std::move(other.error_);
        other.handle_ = nullptr;
    }
    return *this;
}

}  // namespace platform

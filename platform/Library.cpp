// The moves of a loaded library and the search for the client library; loading and releasing
// a library, and where the client library is looked for, are the system's (posix/, windows/).
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

Library LoadClientLibrary() {
    PrepareForClientLibrary();
    Library library;
    for (const std::string& candidate : ClientLibraryCandidates()) {
        library = Library::Load(candidate);
        if (library.IsLoaded()) {
            break;
        }
    }
    return library;
}

}  // namespace platform

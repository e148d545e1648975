// The run lock on Linux: a socket bound to an abstract name, which exists exactly as long as
// the socket of the process that bound it.
#include "platform/RunLock.h"

#include "platform/Errors.h"
#include "platform/Text.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace platform {

namespace {

// `path` with its links and "." and ".." resolved; for a file that does not exist yet, its
// folder's resolved path and its name; the path itself when not even the folder resolves.
std::string CanonicalPath(const std::string& path) {
    const auto resolve = [](const std::string& p) -> std::string {
        const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(p.c_str(), nullptr),
                                                                   &std::free);
        return resolved ? std::string(resolved.get()) : std::string();
    };
    if (std::string resolved = resolve(path); !resolved.empty()) {
        return resolved;
    }
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        if (const std::string folder = resolve(slash == 0 ? "/" : path.substr(0, slash));
            !folder.empty()) {
            return (folder == "/" ? "" : folder) + path.substr(slash);
        }
    }
    return path;
}

}  // namespace

std::optional<RunLock> RunLock::TryAcquire(const std::string& path) {
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        throw Exception("the lock of this setup's runs cannot be made: " +
                        std::string(std::strerror(errno)));
    }
    RunLock lock(socket);  // closes the socket on every way out that does not return it
    // An abstract name starts with a NUL byte and lives in no folder. The hash keeps it short
    // whatever the path's length.
    const std::string name = "dbupgrade-run-" + HexHash(CanonicalPath(path));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        if (errno == EADDRINUSE) {
            return std::nullopt;
        }
        throw Exception("the lock of this setup's runs cannot be taken: " +
                        std::string(std::strerror(errno)));
    }
    return lock;
}

void RunLock::Release() noexcept {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
}

}  // namespace platform

// The run lock: a socket bound to an abstract name (Linux), which exists exactly as long as
// the socket of the process that bound it.
#include "runner/RunLock.h"

#include "ibclient/Errors.h"
#include "runner/Text.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace runner {

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

std::optional<TRunLock> TRunLock::TryAcquire(const std::string& settingsPath) {
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.IsOpen()) {
        throw ibclient::Exception("the lock of this setup's runs cannot be made: " +
                                  std::string(std::strerror(errno)));
    }
    // An abstract name starts with a NUL byte and lives in no folder. The hash keeps it short
    // whatever the path's length.
    const std::string name = "dbupgrade-run-" + HexHash(CanonicalPath(settingsPath));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        if (errno == EADDRINUSE) {
            return std::nullopt;
        }
        throw ibclient::Exception("the lock of this setup's runs cannot be taken: " +
                                  std::string(std::strerror(errno)));
    }
    return TRunLock(std::move(socket));
}

}  // namespace runner

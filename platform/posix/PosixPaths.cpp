// The executable's own path on POSIX (from the command line's first element, PATH, or
// /proc/self/exe) and what its folder is.
#include "platform/Paths.h"

#include "platform/Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdlib>

namespace platform {

namespace {

// `path` made absolute against the current folder, with "." and empty components dropped.
// ".." stays: resolving it textually would be wrong after a symbolic link to a folder.
std::string Absolute(std::string_view path) {
    std::string joined;
    if (!path.starts_with('/')) {
        std::string cwd(PATH_MAX, '\0');
        if (::getcwd(cwd.data(), cwd.size()) == nullptr) {
            return {};
        }
        joined = cwd.c_str();
        joined += '/';
    }
    joined += path;
    std::string result;
    std::size_t pos = 0;
    while (pos <= joined.size()) {
        std::size_t end = joined.find('/', pos);
        if (end == std::string::npos) {
            end = joined.size();
        }
        const std::string_view part = std::string_view(joined).substr(pos, end - pos);
        if (!part.empty() && part != ".") {
            result += '/';
            result += part;
        }
        pos = end + 1;
    }
    return result.empty() ? "/" : result;
}

// True when `path` names the file `running` describes (any links on the way followed), or,
// when the running program's file is unknown, any executable regular file.
bool NamesProgram(const std::string& path, const struct stat* running) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    if (running != nullptr) {
        return st.st_dev == running->st_dev && st.st_ino == running->st_ino;
    }
    return ::access(path.c_str(), X_OK) == 0;
}

std::string ProcSelfExe() {
    std::string path(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) {
        return {};
    }
    path.resize(static_cast<std::size_t>(n));
    return path;
}

}  // namespace

bool IsPathSeparator(char c) noexcept {
    return c == '/';
}

std::string ExecutableFullPath(std::string_view startedAs) {
    struct stat running {};
    const bool known = ::stat("/proc/self/exe", &running) == 0;
    const struct stat* program = known ? &running : nullptr;
    if (startedAs.find('/') != std::string_view::npos) {
        if (std::string path = Absolute(startedAs); NamesProgram(path, program)) {
            return path;
        }
    } else if (!startedAs.empty()) {
        // The search a shell makes; an empty entry of PATH is the current folder.
        const char* const env = std::getenv("PATH");
        const std::string_view folders = env != nullptr ? env : "/bin:/usr/bin";
        std::size_t pos = 0;
        while (pos <= folders.size()) {
            std::size_t end = folders.find(':', pos);
            if (end == std::string_view::npos) {
                end = folders.size();
            }
            const std::string_view folder = folders.substr(pos, end - pos);
            std::string candidate =
                Absolute(std::string(folder.empty() ? "." : folder) + "/" + std::string(startedAs));
            if (NamesProgram(candidate, program)) {
                return candidate;
            }
            pos = end + 1;
        }
    }
    if (std::string path = ProcSelfExe(); !path.empty()) {
        return path;
    }
    throw Exception("Unable to read the executable's path from /proc/self/exe");
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

namespace {

// The folders of the system, where no setup keeps its files: each one and everything in it.
constexpr std::array<std::string_view, 13> kSystemFolders = {
    "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/usr",
    "/etc", "/boot", "/dev", "/proc",  "/sys",   "/run"};

bool IsSystemFolder(std::string_view folder) {
    if (folder == "/") {
        return true;
    }
    for (const std::string_view system : kSystemFolders) {
        if (folder == system || (folder.starts_with(system) && folder[system.size()] == '/')) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::string> UnfitProgramFolder(const std::string& executablePath) {
    const std::size_t slash = executablePath.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : executablePath.substr(0, slash));
    if (IsSystemFolder(folder)) {
        return "a system folder";
    }
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) != 0) {
        return "a folder it may not write";
    }
    return std::nullopt;
}

}  // namespace platform

// File locks on POSIX: flock, which every writer of the file honours.
#include "platform/FileLock.h"

#include "platform/Errors.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace platform {

namespace {

constexpr auto kLockRetryPause = std::chrono::milliseconds(1);

// Owns one file descriptor; closing also drops the advisory lock taken on it.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const noexcept { return fd_; }

private:
    int fd_;
};

// Takes the exclusive lock that other writers of the same file honour, waiting up to
// `patience` for it; false when it could not be had.
bool LockForWriting(int fd, std::chrono::steady_clock::duration patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kLockRetryPause);
    }
    return true;
}

// Opens the log for appending, creating it when it is missing; -1 when it cannot be opened or
// must not be written.
// - A new log is not for every local user to read (at the highest debug level it holds the
//   statements as written, passwords of CREATE USER included): it is created with mode 0640,
//   which the umask narrows further, or, in a folder with a default ACL, the ACL shapes. An
//   existing log keeps its mode.
// - A process run as root does not follow a symbolic link that another user owns: whoever may
//   write the log's folder could otherwise point root's appends at any file. Such a log is
//   dropped like one that cannot be opened. A path that is no link when looked at is opened
//   without following one, so that it cannot become one in between.
// - Never blocking: a FIFO without a reader would otherwise hold the run for ever.
int OpenForAppending(const std::string& path) {
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK;
    if (::geteuid() == 0) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            if (link.st_uid != 0) {
                return -1;
            }
        } else {
            flags |= O_NOFOLLOW;
        }
    }
    return ::open(path.c_str(), flags, 0640);
}

}  // namespace

bool AppendUnderLock(const std::string& path, std::string_view entry, bool& waitForLock) noexcept {
    // Create-or-append, never truncate: entries of earlier runs and of other writers stay.
    const FileDescriptor file(OpenForAppending(path));
    if (file.Get() < 0) {
        return false;
    }
    // Only a regular file is a log: a FIFO, a device or the like loses its entries as an
    // unwritable log does.
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    const bool locked = LockForWriting(
        file.Get(), waitForLock ? std::chrono::steady_clock::duration(kAppendLockPatience)
                                : std::chrono::steady_clock::duration::zero());
    if (!locked) {
        waitForLock = false;
    }
    // One write normally takes the whole entry; the loop only continues after an interrupted
    // or short write, still under the lock. Where the entry began is known from this writer's
    // own writes (O_APPEND puts each at the end of the file as it is then), and it is cut only
    // while the entry's bytes are the last of the file: bytes that anyone appended after them
    // are never removed. Without the lock nothing is cut.
    const char* data = entry.data();
    std::size_t left = entry.size();
    off_t entryStart = -1;
    off_t entryEnd = -1;
    bool contiguous = true;
    while (left > 0) {
        const ssize_t written = ::write(file.Get(), data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            struct stat now {};
            if (locked && contiguous && entryStart >= 0 && ::fstat(file.Get(), &now) == 0 &&
                now.st_size == entryEnd) {
                [[maybe_unused]] const int ignored = ::ftruncate(file.Get(), entryStart);
            }
            return false;
        }
        const off_t end = ::lseek(file.Get(), 0, SEEK_CUR);
        if (end < 0) {
            contiguous = false;
        } else if (entryStart < 0) {
            entryStart = end - written;
        } else if (end - written != entryEnd) {
            contiguous = false;
        }
        entryEnd = end;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace platform

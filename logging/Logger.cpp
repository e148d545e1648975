// The log file writer: formatting of entries and their append to the log file.
#include "logging/Logger.h"

#include "ibclient/FormatSettings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace logging {

namespace {

// How long a run waits for another process's lock on the log before it writes without one.
// O_APPEND with a single write keeps an entry whole even then; the wait only bounds the time
// a stuck lock holder can hold up an unattended run, and it is spent once per writer: after
// it ran out, later entries take the lock only when it is free at once.
constexpr auto kLockPatience = std::chrono::seconds(2);
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

// Opens the log for appending, creating it when it is missing; -1 when it cannot be opened or
// must not be written.
// - A new log is not for every local user to read (at DebugMode 5 it holds the statements as
//   written, passwords of CREATE USER included): it is created with mode 0640, which the umask
//   narrows further, or, in a folder with a default ACL, the ACL shapes. An existing log keeps
//   its mode.
// - A run as root does not follow a symbolic link that another user owns: whoever may write the
//   log's folder could otherwise point root's appends at any file. Such a log is dropped like
//   one that cannot be opened. A path that is no link when looked at is opened without
//   following one, so that it cannot become one in between.
// - Never blocking: a FIFO without a reader would otherwise hold the run for ever.
int OpenForAppending(const std::string& fileName) {
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK;
    if (::geteuid() == 0) {
        struct stat link {};
        if (::lstat(fileName.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            if (link.st_uid != 0) {
                return -1;
            }
        } else {
            flags |= O_NOFOLLOW;
        }
    }
    return ::open(fileName.c_str(), flags, 0640);
}

// Takes the exclusive advisory lock that other writers of the same file honour, waiting up to
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

// Appends `entry` to the file; `waitForLock` says whether another writer's lock may still be
// waited for, and is cleared once a wait for it ran out.
void AppendEntry(const std::string& fileName, const std::string& entry, bool& waitForLock) {
    // Create-or-append, never truncate: entries of earlier runs and of other writers stay.
    const FileDescriptor file(OpenForAppending(fileName));
    if (file.Get() < 0) {
        return;
    }
    // Only a regular file is a log: a FIFO, a device or the like loses its entries as an
    // unwritable log does.
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return;
    }
    const bool locked =
        LockForWriting(file.Get(), waitForLock ? std::chrono::steady_clock::duration(kLockPatience)
                                               : std::chrono::steady_clock::duration::zero());
    if (!locked) {
        waitForLock = false;
    }
    // One write normally takes the whole entry; the loop only continues after an interrupted
    // or short write, still under the lock. A write that stops half-way (a full disk) is cut
    // back to where the entry began, so that the entry is lost whole instead of leaving a torn
    // line for the next entry to run into. Where it began is known from this writer's own
    // writes (O_APPEND puts each at the end of the file as it is then), and it is cut only
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
            return;
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
}

} // namespace

TLogger::TLogger(std::string fileName, int32_t threshold)
    : fileName_(std::move(fileName)), threshold_(threshold) {}

void TLogger::Log(int32_t level, std::string_view message) noexcept {
    if (level > threshold_) {
        return;
    }
    try {
        const std::lock_guard<std::mutex> guard(lock_);
        AppendEntry(fileName_, FormatLogEntry(CurrentTimeStamp(), level, message), waitForLock_);
    } catch (...) {
        // The writer never fails towards its caller; the entry is lost.
    }
}

std::string FormatLogEntry(std::string_view timeStamp, int32_t level, std::string_view message) {
    std::string entry;
    entry.reserve(timeStamp.size() + message.size() + 24);
    entry.append(timeStamp);
    entry.append(" level ");
    entry.append(std::to_string(level));
    entry.append(":  ");
    entry.append(message);
    entry.append("\r\n");
    return entry;
}

std::string CurrentTimeStamp() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    const char sep = ibclient::FormatSettings().TimeSeparator;
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d%c%02d%c%02d.%03d", local.tm_mday,
                  local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, sep, local.tm_min, sep,
                  local.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
    return text;
}

} // namespace logging

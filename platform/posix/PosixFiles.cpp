// Files on POSIX: the script read under a shared flock, whole-file reads, and the atomic
// replacement (or in-place rewrite) of the settings file; errno as file error numbers.
#include "platform/Files.h"

#include "platform/Errors.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace platform {

int32_t FileErrorNumber(int systemError) noexcept {
    switch (systemError) {
    case ENOENT:
        return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EWOULDBLOCK:
        return 5;
    case ENOSPC:
    case EDQUOT:
        return 101;
    default:
        return 1000 + systemError;
    }
}

namespace {

[[noreturn]] void RaiseFileError(int errnoValue) {
    throw EInOutError(FileErrorNumber(errnoValue));
}

// Closes a file descriptor on every way out.
class FdCloser {
public:
    explicit FdCloser(int fd) noexcept : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int fd_;
};

}  // namespace

// ---- ReadLockedFile ----

ReadLockedFile::ReadLockedFile(const std::string& path) : handle_(-1) {
    // O_NONBLOCK keeps the open itself from waiting (a FIFO without writer); it is cleared
    // again below so that reads wait for data as usual.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        RaiseFileError(errno);
    }
    handle_ = fd;

    // Linux opens a folder for reading without complaint; refuse it here rather than fail on
    // the first read.
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        RaiseFileError(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        RaiseFileError(EISDIR);
    }

    // Readers share the lock; a writer holding the exclusive lock keeps us out, and we keep
    // writers that take the lock out while the file is open.
    while (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        if (errno != EINTR) {
            RaiseFileError(errno);
        }
    }

    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        RaiseFileError(errno);
    }
}

ReadLockedFile::ReadLockedFile(ReadLockedFile&& other) noexcept : handle_(other.handle_) {
    other.handle_ = -1;
}

ReadLockedFile& ReadLockedFile::operator=(ReadLockedFile&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

std::uint64_t ReadLockedFile::Size() const noexcept {
    struct stat info {};
    if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0 || info.st_size <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::size_t ReadLockedFile::Read(char* buffer, std::size_t size) {
    if (handle_ < 0) {
        return 0;
    }
    ssize_t count = 0;
    do {
        count = ::read(static_cast<int>(handle_), buffer, size);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        RaiseFileError(errno);
    }
    return static_cast<std::size_t>(count);
}

bool ReadLockedFile::IsOpen() const noexcept {
    return handle_ >= 0;
}

void ReadLockedFile::Close() noexcept {
    if (handle_ >= 0) {
        // Nothing was written, so a failing close loses nothing.
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
}

// ---- Whole-file reads ----

namespace {

// Reads a whole regular file; false when it cannot be opened or read, or is no regular file
// (a folder, or a FIFO that would block the run).
bool ReadWholeFile(const std::string& path, std::string& content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    const FdCloser closer(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    content.clear();
    content.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

std::optional<std::string> ReadRegularFile(const std::string& path) {
    std::string content;
    if (!ReadWholeFile(path, content)) {
        return std::nullopt;
    }
    return content;
}

// ---- Replacing a file ----

namespace {

// Why a replacement stopped: nothing written yet, or part of an in-place rewrite done.
struct WriteFailure {
    ReplaceOutcome outcome;
};

[[noreturn]] void Fail(ReplaceOutcome outcome = ReplaceOutcome::NotWritten) {
    throw WriteFailure{outcome};
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of symbolic links ends at (the path itself when it is no link); empty when
// the chain is too long or a link cannot be read.
std::string FinalTarget(const std::string& path) {
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return target;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) {
            return {};
        }
        link.resize(static_cast<std::size_t>(n));
        target = link.front() == '/' ? link : FolderOf(target) + "/" + link;
    }
    return {};
}

// Writes all of `data` to `fd` at `offset`.
bool WriteAllAt(int fd, std::string_view data, off_t offset) {
    while (!data.empty()) {
        const ssize_t n = ::pwrite(fd, data.data(), data.size(), offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

// A temporary file next to the target, created with `mode` (less the umask); removed again
// unless it was renamed into place.
class TempFile {
public:
    TempFile(const std::string& target, mode_t mode) {
        const std::size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            path_ = folder + "." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
                    std::to_string(attempt);
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd_ < 0 && errno != EEXIST) {
                break;
            }
            created_ = fd_ >= 0;
        }
    }
    ~TempFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (created_ && !renamed_) {
            ::unlink(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool Opened() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    bool WriteAll(std::string_view data) const { return WriteAllAt(fd_, data, 0); }

    // Flushes, closes and renames the file over `target`.
    bool Commit(const std::string& target) {
        if (::fsync(fd_) != 0) {
            return false;
        }
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) {
            return false;
        }
        if (::rename(path_.c_str(), target.c_str()) != 0) {
            return false;
        }
        renamed_ = true;
        return true;
    }

private:
    std::string path_;
    int fd_ = -1;
    bool created_ = false;
    bool renamed_ = false;
};

// The names of a file's extended attributes (its ACLs among them), sorted, as `list` (a
// listxattr call on a buffer) gives them; false when they cannot be listed. A file system
// without extended attributes has none.
template <typename List> bool AttributeNames(List list, std::vector<std::string>& names) {
    names.clear();
    const ssize_t size = list(nullptr, 0);
    if (size < 0) {
        return errno == ENOTSUP;
    }
    std::string buffer(static_cast<std::size_t>(size), '\0');
    const ssize_t got = list(buffer.data(), buffer.size());
    if (got < 0) {
        return false;
    }
    buffer.resize(static_cast<std::size_t>(got));
    for (std::size_t pos = 0; pos < buffer.size();) {
        const std::size_t end = std::min(buffer.find('\0', pos), buffer.size());
        if (end > pos) {
            names.push_back(buffer.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    std::sort(names.begin(), names.end());
    return true;
}

// Gives the new file `fd` everything of the old file `target` (described by `old`) that a
// rename would otherwise change: owner and group, extended attributes, mode. False when any
// of it cannot be given, as for a user who may not hand a file to the old owner or group.
bool KeepFileAttributes(int fd, const std::string& target, const struct stat& old) {
    // The owner first: changing it clears set-ID bits, which the mode then sets again. Whether
    // it worked (root, or a user handing the file to a group of their own) shows below.
    [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
    std::vector<std::string> names;
    if (!AttributeNames(
            [&](char* list, std::size_t size) { return ::listxattr(target.c_str(), list, size); },
            names)) {
        return false;
    }
    for (const std::string& name : names) {
        const ssize_t size = ::getxattr(target.c_str(), name.c_str(), nullptr, 0);
        std::string value(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
        const ssize_t got =
            size < 0 ? -1 : ::getxattr(target.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0 ||
            ::fsetxattr(fd, name.c_str(), value.data(), static_cast<std::size_t>(got), 0) != 0) {
            return false;
        }
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
        return false;
    }
    struct stat now {};
    std::vector<std::string> newNames;
    return ::fstat(fd, &now) == 0 && now.st_uid == old.st_uid && now.st_gid == old.st_gid &&
           (now.st_mode & 07777) == (old.st_mode & 07777) &&
           AttributeNames(
               [&](char* list, std::size_t size) { return ::flistxattr(fd, list, size); },
               newNames) &&
           newNames == names;
}

// Writes `content` to a temporary file beside `target` and renames it over `target`. For an
// existing file (`old` not null) false, with nothing changed, when the new file could not
// keep everything of the old one; fails when writing or renaming fails.
bool ReplaceAtomically(const std::string& target, const struct stat* old,
                       std::string_view content) {
    if (old != nullptr && old->st_nlink > 1) {
        return false;  // a new file would leave the other names with the old content
    }
    // The copy of an existing file is its owner's alone until it has the old file's mode: a
    // file that others may not read (one that holds a password) must not be readable on the
    // way, where another user could open it and read what is written into it later.
    TempFile temp(target, old != nullptr ? 0600 : 0666);
    if (!temp.Opened()) {
        if (old == nullptr) {
            Fail();
        }
        return false;  // the folder is not writable
    }
    if (old != nullptr && !KeepFileAttributes(temp.Fd(), target, *old)) {
        return false;
    }
    if (!temp.WriteAll(content) || !temp.Commit(target)) {
        Fail();
    }
    // Make the rename itself durable; the new content is complete either way.
    const int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

// Rewrites the existing file `target` (described by `old`, holding `oldContent`) in place with
// `content`: the same inode, so links, owner, group, mode and ACLs stay. Room for a longer
// content is reserved first, so that a full disk stops the write before any byte changed;
// then only the bytes from the first difference on are written.
void RewriteInPlace(const std::string& target, const struct stat& old, std::string_view oldContent,
                    std::string_view content) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        Fail();
    }
    const FdCloser closer(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_dev != old.st_dev || st.st_ino != old.st_ino ||
        !S_ISREG(st.st_mode)) {
        Fail();  // replaced by another file since it was read
    }
    const auto size = static_cast<off_t>(content.size());
    if (size > st.st_size &&
        ::fallocate(fd, FALLOC_FL_KEEP_SIZE, st.st_size, size - st.st_size) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
        Fail();
    }
    const auto differ =
        std::mismatch(oldContent.begin(), oldContent.end(), content.begin(), content.end());
    const auto first = static_cast<std::size_t>(differ.second - content.begin());
    if (!WriteAllAt(fd, content.substr(first), static_cast<off_t>(first)) ||
        (size != st.st_size && ::ftruncate(fd, size) != 0) || ::fsync(fd) != 0) {
        Fail(ReplaceOutcome::Damaged);
    }
}

}  // namespace

ReplaceOutcome ReplaceFileContent(const std::string& path,
                                  const std::function<std::string(std::string_view)>& update) {
    try {
        const std::string target = FinalTarget(path);
        if (target.empty()) {
            Fail();
        }
        struct stat st {};
        const bool exists = ::stat(target.c_str(), &st) == 0;
        if (!exists && errno != ENOENT) {
            Fail();
        }
        std::string content;
        if (exists) {
            // The rename would bypass the file's own permissions, so they are checked here: a
            // file that nobody may write stays untouched, also when root runs the upgrade.
            if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 ||
                ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
                Fail();
            }
            // Content that cannot be read cannot be kept, so it is not replaced either.
            if (!ReadWholeFile(target, content)) {
                Fail();
            }
        }
        const std::string updated = update(content);
        if (ReplaceAtomically(target, exists ? &st : nullptr, updated)) {
            return ReplaceOutcome::Replaced;
        }
        RewriteInPlace(target, st, content, updated);
        return ReplaceOutcome::Rewritten;
    } catch (const WriteFailure& failure) {
        return failure.outcome;
    }
}

bool ReadableByOthers(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace platform

// The script reader: the script's path, the shared-read script file with its line rules and
// the loop that cuts the script into statements.
#include "runner/ScriptReader.h"

#include "runner/Paths.h"
#include "runner/RunnerContext.h"
#include "runner/Text.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace runner {

namespace {

constexpr char kCtrlZ = 26;

[[noreturn]] void RaiseFileError(int errnoValue) {
    throw EInOutError(FileErrorNumber(errnoValue));
}

// Appends [first, last) to `line` without its carriage returns. Every CR is either the first
// half of a CR LF break or a lone CR, and both are left out of the line's text.
void AppendWithoutCR(std::string& line, const char* first, const char* last) {
    while (first < last) {
        const auto* cr = static_cast<const char*>(
            std::memchr(first, '\r', static_cast<std::size_t>(last - first)));
        const char* pieceEnd = cr != nullptr ? cr : last;
        line.append(first, pieceEnd);
        first = cr != nullptr ? cr + 1 : last;
    }
}

} // namespace

EInOutError::EInOutError(int32_t errorCode)
    : ibclient::Exception(FileErrorMessage(errorCode)), errorCode_(errorCode) {}

std::string FileErrorMessage(int32_t number) {
    switch (number) {
    case 2:
        return "File not found";
    case 3:
        return "Invalid filename";
    case 4:
        return "Too many open files";
    case 5:
        return "File access denied";
    case 100:
        return "Read beyond end of file";
    case 101:
        return "Disk full";
    case 106:
        return "Invalid numeric input";
    default:
        return "I/O error " + std::to_string(number);
    }
}

int32_t FileErrorNumber(int errnoValue) noexcept {
    switch (errnoValue) {
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
        return 1000 + errnoValue;
    }
}

std::string ScriptPath(const std::string& executablePath, const std::string& firstArgument) {
    if (SameTextAscii(ExtractFileExt(firstArgument), ".sql")) {
        return firstArgument;
    }
    return ChangeFileExt(executablePath, ".sql");
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = other.Release();
    }
    return *this;
}

int FileDescriptor::Release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void FileDescriptor::Reset() noexcept {
    if (fd_ >= 0) {
        // Nothing was written, so a failing close loses nothing.
        ::close(fd_);
        fd_ = -1;
    }
}

TScriptFile::TScriptFile(const std::string& path) {
    // O_NONBLOCK keeps the open itself from waiting (a FIFO without writer); it is cleared
    // again below so that reads wait for data as usual.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        RaiseFileError(errno);
    }
    fd_ = FileDescriptor(fd);

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
    // writers that take the lock out while the script is read.
    while (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        if (errno != EINTR) {
            RaiseFileError(errno);
        }
    }

    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        RaiseFileError(errno);
    }
    buffer_ = std::make_unique<char[]>(kBufferSize);
}

bool TScriptFile::Fill() {
    if (ended_) {
        return false;
    }
    ssize_t count = 0;
    do {
        count = ::read(fd_.Get(), buffer_.get(), kBufferSize);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        RaiseFileError(errno);
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(count);
    if (count == 0) {
        ended_ = true;
        return false;
    }
    // Ctrl-Z ends the file: the bytes before it are the last ones, nothing after it is read.
    if (const void* ctrlZ = std::memchr(buffer_.get(), kCtrlZ, end_)) {
        end_ = static_cast<std::size_t>(static_cast<const char*>(ctrlZ) - buffer_.get());
        ended_ = true;
    }
    return end_ > 0;
}

bool TScriptFile::ReadLine(std::string& line) {
    line.clear();
    if (begin_ == end_ && !Fill()) {
        return false;
    }
    for (;;) {
        const char* first = buffer_.get() + begin_;
        const char* last = buffer_.get() + end_;
        const auto* lf = static_cast<const char*>(
            std::memchr(first, '\n', static_cast<std::size_t>(last - first)));
        if (lf != nullptr) {
            AppendWithoutCR(line, first, lf);
            begin_ = static_cast<std::size_t>(lf + 1 - buffer_.get());
            return true;
        }
        AppendWithoutCR(line, first, last);
        begin_ = end_;
        if (!Fill()) {
            return true; // the last line, ended by the end of the file or by Ctrl-Z
        }
    }
}

void TScriptFile::Close() noexcept {
    fd_.Reset();
    begin_ = end_ = 0;
    ended_ = true;
}

void RunScriptFile(RunnerContext& context, const StatementExecutor& execute) {
    const std::string path = ScriptPath(context.ExecutablePath, context.FirstArgument);
    std::optional<TScriptFile> file;
    try {
        file.emplace(path);
    } catch (const EInOutError& error) {
        context.ErrorFlag = true;
        context.LogMessage(1, " error: coudn't open file " + path + "\r\n" +
                                  "error message: " + error.Message() + "\r\n");
        context.Notify(path + ": " + error.Message());
        return;
    }

    ReadStatements(*file, [&execute](const std::string& statement, std::size_t /*firstLine*/) {
        execute(statement);
    });
    file->Close();
}

void ReadStatements(TScriptFile& file, const NumberedStatementHandler& handle) {
    std::string statement;
    std::string line;
    std::size_t lineNumber = 0;
    std::size_t firstLine = 1;
    while (file.ReadLine(line)) {
        ++lineNumber;
        if (IsBlank(line)) {
            handle(statement, statement.empty() ? lineNumber : firstLine);
            statement.clear();
        } else if (statement.empty()) {
            firstLine = lineNumber;
            statement.swap(line); // the line as read; ReadLine refills `line` anyway
        } else {
            statement += "\r\n";
            statement += line;
        }
    }
    // The last statement of a script that does not end with a blank line.
    handle(statement, statement.empty() ? lineNumber + 1 : firstLine);
}

} // namespace runner

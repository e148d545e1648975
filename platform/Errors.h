// The common error base that every error of the program derives from, and the runtime's file
// errors, which the platform layer raises for files it cannot open or read.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace platform {

// Common error base: every error the runner and its components raise derives from it.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }
    // The class name shown in the standard report of an unhandled error.
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string message_;
};

// A file error, numbered like the runtime's file errors: 2 "File not found", 3 "Invalid
// filename", 4 "Too many open files", 5 "File access denied", 100 "Read beyond end of file",
// 101 "Disk full", 106 "Invalid numeric input", any other number "I/O error <number>".
class EInOutError : public Exception {
public:
    explicit EInOutError(int32_t errorCode);
    int32_t ErrorCode() const noexcept { return errorCode_; }
    const char* ClassName() const noexcept override { return "EInOutError"; }

private:
    int32_t errorCode_;
};

// The message of a file error number.
std::string FileErrorMessage(int32_t number);

// The file error number of a failed system call's error code (errno on POSIX, GetLastError()
// on Windows).
// POSIX: ENOENT 2; ENOTDIR, ENAMETOOLONG and ELOOP 3; EMFILE and ENFILE 4; EACCES, EPERM,
// EROFS, EISDIR and EWOULDBLOCK (the file is locked by a writer) 5; ENOSPC and EDQUOT 101. Any
// other errno e gives 1000 + e, which keeps it apart from the named numbers (EIO, errno 5,
// must not read "File access denied").
// Windows: its own codes are the runtime's numbers already (2, 3, 4, 5 and the rest pass
// unchanged); a sharing or lock violation (32, 33) reads as 5, a full disk (39, 112) as 101,
// and a malformed or too long name (123, 161, 206) as 3.
int32_t FileErrorNumber(int systemError) noexcept;

}  // namespace platform

// Files as the runner uses them: a file read while writers are shut out, a whole file read
// without any lock, and a file whose content is replaced atomically keeping everything else
// about it (or rewritten in place where that cannot be done).
#pragma once

#include "platform/Errors.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A regular file opened for reading while other writers are shut out: others may read it but
// not write it until Close. POSIX: a shared flock (a writer holding the exclusive lock keeps
// the file from being opened; one that asks for it while the file is open does not get it);
// opening never waits, not even on a FIFO without writer. Windows: opened with FILE_SHARE_READ
// only, so a file open for writing elsewhere cannot be opened (a sharing violation) and no one
// can open it for writing meanwhile.
class ReadLockedFile {
public:
    // Opens an existing file; raises EInOutError when that fails. A folder gives 5 "File
    // access denied", and so does, on Windows, anything but a file on a disk (POSIX opens a
    // FIFO without waiting and reads it as a file).
    explicit ReadLockedFile(const std::string& path);
    ReadLockedFile(ReadLockedFile&& other) noexcept;
    ReadLockedFile& operator=(ReadLockedFile&& other) noexcept;
    ReadLockedFile(const ReadLockedFile&) = delete;
    ReadLockedFile& operator=(const ReadLockedFile&) = delete;
    ~ReadLockedFile() { Close(); }

    // The file's size when it was opened; 0 when unknown.
    std::uint64_t Size() const noexcept;

    // Reads up to `size` bytes into `buffer`; 0 at the end of the file. Raises EInOutError.
    std::size_t Read(char* buffer, std::size_t size);

    bool IsOpen() const noexcept;

    // Closes the file and so lets writers in again.
    void Close() noexcept;

private:
    // POSIX: a file descriptor (-1 when closed); Windows: a HANDLE (INVALID_HANDLE_VALUE).
    std::intptr_t handle_;
};

// The whole content of the regular file at `path`, read without a lock and letting others do
// anything meanwhile; nullopt when it is missing, no regular file (a folder, a FIFO that
// would block the run) or cannot be read.
std::optional<std::string> ReadRegularFile(const std::string& path);

// Whether users other than the file's owner may read it. POSIX: its group or everyone may (a
// POSIX ACL that lets another user read it shows in the group bits as well). Windows: not
// judged (its ACLs are not read); false.
bool ReadableByOthers(const std::string& path);

// How ReplaceFileContent wrote the file.
enum class ReplaceOutcome {
    Replaced,    // a new file took the old one's place atomically
    Rewritten,   // the old file was rewritten in place
    NotWritten,  // nothing could be written; the file is as it was
    Damaged,     // an in-place rewrite failed half-way: the file may hold part of each
};

// Replaces the content of the file that `path` names with `update(current content)` (an empty
// current content for a missing file, which is then created).
// A file that may not be written is never written: POSIX, one without any write permission bit
// (also for root) or that the user may not write; Windows, one with the read-only attribute.
// Where it keeps everything about the file, the new content goes to a temporary file in the
// same folder, flushed to disk, which then takes the old file's place: POSIX, the temporary
// file gets the old one's mode, owner, group and extended attributes (ACLs) and is renamed over
// it; Windows, ReplaceFileW, which keeps attributes, ACL and creation time. Otherwise (the
// folder is not writable, the file has more than one hard link, its attributes cannot be given
// to a new file, Windows refuses the replacement) the file is rewritten in place: room for a
// longer content is reserved first, so that a full disk stops the write before any byte
// changed, then only the bytes from the first difference on are written, the file cut to the
// new size and flushed. A symbolic link is kept and the file it points to is written.
// Exceptions of `update` propagate (nothing is written then).
ReplaceOutcome ReplaceFileContent(const std::string& path,
                                  const std::function<std::string(std::string_view)>& update);

}  // namespace platform

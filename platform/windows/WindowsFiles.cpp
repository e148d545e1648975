// Files on Windows: the script read with only FILE_SHARE_READ, whole-file reads, and the
// replacement of the settings file with ReplaceFileW (or its rewrite in place); the system's
// error codes as file error numbers.
#include "platform/Files.h"

#include "platform/Errors.h"
#include "platform/Paths.h"
#include "platform/windows/WindowsText.h"

#include <algorithm>
#include <vector>

namespace platform {

using windows::FileHandle;
using windows::Wide;

int32_t FileErrorNumber(int systemError) noexcept {
    switch (systemError) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return 5;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
        return 101;
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
        return 3;
    default:
        return systemError;
    }
}

namespace {

[[noreturn]] void RaiseLastFileError() {
    throw EInOutError(FileErrorNumber(static_cast<int>(GetLastError())));
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Reads from `file` until its end; false when a read fails.
bool ReadToEnd(HANDLE file, std::string& content) {
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) {
            return GetLastError() == ERROR_HANDLE_EOF;
        }
        if (read == 0) {
            return true;
        }
        content.append(buffer, read);
    }
}

// Writes all of `data` at the handle's file pointer.
bool WriteAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        data.remove_prefix(written);
    }
    return true;
}

}  // namespace

// ---- ReadLockedFile ----

ReadLockedFile::ReadLockedFile(const std::string& path)
    : handle_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {
    // Others may read while the file is open, nobody may write it; a file that is open for
    // writing elsewhere cannot be opened (a sharing violation, 5 "File access denied"). A
    // folder cannot be opened this way either (access denied).
    FileHandle file(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr));
    if (!file.IsValid()) {
        RaiseLastFileError();
    }
    // Only a file on a disk: a pipe or a device could hold the run.
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
        throw EInOutError(5);
    }
    handle_ = reinterpret_cast<std::intptr_t>(file.Release());
}

ReadLockedFile::ReadLockedFile(ReadLockedFile&& other) noexcept : handle_(other.handle_) {
    other.handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

ReadLockedFile& ReadLockedFile::operator=(ReadLockedFile&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    }
    return *this;
}

std::uint64_t ReadLockedFile::Size() const noexcept {
    LARGE_INTEGER size{};
    if (!IsOpen() || !GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &size) ||
        size.QuadPart <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t ReadLockedFile::Read(char* buffer, std::size_t size) {
    if (!IsOpen()) {
        return 0;
    }
    DWORD read = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, chunk, &read, nullptr)) {
        if (GetLastError() == ERROR_HANDLE_EOF) {
            return 0;
        }
        RaiseLastFileError();
    }
    return read;
}

bool ReadLockedFile::IsOpen() const noexcept {
    return reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE;
}

void ReadLockedFile::Close() noexcept {
    if (IsOpen()) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
        handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    }
}

// ---- Whole-file reads ----

namespace {

// The file opened for reading, letting others do anything meanwhile; invalid when it cannot
// be opened or is no file on a disk (a folder cannot be opened this way).
FileHandle OpenForReading(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.IsValid() && GetFileType(file.Get()) != FILE_TYPE_DISK) {
        file.Reset();
    }
    return file;
}

}  // namespace

std::optional<std::string> ReadRegularFile(const std::string& path) {
    const FileHandle file = OpenForReading(Wide(path));
    std::string content;
    if (!file.IsValid() || !ReadToEnd(file.Get(), content)) {
        return std::nullopt;
    }
    return content;
}

// ---- Replacing a file ----

namespace {

// The attributes that a new file can be given and that ReplaceFileW is to keep.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The access rules (DACL) of the file at `path` as a self-relative security descriptor; empty
// when they cannot be read.
std::vector<char> AccessRulesOf(const std::wstring& path) {
    DWORD size = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<char> descriptor(size);
    if (size == 0 || !GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                                       size, &size)) {
        descriptor.clear();
    }
    return descriptor;
}

// A temporary file beside the target, made with `attributes` and, when given, the access rules
// in `descriptor`; removed again unless it took the target's place.
class TempFile {
public:
    TempFile(const std::string& target, DWORD attributes, std::vector<char> descriptor = {}) {
        // The copy of an existing file gets that file's access rules from the start: a file
        // that others may not read (one that holds a password) must not be readable on the
        // way, where another user could open it and read what is written into it later.
        SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor.data(), FALSE};
        const std::string folder = ExtractFilePath(target);
        const std::string base = target.substr(folder.size());
        for (int attempt = 0; attempt < 100 && !file_.IsValid(); ++attempt) {
            path_ = Wide(folder + "." + base + ".tmp-" + std::to_string(GetCurrentProcessId()) +
                         "-" + std::to_string(attempt));
            file_ = FileHandle(CreateFileW(path_.c_str(), GENERIC_WRITE, 0,
                                           descriptor.empty() ? nullptr : &security, CREATE_NEW,
                                           attributes, nullptr));
            if (!file_.IsValid() && GetLastError() != ERROR_FILE_EXISTS) {
                break;
            }
        }
    }
    ~TempFile() {
        file_.Reset();
        if (!path_.empty() && !moved_) {
            DeleteFileW(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool Opened() const { return file_.IsValid(); }

    // Writes `content`, flushes it to disk and closes the file.
    bool Write(std::string_view content) {
        const bool written = WriteAll(file_.Get(), content) && FlushFileBuffers(file_.Get());
        file_.Reset();
        return written;
    }

    // The old file replaced by this one, keeping the old one's attributes, ACL, creation time
    // and streams. False, with the old file as it was, when Windows refuses (its ACL cannot be
    // merged...). Not tried when the old file is open elsewhere without FILE_SHARE_DELETE:
    // that replacement would fail, and Wine's ReplaceFileW then leaves a file of its own
    // ("rf*.tmp") in the folder.
    bool Replace(const std::wstring& target) {
        FileHandle probe(CreateFileW(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe.IsValid()) {
            return false;
        }
        probe.Reset();
        if (ReplaceFileW(target.c_str(), path_.c_str(), nullptr, 0, nullptr, nullptr)) {
            moved_ = true;
            return true;
        }
        return false;
    }

    // A new file put where none is.
    bool MoveTo(const std::wstring& target) {
        moved_ = MoveFileExW(path_.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
        return moved_;
    }

private:
    std::wstring path_;
    FileHandle file_;
    bool moved_ = false;
};

// Identity and link count of an open file.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    DWORD links = 0;
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
    }
};

bool Identify(HANDLE file, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        return false;
    }
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow,
                info.nNumberOfLinks};
    return true;
}

// Rewrites the existing file (the one `identity` names, holding `oldContent`) in place: room
// for a longer content reserved first, then the bytes from the first difference on, the end
// set and everything flushed.
ReplaceOutcome RewriteInPlace(const std::wstring& target, const FileIdentity& identity,
                              std::string_view oldContent, std::string_view content) {
    const FileHandle file(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FileIdentity now;
    if (!file.IsValid() || !Identify(file.Get(), now) || !(now == identity)) {
        return ReplaceOutcome::NotWritten;  // not writable here, or replaced since it was read
    }
    if (content.size() > oldContent.size()) {
        FILE_ALLOCATION_INFO allocation{};
        allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(content.size());
        if (!SetFileInformationByHandle(file.Get(), FileAllocationInfo, &allocation,
                                        sizeof allocation) &&
            (GetLastError() == ERROR_DISK_FULL || GetLastError() == ERROR_HANDLE_DISK_FULL)) {
            return ReplaceOutcome::NotWritten;
        }
    }
    const auto differ =
        std::mismatch(oldContent.begin(), oldContent.end(), content.begin(), content.end());
    const auto first = static_cast<std::size_t>(differ.second - content.begin());
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(first);
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(content.size());
    if (!SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) ||
        !WriteAll(file.Get(), content.substr(first)) ||
        !SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file.Get()) ||
        !FlushFileBuffers(file.Get())) {
        return ReplaceOutcome::Damaged;
    }
    return ReplaceOutcome::Rewritten;
}

}  // namespace

ReplaceOutcome ReplaceFileContent(const std::string& path,
                                  const std::function<std::string(std::string_view)>& update) {
    const std::wstring target = Wide(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            return ReplaceOutcome::NotWritten;
        }
        const std::string content = update("");
        TempFile temp(path, FILE_ATTRIBUTE_NORMAL);
        if (!temp.Opened() || !temp.Write(content) || !temp.MoveTo(target)) {
            return ReplaceOutcome::NotWritten;
        }
        return ReplaceOutcome::Replaced;
    }
    // The read-only attribute is the file's own "never write me".
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return ReplaceOutcome::NotWritten;
    }
    std::string content;
    FileIdentity identity;
    {
        const FileHandle file = OpenForReading(target);
        if (!file.IsValid() || !Identify(file.Get(), identity) || !ReadToEnd(file.Get(), content)) {
            return ReplaceOutcome::NotWritten;
        }
    }
    const std::string updated = update(content);
    // A new file would leave other hard links with the old content, and would take the place
    // of a symbolic link instead of writing the file it points to.
    if (identity.links == 1 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        // The attributes are given to the new file too: Wine's ReplaceFileW does not keep them.
        const DWORD kept = attributes & kKeptAttributes;
        TempFile temp(path, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, AccessRulesOf(target));
        if (temp.Opened()) {
            if (!temp.Write(updated)) {
                return ReplaceOutcome::NotWritten;
            }
            if (temp.Replace(target)) {
                return ReplaceOutcome::Replaced;
            }
        }
    }
    return RewriteInPlace(target, identity, content, updated);
}

bool ReadableByOthers(const std::string& /*path*/) {
    return false;
}

}  // namespace platform

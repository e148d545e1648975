// Reading and writing the INI-style settings file.
#include "runner/Settings.h"

#include "runner/Text.h"
#include "runner/Unicode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace runner {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool IsBlankChar(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// What one line of the file is.
struct LineInfo {
    enum Kind { Blank, Comment, Section, Key } kind = Blank;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // key value, trimmed (empty when the line has no "=")
    bool hasEquals = false;
};

LineInfo Classify(std::string_view text) {
    LineInfo info;
    const std::string_view trimmed = Trim(text);
    if (trimmed.empty()) {
        return info;
    }
    if (trimmed.front() == '[') {
        const std::size_t close = trimmed.rfind(']');
        if (close != std::string_view::npos && close > 0) {
            info.kind = LineInfo::Section;
            info.name = Trim(trimmed.substr(1, close - 1));
            return info;
        }
        // "[" without a closing bracket is no section header; it reads as a key line.
    }
    if (trimmed.front() == ';') {
        info.kind = LineInfo::Comment;
        return info;
    }
    info.kind = LineInfo::Key;
    const std::size_t eq = trimmed.find('=');
    if (eq == std::string_view::npos) {
        info.name = trimmed;
    } else {
        info.hasEquals = true;
        info.name = Trim(trimmed.substr(0, eq));
        info.value = Trim(trimmed.substr(eq + 1));
    }
    return info;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
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

// One line of the file: its text without the line break, and where the next line starts.
struct LineSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

// Calls `visit(LineSpan)` for every line in the byte range [begin, end) of `text`, stopping
// early when `visit` returns false. A line ends at CR LF, LF or a lone CR (the line end of
// old Mac files, which some editors still write).
template <typename Visit>
void ForEachLine(std::string_view text, std::size_t begin, std::size_t end, Visit visit) {
    std::size_t pos = begin;
    while (pos < end) {
        std::size_t lineEnd = text.find_first_of("\r\n", pos);
        if (lineEnd == std::string_view::npos || lineEnd > end) {
            lineEnd = end;
        }
        LineSpan line{pos, lineEnd, lineEnd};
        if (lineEnd < end) {
            line.next =
                lineEnd +
                (text[lineEnd] == '\r' && lineEnd + 1 < end && text[lineEnd + 1] == '\n' ? 2 : 1);
        }
        if (!visit(line)) {
            return;
        }
        pos = line.next;
    }
}

// The line break that `text` uses first (CR LF, LF or CR); LF for a text without any.
std::string FirstLineBreak(std::string_view text) {
    const std::size_t at = text.find_first_of("\r\n");
    if (at == std::string_view::npos) {
        return "\n";
    }
    if (text[at] == '\r') {
        return at + 1 < text.size() && text[at + 1] == '\n' ? "\r\n" : "\r";
    }
    return "\n";
}

bool EndsWithLineBreak(std::string_view text) {
    return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

std::string_view TextOf(std::string_view text, const LineSpan& line) {
    return text.substr(line.begin, line.end - line.begin);
}

} // namespace

TSettingsFile::TSettingsFile(std::string content) : content_(std::move(content)) {
    // A UTF-8 byte order mark in front of the first line is not part of it.
    const std::size_t start = content_.starts_with(kUtf8Mark) ? kUtf8Mark.size() : 0;
    SectionBody* open = nullptr; // the first occurrence being measured, if any
    std::size_t number = 0;
    ForEachLine(content_, start, content_.size(), [&](const LineSpan& line) {
        ++number;
        const LineInfo info = Classify(TextOf(content_, line));
        if (info.kind == LineInfo::Section) {
            if (open != nullptr) {
                open->end = line.begin;
                open = nullptr;
            }
            const auto [it, inserted] = sections_.try_emplace(
                AsciiUpperCase(info.name), SectionBody{line.next, line.next, number});
            if (inserted) {
                open = &it->second;
            }
        }
        return true;
    });
    if (open != nullptr) {
        open->end = content_.size();
    }
}

std::string DecodeSettingsFile(std::string_view bytes, SettingsEncoding& encoding) {
    encoding = SettingsEncoding{};
    if (bytes.size() >= 2 && (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))) {
        const bool little = bytes[0] == '\xFF';
        encoding.Kind = little ? SettingsEncoding::Utf16LE : SettingsEncoding::Utf16BE;
        if (bytes.size() % 2 != 0) {
            encoding.OddByte = bytes.substr(bytes.size() - 1);
        }
        return Utf16ToUtf8(bytes, little ? ByteOrder::LittleEndian : ByteOrder::BigEndian);
    }
    return std::string(bytes);
}

std::string EncodeSettingsFile(std::string_view text, const SettingsEncoding& encoding) {
    if (encoding.Kind == SettingsEncoding::EightBit) {
        return std::string(text);
    }
    return Utf8ToUtf16(text, encoding.Kind == SettingsEncoding::Utf16LE ? ByteOrder::LittleEndian
                                                                        : ByteOrder::BigEndian) +
           encoding.OddByte;
}

TSettingsFile TSettingsFile::Load(const std::string& path) {
    std::optional<TSettingsFile> file = LoadExisting(path);
    return file ? std::move(*file) : TSettingsFile(std::string());
}

std::optional<TSettingsFile> TSettingsFile::LoadExisting(const std::string& path) {
    std::string content;
    if (!ReadWholeFile(path, content)) {
        return std::nullopt;
    }
    SettingsEncoding encoding;
    return TSettingsFile(DecodeSettingsFile(content, encoding));
}

const TSettingsFile::SectionBody* TSettingsFile::FindSection(std::string_view section) const {
    const auto it = sections_.find(AsciiUpperCase(section));
    return it == sections_.end() ? nullptr : &it->second;
}

std::string TSettingsFile::ReadString(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const {
    std::string result(defaultValue);
    if (const SectionBody* body = FindSection(section)) {
        ForEachLine(content_, body->begin, body->end, [&](const LineSpan& line) {
            const LineInfo info = Classify(TextOf(content_, line));
            if (info.kind == LineInfo::Key && !info.name.empty() && SameTextAscii(info.name, key)) {
                result = Unquote(info.value).substr(0, kMaxSettingsValueLength);
                return false;
            }
            return true;
        });
    }
    return result;
}

SectionKeys TSettingsFile::ReadSection(std::string_view section) const {
    SectionKeys keys;
    const SectionBody* body = FindSection(section);
    if (body == nullptr) {
        return keys;
    }
    std::size_t used = 1; // the final terminator
    ForEachLine(content_, body->begin, body->end, [&](const LineSpan& line) {
        const LineInfo info = Classify(TextOf(content_, line));
        if (info.kind != LineInfo::Key || info.name.empty()) {
            return true;
        }
        if (used + info.name.size() + 1 > kSectionKeyBufferSize) {
            keys.Cut = true;
            return false;
        }
        used += info.name.size() + 1;
        keys.Names.emplace_back(info.name);
        keys.Values.emplace_back(Unquote(info.value));
        return true;
    });
    return keys;
}

std::vector<TSettingsLine> TSettingsFile::SectionLines(std::string_view section) const {
    std::vector<TSettingsLine> lines;
    const SectionBody* body = FindSection(section);
    if (body == nullptr) {
        return lines;
    }
    std::size_t number = body->headerLine;
    ForEachLine(content_, body->begin, body->end, [&](const LineSpan& line) {
        ++number;
        const LineInfo info = Classify(TextOf(content_, line));
        if (info.kind == LineInfo::Key && !info.name.empty()) {
            lines.push_back(
                TSettingsLine{number, std::string(info.name), std::string(Unquote(info.value))});
        }
        return true;
    });
    return lines;
}

std::size_t TSettingsFile::SectionHeaderLine(std::string_view section) const {
    const SectionBody* body = FindSection(section);
    return body == nullptr ? 0 : body->headerLine;
}

std::string SetSettingsValue(std::string_view content, std::string_view section,
                             std::string_view key, std::string_view value) {
    const std::string eol = FirstLineBreak(content);
    const std::string keyLine = std::string(key) + "=" + std::string(value);
    // A byte order mark alone is no line that the new one must be put after.
    const std::size_t start = content.starts_with(kUtf8Mark) ? kUtf8Mark.size() : 0;

    // Every line of the key in every section of that name is changed: a reader that takes the
    // last one, or every one, must not find an older value there. When the first such section
    // has no line of the key (the one that this file's own reader and most others read), the
    // key is added there too, after its last non-blank line.
    struct Change {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::string text;
    };
    std::vector<Change> changes;
    bool inSection = false;
    bool inFirstSection = false;
    bool sectionFound = false;
    bool keyInFirstSection = false;
    std::size_t insertAt = 0;
    ForEachLine(content, start, content.size(), [&](const LineSpan& line) {
        const std::string_view lineText = TextOf(content, line);
        const LineInfo info = Classify(lineText);
        if (info.kind == LineInfo::Section) {
            inSection = SameTextAscii(info.name, section);
            inFirstSection = inSection && !sectionFound;
            if (inFirstSection) {
                sectionFound = true;
                insertAt = line.next;
            }
            return true;
        }
        if (inFirstSection && info.kind != LineInfo::Blank) {
            insertAt = line.next;
        }
        if (inSection && info.kind == LineInfo::Key && !info.name.empty() &&
            SameTextAscii(info.name, key)) {
            keyInFirstSection = keyInFirstSection || inFirstSection;
            // Keep everything up to the "=" and the blanks after it; replace the rest.
            if (info.hasEquals) {
                std::size_t begin = line.begin + lineText.find('=') + 1;
                while (begin < line.end && IsBlankChar(content[begin])) {
                    ++begin;
                }
                changes.push_back(Change{begin, line.end, std::string(value)});
            } else {
                const auto nameEnd =
                    static_cast<std::size_t>(info.name.data() + info.name.size() - content.data());
                changes.push_back(Change{nameEnd, line.end, "=" + std::string(value)});
            }
        }
        return true;
    });

    if (!sectionFound) {
        std::string result(content);
        if (result.size() > start && !EndsWithLineBreak(result)) {
            result += eol;
        }
        return result + "[" + std::string(section) + "]" + eol + keyLine + eol;
    }
    if (!keyInFirstSection) {
        // Every change found lies in a later section, after this point.
        const bool needsBreak = insertAt == 0 || !EndsWithLineBreak(content.substr(0, insertAt));
        changes.insert(changes.begin(),
                       Change{insertAt, insertAt, (needsBreak ? eol : "") + keyLine + eol});
    }
    std::string result;
    std::size_t from = 0;
    for (const Change& change : changes) {
        result.append(content.substr(from, change.begin - from));
        result += change.text;
        from = change.end;
    }
    result.append(content.substr(from));
    return result;
}

namespace {

[[noreturn]] void RaiseWriteError(const std::string& path) {
    throw EIniFileException("Unable to write to " + path);
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

enum class Replaced { Done, NotKept };

// Writes `content` to a temporary file beside `target` and renames it over `target`. For an
// existing file (`old` not null) NotKept, with nothing changed, when the new file could not
// keep everything of the old one; raises when writing or renaming fails.
Replaced ReplaceAtomically(const std::string& path, const std::string& target,
                           const struct stat* old, std::string_view content) {
    if (old != nullptr && old->st_nlink > 1) {
        return Replaced::NotKept;  // a new file would leave the other names with the old content
    }
    // The copy of an existing file is its owner's alone until it has the old file's mode: a
    // file that others may not read (one that holds a password) must not be readable on the
    // way, where another user could open it and read what is written into it later.
    TempFile temp(target, old != nullptr ? 0600 : 0666);
    if (!temp.Opened()) {
        if (old == nullptr) {
            RaiseWriteError(path);
        }
        return Replaced::NotKept;  // the folder is not writable
    }
    if (old != nullptr && !KeepFileAttributes(temp.Fd(), target, *old)) {
        return Replaced::NotKept;
    }
    if (!temp.WriteAll(content) || !temp.Commit(target)) {
        RaiseWriteError(path);
    }
    // Make the rename itself durable; the new content is complete either way.
    const int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return Replaced::Done;
}

// Rewrites the existing file `target` (described by `old`, holding `oldContent`) in place with
// `content`: the same inode, so links, owner, group, mode and ACLs stay. Room for a longer
// content is reserved first, so that a full disk stops the write before any byte changed;
// then only the bytes from the first difference on are written.
void RewriteInPlace(const std::string& path, const std::string& target, const struct stat& old,
                    std::string_view oldContent, std::string_view content) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        RaiseWriteError(path);
    }
    const FdCloser closer(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_dev != old.st_dev || st.st_ino != old.st_ino ||
        !S_ISREG(st.st_mode)) {
        RaiseWriteError(path);  // replaced by another file since it was read
    }
    const auto size = static_cast<off_t>(content.size());
    if (size > st.st_size &&
        ::fallocate(fd, FALLOC_FL_KEEP_SIZE, st.st_size, size - st.st_size) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
        RaiseWriteError(path);
    }
    const auto differ =
        std::mismatch(oldContent.begin(), oldContent.end(), content.begin(), content.end());
    const auto first = static_cast<std::size_t>(differ.second - content.begin());
    if (!WriteAllAt(fd, content.substr(first), static_cast<off_t>(first)) ||
        (size != st.st_size && ::ftruncate(fd, size) != 0) || ::fsync(fd) != 0) {
        RaiseWriteError(path);
    }
}

} // namespace

void WriteSetupStatus(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view value) {
    const std::string target = FinalTarget(path);
    if (target.empty()) {
        RaiseWriteError(path);
    }
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) {
        RaiseWriteError(path);
    }
    std::string content;
    if (exists) {
        // The rename would bypass the file's own permissions, so they are checked here: a file
        // that nobody may write stays untouched, also when root runs the upgrade.
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 ||
            ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            RaiseWriteError(path);
        }
        // Content that cannot be read cannot be kept, so it is not replaced either.
        if (!ReadWholeFile(target, content)) {
            RaiseWriteError(path);
        }
    }
    SettingsEncoding encoding;
    const std::string updated = EncodeSettingsFile(
        SetSettingsValue(DecodeSettingsFile(content, encoding), section, key, value), encoding);
    if (ReplaceAtomically(path, target, exists ? &st : nullptr, updated) == Replaced::NotKept) {
        RewriteInPlace(path, target, st, content, updated);
    }
}

} // namespace runner

// The INI-style settings file: reading values and the key list of a section, and writing one
// value back while every other byte of the file stays as it was.
#pragma once

#include "ibclient/Errors.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace runner {

// Raised when a settings file cannot be written ("Unable to write to <path>").
class EIniFileException : public ibclient::Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EIniFileException"; }
};

// ReadString reads a value with at most this many characters; longer values are cut. The key
// lists of a section give values whole, and the runner refuses a database name longer than
// this instead of taking a part of it.
constexpr std::size_t kMaxSettingsValueLength = 2047;
// The key names of one section are read through a buffer of this many characters: every
// name followed by a terminator, plus a final terminator.
constexpr std::size_t kSectionKeyBufferSize = 16384;

// The key lines of a section in file order, as far as their names fit into
// kSectionKeyBufferSize. Every line is an entry of its own, also when its name occurs twice.
struct SectionKeys {
    std::vector<std::string> Names;
    // Each line's own value, read as ReadString reads one but never cut (same index as Names).
    std::vector<std::string> Values;
    // True when names were left out because the buffer was full. A name that did not fit
    // whole is left out rather than passed on cut (a cut name can match a different key).
    bool Cut = false;
};

// How the bytes of a settings file stand for its text, which is handled as UTF-8. A file that
// starts with a UTF-16 byte order mark is UTF-16 in that byte order (the mark is part of the
// text). Any other file is 8-bit text: UTF-8 when it has a UTF-8 byte order mark or is
// well-formed UTF-8 with characters beyond ASCII, otherwise text in the system's code page
// (platform::ActiveCodePageToUtf8: on Windows the active code page, on POSIX taken byte for
// byte). The file is written back in its own form.
struct SettingsEncoding {
    enum Form { EightBit, ActiveCodePage, Utf16LE, Utf16BE } Kind = EightBit;
    // The last byte of a UTF-16 file of odd length, which is no character; kept at the end.
    std::string OddByte;
};

// The text of the file content `bytes`, and in `encoding` how to write it back.
std::string DecodeSettingsFile(std::string_view bytes, SettingsEncoding& encoding);

// The file content for `text` in `encoding`.
std::string EncodeSettingsFile(std::string_view text, const SettingsEncoding& encoding);

// One key line of a section: its line number in the file (from 1), the key name and the
// value as ReadString gives it, but never cut.
struct TSettingsLine {
    std::size_t Number = 0;
    std::string Name;
    std::string Value;
};

// The parsed lines of one settings file. A line ends at CR LF, LF or a lone CR. Section and
// key names match without regard to the case of ASCII letters; names and values are trimmed of
// characters with codes up to 32; a line whose first character is ";" is a comment. When a
// section or key occurs twice, the first occurrence counts.
class TSettingsFile {
  public:
    // Parses `content` (bytes as they stand in the file).
    explicit TSettingsFile(std::string content);

    // Reads the file at `path` (UTF-16 as UTF-8, see SettingsEncoding); a file that is missing
    // or cannot be read reads as empty.
    static TSettingsFile Load(const std::string& path);

    // Reads the regular file at `path`; nullopt when it is missing, no regular file or
    // cannot be read.
    static std::optional<TSettingsFile> LoadExisting(const std::string& path);

    // The value of `key` in `section` with one pair of matching quotes (' or ") removed and
    // cut to kMaxSettingsValueLength characters; `defaultValue` when there is no such key.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;

    // The key lines of `section` in file order, each with its own value.
    SectionKeys ReadSection(std::string_view section) const;

    // Every key line of the first section named `section`, in file order (a key that occurs
    // twice is listed twice, each line with its own value).
    std::vector<TSettingsLine> SectionLines(std::string_view section) const;

    // The line number of the header of the first section named `section`; 0 when there is
    // no such section.
    std::size_t SectionHeaderLine(std::string_view section) const;

  private:
    // Byte range of a section's lines (after its header, up to the next header) and the line
    // number of its header.
    struct SectionBody {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::size_t headerLine = 0;
    };
    // The body of the first section named `section`, or null.
    const SectionBody* FindSection(std::string_view section) const;

    std::string content_;
    // First occurrence of each section, by name with ASCII letters in upper case.
    std::unordered_map<std::string, SectionBody> sections_;
};

// `content` with the value of `key` in `section` set to `value`: every line of the key in every
// section of that name is changed in place (so that no reader, whichever occurrence it takes,
// finds an older value); without any, the key is added at the end of the first such section,
// and without such a section, the section is added at the end of the file. Every other byte
// stays; new lines take the line break the file uses first (CR LF, LF or CR; LF for a file
// that has none).
std::string SetSettingsValue(std::string_view content, std::string_view section,
                             std::string_view key, std::string_view value);

// Writes `value` for `key` in `section` of the settings file at `path` (SetSettingsValue),
// creating file, section or key as needed and keeping all other content, in the file's own
// encoding. The file is
// replaced atomically where that keeps everything about it: the new content goes to a
// temporary file in the same folder, which gets the old file's mode, owner, group and
// extended attributes (ACLs), is flushed to disk and renamed over the old one. Where that
// cannot be done (the folder is not writable, the file has more than one hard link, or the
// owner, group, mode or an attribute cannot be given to a new file) the file is rewritten in
// place instead: only the bytes from the first change on, after room for a longer content has
// been reserved, then truncated and flushed. A crash during that rewrite can leave the file
// damaged, which is why it is only the fallback. A symbolic link is kept and the file it
// points to is written. A file without any write permission bit counts as read-only, also for
// root. Raises EIniFileException "Unable to write to <path>" when the file cannot be written;
// the old file is then unchanged, except when an in-place rewrite failed half-way.
void WriteSetupStatus(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view value);

} // namespace runner

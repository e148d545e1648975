// Reading and writing the INI-style settings file.
#include "runner/Settings.h"

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Unicode.h"

#include <algorithm>
#include <optional>

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
    const std::string_view trimmed = platform::Trim(text);
    if (trimmed.empty()) {
        return info;
    }
    if (trimmed.front() == '[') {
        const std::size_t close = trimmed.rfind(']');
        if (close != std::string_view::npos && close > 0) {
            info.kind = LineInfo::Section;
            info.name = platform::Trim(trimmed.substr(1, close - 1));
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
        info.name = platform::Trim(trimmed.substr(0, eq));
        info.value = platform::Trim(trimmed.substr(eq + 1));
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
                platform::AsciiUpperCase(info.name), SectionBody{line.next, line.next, number});
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
        return platform::Utf16ToUtf8(bytes, little ? platform::ByteOrder::LittleEndian
                                                   : platform::ByteOrder::BigEndian);
    }
    if (bytes.starts_with(kUtf8Mark) || platform::IsUtf8WithNonAscii(bytes)) {
        return std::string(bytes);
    }
    encoding.Kind = SettingsEncoding::ActiveCodePage;
    return platform::ActiveCodePageToUtf8(bytes);
}

std::string EncodeSettingsFile(std::string_view text, const SettingsEncoding& encoding) {
    switch (encoding.Kind) {
    case SettingsEncoding::EightBit:
        return std::string(text);
    case SettingsEncoding::ActiveCodePage:
        return platform::Utf8ToActiveCodePage(text);
    case SettingsEncoding::Utf16LE:
    case SettingsEncoding::Utf16BE:
        break;
    }
    return platform::Utf8ToUtf16(text, encoding.Kind == SettingsEncoding::Utf16LE
                                           ? platform::ByteOrder::LittleEndian
                                           : platform::ByteOrder::BigEndian) +
           encoding.OddByte;
}

TSettingsFile TSettingsFile::Load(const std::string& path) {
    std::optional<TSettingsFile> file = LoadExisting(path);
    return file ? std::move(*file) : TSettingsFile(std::string());
}

std::optional<TSettingsFile> TSettingsFile::LoadExisting(const std::string& path) {
    const std::optional<std::string> content = platform::ReadRegularFile(path);
    if (!content) {
        return std::nullopt;
    }
    SettingsEncoding encoding;
    return TSettingsFile(DecodeSettingsFile(*content, encoding));
}

const TSettingsFile::SectionBody* TSettingsFile::FindSection(std::string_view section) const {
    const auto it = sections_.find(platform::AsciiUpperCase(section));
    return it == sections_.end() ? nullptr : &it->second;
}

std::string TSettingsFile::ReadString(std::string_view section, std::string_view key,
                                      std::string_view defaultValue) const {
    std::string result(defaultValue);
    if (const SectionBody* body = FindSection(section)) {
        ForEachLine(content_, body->begin, body->end, [&](const LineSpan& line) {
            const LineInfo info = Classify(TextOf(content_, line));
            if (info.kind == LineInfo::Key && !info.name.empty() &&
                platform::SameTextAscii(info.name, key)) {
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
            inSection = platform::SameTextAscii(info.name, section);
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
            platform::SameTextAscii(info.name, key)) {
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

void WriteSetupStatus(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view value) {
    const platform::ReplaceOutcome outcome =
        platform::ReplaceFileContent(path, [&](std::string_view content) {
            SettingsEncoding encoding;
            return EncodeSettingsFile(
                SetSettingsValue(DecodeSettingsFile(content, encoding), section, key, value),
                encoding);
        });
    if (outcome == platform::ReplaceOutcome::NotWritten ||
        outcome == platform::ReplaceOutcome::Damaged) {
        throw EIniFileException("Unable to write to " + path);
    }
}

} // namespace runner

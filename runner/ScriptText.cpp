// Recognition of a script's encoding and its conversion to Windows-1251 through iconv.
#include "runner/ScriptText.h"

#include "runner/Unicode.h"

#include "ibclient/Errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <iconv.h>

namespace runner {

namespace {

constexpr char kCtrlZ = 26;
constexpr const char* kTargetCharset = "WINDOWS-1251";

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEMark = "\xFF\xFE";
constexpr std::string_view kUtf16BEMark = "\xFE\xFF";

// The strict one-character decoders in the form Convert takes: the length of the well-formed
// character at the start of the text, 0 when there is none.
std::size_t Utf8CharLength(std::string_view text, char32_t& codePoint) noexcept {
    return DecodeUtf8(text, codePoint);
}

template <ByteOrder Order>
std::size_t Utf16CharLength(std::string_view text, char32_t& codePoint) noexcept {
    return DecodeUtf16(text, Order, codePoint);
}

using CharLength = std::size_t (*)(std::string_view, char32_t&) noexcept;

bool IsValidUtf8WithNonAscii(std::string_view text) noexcept {
    bool nonAscii = false;
    char32_t codePoint = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        // Runs of ASCII, the bulk of most scripts, eight bytes at a time.
        std::uint64_t word = 0;
        if (at + sizeof word <= text.size() &&
            (std::memcpy(&word, text.data() + at, sizeof word), (word & 0x8080808080808080u) == 0)) {
            at += sizeof word;
            continue;
        }
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
            continue;
        }
        const std::size_t length = DecodeUtf8(text.substr(at), codePoint);
        if (length == 0) {
            return false;
        }
        nonAscii = true;
        at += length;
    }
    return nonAscii;
}

// One iconv conversion descriptor, closed when destroyed.
class Converter {
  public:
    explicit Converter(const char* from) : cd_(::iconv_open(kTargetCharset, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw ibclient::Exception(std::string("Cannot convert script text from ") + from +
                                      " to " + kTargetCharset + ": " + std::strerror(errno));
        }
    }
    ~Converter() { ::iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    iconv_t Get() const noexcept { return cd_; }

  private:
    iconv_t cd_;
};

// Converts `source` to Windows-1251 into `result`. Where iconv stops at a character it cannot
// convert (EILSEQ) or at an incomplete one at the end (EINVAL), a "?" stands in the text, the
// place is recorded and conversion goes on after it: after the whole character when it is one
// of the source encoding, after one code unit (`unitSize` bytes) when it is not. No //TRANSLIT or //IGNORE is asked
// for, so iconv never replaces or drops a character by itself.
void Convert(std::string_view source, const char* from, CharLength charLength,
             std::size_t unitSize, TScriptText& result) {
    const Converter converter(from);
    // Every source character (at least one byte) gives one Windows-1251 byte.
    std::string& text = result.Text;
    text.assign(source.size(), '\0');
    std::size_t written = 0;
    std::size_t line = 1;
    std::size_t linesCountedTo = 0;

    std::size_t consumed = 0;
    while (consumed < source.size()) {
        // iconv takes a non-const input pointer but does not write through it.
        char* in = const_cast<char*>(source.data()) + consumed;
        std::size_t inLeft = source.size() - consumed;
        char* out = text.data() + written;
        std::size_t outLeft = text.size() - written;
        const std::size_t rc = ::iconv(converter.Get(), &in, &inLeft, &out, &outLeft);
        consumed = source.size() - inLeft;
        written = text.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1)) {
            break;
        }
        if (errno != EILSEQ && errno != EINVAL) {
            throw ibclient::Exception(std::string("Cannot convert script text from ") + from +
                                      ": " + std::strerror(errno));
        }
        for (; linesCountedTo < written; ++linesCountedTo) {
            line += text[linesCountedTo] == '\n' ? 1 : 0;
        }
        TUnconvertible place;
        place.Line = line;
        place.Offset = written;
        const std::size_t length = charLength(source.substr(consumed), place.CodePoint);
        place.Malformed = length == 0;
        if (place.Malformed) {
            place.CodePoint = 0;
        }
        result.Unconvertible.push_back(place);
        text[written++] = '?';
        consumed += place.Malformed ? std::min(unitSize, source.size() - consumed) : length;
    }
    text.resize(written);
}

} // namespace

const char* EncodingName(ScriptEncoding encoding) noexcept {
    switch (encoding) {
    case ScriptEncoding::Unchanged:
        return "Windows-1251";
    case ScriptEncoding::Utf8:
        return "UTF-8";
    case ScriptEncoding::Utf8WithMark:
        return "UTF-8 with byte-order mark";
    case ScriptEncoding::Utf16LE:
        return "UTF-16LE";
    case ScriptEncoding::Utf16BE:
        return "UTF-16BE";
    }
    return "Windows-1251";
}

namespace {

// Both forms of DecodeScript; `owned`, when given, holds the same bytes as `bytes` and is
// moved into the result of an unchanged script instead of copied.
TScriptText Decode(std::string_view bytes, std::string* owned) {
    TScriptText result;
    if (bytes.starts_with(kUtf16LEMark) || bytes.starts_with(kUtf16BEMark)) {
        const bool bigEndian = bytes.starts_with(kUtf16BEMark);
        result.Encoding = bigEndian ? ScriptEncoding::Utf16BE : ScriptEncoding::Utf16LE;
        Convert(bytes.substr(2), bigEndian ? "UTF-16BE" : "UTF-16LE",
                bigEndian ? &Utf16CharLength<ByteOrder::BigEndian>
                          : &Utf16CharLength<ByteOrder::LittleEndian>, 2, result);
        // Ctrl-Z ends the script here too; a byte 26 inside another UTF-16 character does not.
        const std::size_t end = result.Text.find(kCtrlZ);
        if (end != std::string::npos) {
            result.Text.resize(end);
            std::erase_if(result.Unconvertible,
                          [end](const TUnconvertible& place) { return place.Offset >= end; });
        }
        return result;
    }

    bytes = bytes.substr(0, bytes.find(kCtrlZ));
    if (bytes.starts_with(kUtf8Mark)) {
        result.Encoding = ScriptEncoding::Utf8WithMark;
        Convert(bytes.substr(kUtf8Mark.size()), "UTF-8", &Utf8CharLength, 1, result);
    } else if (IsValidUtf8WithNonAscii(bytes)) {
        result.Encoding = ScriptEncoding::Utf8;
        Convert(bytes, "UTF-8", &Utf8CharLength, 1, result);
    } else if (owned != nullptr) {
        owned->resize(bytes.size());
        result.Text = std::move(*owned);
    } else {
        result.Text.assign(bytes);
    }
    return result;
}

} // namespace

TScriptText DecodeScript(std::string_view bytes) {
    return Decode(bytes, nullptr);
}

TScriptText DecodeScript(std::string&& bytes) {
    return Decode(bytes, &bytes);
}

std::string UnconvertibleMessage(const std::vector<TUnconvertible>& places,
                                 ScriptEncoding encoding) {
    // One clause for the first place of each line; a line full of such characters would
    // otherwise make an entry longer than the statement.
    constexpr std::size_t kMaxClauses = 10;
    const bool utf16 = encoding == ScriptEncoding::Utf16LE || encoding == ScriptEncoding::Utf16BE;
    std::string message =
        "The statement holds text that the connection character set WIN1251 cannot represent:";
    std::size_t clauses = 0;
    std::size_t lastLine = 0;
    for (const TUnconvertible& place : places) {
        if (place.Line == lastLine) {
            continue;
        }
        lastLine = place.Line;
        if (clauses == kMaxClauses) {
            message += ", ...";
            break;
        }
        message += clauses++ == 0 ? " " : ", ";
        message += "line " + std::to_string(place.Line) + " (";
        if (place.Malformed) {
            message += utf16 ? "bytes that are not UTF-16" : "bytes that are not UTF-8";
        } else {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(place.CodePoint));
            message += code;
        }
        message += ")";
    }
    return message;
}

} // namespace runner

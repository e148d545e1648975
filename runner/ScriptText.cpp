// Recognition of a script's encoding and its conversion to Windows-1251.
#include "runner/ScriptText.h"

#include "platform/CodePage.h"
#include "platform/Unicode.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace runner {

namespace {

constexpr char kCtrlZ = 26;

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEMark = "\xFF\xFE";
constexpr std::string_view kUtf16BEMark = "\xFE\xFF";

// Converts `source` to Windows-1251 into `result`: each character that code page lacks, and
// each code unit that is no character of `from`, becomes one "?" and is recorded with its line.
// Nothing is replaced by a look-alike and nothing is dropped.
void Convert(std::string_view source, platform::UnicodeForm from, TScriptText& result) {
    std::vector<platform::TUnmappedPlace> places;
    result.Text = platform::UnicodeToWindows1251(source, from, places);
    std::size_t line = 1;
    std::size_t linesCountedTo = 0;
    for (const platform::TUnmappedPlace& unmapped : places) {
        for (; linesCountedTo < unmapped.TextOffset; ++linesCountedTo) {
            line += result.Text[linesCountedTo] == '\n' ? 1 : 0;
        }
        TUnconvertible place;
        place.Line = line;
        place.Offset = unmapped.TextOffset;
        place.CodePoint = unmapped.Malformed ? 0 : unmapped.CodePoint;
        place.Malformed = unmapped.Malformed;
        result.Unconvertible.push_back(place);
    }
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
        Convert(bytes.substr(2),
                bigEndian ? platform::UnicodeForm::Utf16BE : platform::UnicodeForm::Utf16LE,
                result);
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
        Convert(bytes.substr(kUtf8Mark.size()), platform::UnicodeForm::Utf8, result);
    } else if (platform::IsUtf8WithNonAscii(bytes)) {
        result.Encoding = ScriptEncoding::Utf8;
        Convert(bytes, platform::UnicodeForm::Utf8, result);
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

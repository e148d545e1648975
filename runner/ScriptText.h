// The script's text in the connection character set: how the bytes of a script file are
// recognised (UTF-8 with or without a byte-order mark, UTF-16 with one, or Windows-1251
// passed unchanged) and turned into the Windows-1251 text that every database is attached
// with, with each character that cannot be converted recorded by its line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace runner {

// How the bytes of a script were read.
enum class ScriptEncoding {
    Unchanged,    // passed byte for byte: Windows-1251 text, or nothing but ASCII
    Utf8,         // valid UTF-8 with at least one non-ASCII character, no byte-order mark
    Utf8WithMark, // began with the UTF-8 byte-order mark
    Utf16LE,      // began with the little-endian UTF-16 byte-order mark
    Utf16BE,      // began with the big-endian UTF-16 byte-order mark
};

// The name of an encoding for messages: "Windows-1251", "UTF-8", "UTF-8 with byte-order
// mark", "UTF-16LE", "UTF-16BE".
const char* EncodingName(ScriptEncoding encoding) noexcept;

// One place of the source that has no Windows-1251 form: a character that code page lacks,
// or (Malformed) bytes that are no character of the source encoding. The converted text holds
// one "?" in its place, so the statement on that line must never reach a server.
struct TUnconvertible {
    std::size_t Line = 0;     // 1-based; a line ends at each LF, as the script reader counts
    std::size_t Offset = 0;   // position of the "?" in the converted text
    char32_t CodePoint = 0;   // the character; 0 when Malformed
    bool Malformed = false;
};

struct TScriptText {
    // The script in Windows-1251, without a byte-order mark, ending before the first Ctrl-Z
    // (code 26), which ends the script. Line breaks and every other byte stay as they were.
    std::string Text;
    ScriptEncoding Encoding = ScriptEncoding::Unchanged;
    // In the order of the text; empty for an Unchanged script.
    std::vector<TUnconvertible> Unconvertible;
};

// Recognises and converts the raw bytes of a whole script file (platform::UnicodeToWindows1251
// does the character conversion):
// - a UTF-8 or UTF-16 (LE or BE) byte-order mark: the text after it is converted;
// - no mark, valid UTF-8 throughout and at least one non-ASCII character: converted as UTF-8;
// - anything else: passed unchanged.
// For the UTF-8 test and for the unchanged text the script ends at its first Ctrl-Z byte; for
// UTF-16 at the first Ctrl-Z character. Raises platform::Exception when the system offers no
// such conversion.
TScriptText DecodeScript(std::string_view bytes);
// The same for bytes the caller hands over: an unchanged script keeps their buffer.
TScriptText DecodeScript(std::string&& bytes);
inline TScriptText DecodeScript(const char* bytes) {
    return DecodeScript(std::string_view(bytes));
}

// The message of a statement that holds the given unconvertible places (not empty), naming
// the first place of each line (at most ten lines): "The statement holds text that the
// connection character set WIN1251 cannot represent: line 3 (U+4E2D), line 5 (bytes that are
// not UTF-8)".
std::string UnconvertibleMessage(const std::vector<TUnconvertible>& places,
                                 ScriptEncoding encoding);

} // namespace runner

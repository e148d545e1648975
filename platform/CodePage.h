// Conversion between Windows-1251 (the code page every database is attached with) and
// Unicode, and between the system's 8-bit text (Windows: the active code page) and UTF-8.
// POSIX converts with the C library's iconv, Windows with its own code page tables.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The Unicode forms that text is converted from.
enum class UnicodeForm { Utf8, Utf16LE, Utf16BE };

// The length of the well-formed character of `form` at the start of `text` (one to four bytes
// of UTF-8, two or four of UTF-16), its value in `codePoint`; 0 when there is none.
std::size_t DecodeCharacter(std::string_view text, UnicodeForm form, char32_t& codePoint) noexcept;

// One place of the source that has no Windows-1251 form: a character that code page lacks, or
// (Malformed) a code unit that is no character of the source form.
struct TUnmappedPlace {
    std::size_t SourceOffset = 0;  // where it begins in the source
    std::size_t TextOffset = 0;    // position of its "?" in the converted text
    char32_t CodePoint = 0;        // the character; 0 when Malformed
    bool Malformed = false;
};

// `source` in `from` as Windows-1251 text, one byte per character. Each character that code
// page lacks becomes one "?", as does each code unit (one byte of UTF-8, two of UTF-16) that is
// no character of `from`, and each is recorded in `unmapped`, in text order. Nothing is
// replaced by a look-alike and nothing is dropped. Raises platform::Exception when the system
// offers no such conversion.
std::string UnicodeToWindows1251(std::string_view source, UnicodeForm from,
                                 std::vector<TUnmappedPlace>& unmapped);

// Windows-1251 text as UTF-8. A byte that stands for no character (0x98) becomes U+FFFD.
std::string Windows1251ToUtf8(std::string_view text);

// Windows-1251 text as UTF-16LE code units (two bytes each, no byte-order mark); 0x98 becomes
// U+FFFD.
std::string Windows1251ToUtf16LE(std::string_view text);

// The system's 8-bit text as UTF-8. POSIX: unchanged (a settings file is taken byte for byte).
// Windows: from the active code page (GetACP(); 1251 on a Russian system).
std::string ActiveCodePageToUtf8(std::string_view text);

// UTF-8 as the system's 8-bit text: unchanged on POSIX; on Windows in the active code page,
// with "?" for a character it lacks (`lossless`, when given, tells whether none did).
std::string Utf8ToActiveCodePage(std::string_view text, bool* lossless = nullptr);

}  // namespace platform

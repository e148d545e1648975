// Code points in UTF-8 and UTF-16: decoding one character at a time, encoding, and the
// lossless conversion between UTF-16 text (with either byte order) and UTF-8. In that
// conversion a code unit that is half of a surrogate pair without its other half becomes the
// three-byte form of its own value, so that every sequence of code units comes back unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

enum class ByteOrder { LittleEndian, BigEndian };

// Whether the UTF-8 decoder takes the three-byte forms of U+D800..U+DFFF as characters. They
// are none in well-formed UTF-8; the lossless UTF-16 conversion writes them for lone
// surrogates and must read them back.
enum class Surrogates { Rejected, Accepted };

// The length of the well-formed UTF-8 character at the start of `text`, 0 when there is none
// (empty or cut-off text, a stray continuation byte, an overlong form, a value past U+10FFFF,
// or a surrogate value unless `surrogates` accepts it); its value goes to `codePoint`, which
// is left alone when the result is 0.
std::size_t DecodeUtf8(std::string_view text, char32_t& codePoint,
                       Surrogates surrogates = Surrogates::Rejected) noexcept;

// The length of the well-formed UTF-16 character in `order` (one code unit, two bytes, or a
// surrogate pair, four) at the start of `text`, 0 when there is none (fewer than two bytes, a
// lone surrogate); its value goes to `codePoint`, which is left alone when the result is 0.
std::size_t DecodeUtf16(std::string_view text, ByteOrder order, char32_t& codePoint) noexcept;

// Appends `codePoint` (at most U+10FFFF; surrogate values too) to `out` as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// The code units in `bytes` (two bytes each, in `order`) as UTF-8. A last odd byte is no code
// unit and is not part of the result.
std::string Utf16ToUtf8(std::string_view bytes, ByteOrder order);

// `text` as UTF-16 code units in `order`. Bytes that are no UTF-8 (nor the three-byte form of
// a lone surrogate) become U+FFFD.
std::string Utf8ToUtf16(std::string_view text, ByteOrder order);

// True when `text` is well-formed UTF-8 throughout and holds at least one character beyond
// ASCII: the test that tells a UTF-8 file without byte-order mark from 8-bit code-page text.
bool IsUtf8WithNonAscii(std::string_view text) noexcept;

}  // namespace platform

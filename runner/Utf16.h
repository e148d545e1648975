// UTF-16 text (with either byte order) to UTF-8 and back, losslessly: a code unit that is half
// of a surrogate pair without its other half becomes the three-byte form of its own value, so
// that every sequence of code units comes back unchanged.
#pragma once

#include <string>
#include <string_view>

namespace runner {

enum class ByteOrder { LittleEndian, BigEndian };

// The code units in `bytes` (two bytes each, in `order`) as UTF-8. A last odd byte is no code
// unit and is not part of the result.
std::string Utf16ToUtf8(std::string_view bytes, ByteOrder order);

// `text` as UTF-16 code units in `order`. Bytes that are no UTF-8 (nor the three-byte form of
// a lone surrogate) become U+FFFD.
std::string Utf8ToUtf16(std::string_view text, ByteOrder order);

}  // namespace runner

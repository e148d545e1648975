// The characters of the Unicode forms, shared by both systems' conversions.
#include "platform/CodePage.h"

#include "platform/Unicode.h"

namespace platform {

std::size_t DecodeCharacter(std::string_view text, UnicodeForm form, char32_t& codePoint) noexcept {
    switch (form) {
    case UnicodeForm::Utf16LE:
        return DecodeUtf16(text, ByteOrder::LittleEndian, codePoint);
    case UnicodeForm::Utf16BE:
        return DecodeUtf16(text, ByteOrder::BigEndian, codePoint);
    case UnicodeForm::Utf8:
        break;
    }
    return DecodeUtf8(text, codePoint);
}

}  // namespace platform

// Conversion between UTF-16 and UTF-8.
#include "runner/Utf16.h"

#include <cstdint>

namespace runner {

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUnit(std::string& out, std::uint32_t unit, ByteOrder order) {
    const char high = static_cast<char>((unit >> 8) & 0xFF);
    const char low = static_cast<char>(unit & 0xFF);
    if (order == ByteOrder::LittleEndian) {
        out += low;
        out += high;
    } else {
        out += high;
        out += low;
    }
}

constexpr bool IsHighSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool IsLowSurrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The code point of the UTF-8 sequence at `text[pos]` and its length; a byte that starts no
// well-formed sequence gives U+FFFD and length 1. Surrogate values are accepted.
std::uint32_t DecodeUtf8(std::string_view text, std::size_t pos, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    length = 1;
    if (lead < 0x80) {
        return lead;
    }
    std::size_t count = 0;
    std::uint32_t cp = 0;
    std::uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0xFFFD;
    }
    if (pos + count > text.size()) {
        return 0xFFFD;
    }
    for (std::size_t i = 1; i < count; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0xFFFD;
        }
        cp = (cp << 6) | (byte(i) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF) {
        return 0xFFFD;
    }
    length = count;
    return cp;
}

}  // namespace

std::string Utf16ToUtf8(std::string_view bytes, ByteOrder order) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    const auto unitAt = [&](std::size_t i) -> std::uint32_t {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        return order == ByteOrder::LittleEndian ? (second << 8) | first : (first << 8) | second;
    };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit = unitAt(i);
        if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(unitAt(i + 1))) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::string Utf8ToUtf16(std::string_view text, ByteOrder order) {
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t length = 0;
        const std::uint32_t cp = DecodeUtf8(text, pos, length);
        pos += length;
        if (cp >= 0x10000) {
            AppendUnit(out, 0xD800 + ((cp - 0x10000) >> 10), order);
            AppendUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF), order);
        } else {
            AppendUnit(out, cp, order);
        }
    }
    return out;
}

}  // namespace runner

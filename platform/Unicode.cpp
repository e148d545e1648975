// Decoding and encoding of UTF-8 and UTF-16 code points.
#include "platform/Unicode.h"

#include <cstdint>
#include <cstring>

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

constexpr bool IsSurrogate(char32_t value) {
    return value >= 0xD800 && value <= 0xDFFF;
}
constexpr bool IsHighSurrogate(char32_t value) {
    return value >= 0xD800 && value <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t value) {
    return value >= 0xDC00 && value <= 0xDFFF;
}

// The code unit in the two bytes at `text[at]`.
char32_t UnitAt(std::string_view text, std::size_t at, ByteOrder order) noexcept {
    const auto first = static_cast<unsigned char>(text[at]);
    const auto second = static_cast<unsigned char>(text[at + 1]);
    return order == ByteOrder::BigEndian ? (char32_t{first} << 8) | second
                                         : (char32_t{second} << 8) | first;
}

void AppendUnit(std::string& out, char32_t unit, ByteOrder order) {
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

}  // namespace

std::size_t DecodeUtf8(std::string_view text, char32_t& codePoint, Surrogates surrogates) noexcept {
    if (text.empty()) {
        return 0;
    }
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) {
            return 0;
        }
        value = (value << 6) | (byte(i) & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF ||
        (surrogates == Surrogates::Rejected && IsSurrogate(value))) {
        return 0;
    }
    codePoint = value;
    return length;
}

std::size_t DecodeUtf16(std::string_view text, ByteOrder order, char32_t& codePoint) noexcept {
    if (text.size() < 2) {
        return 0;
    }
    const char32_t high = UnitAt(text, 0, order);
    if (!IsSurrogate(high)) {
        codePoint = high;
        return 2;
    }
    if (!IsHighSurrogate(high) || text.size() < 4) {
        return 0;
    }
    const char32_t low = UnitAt(text, 2, order);
    if (!IsLowSurrogate(low)) {
        return 0;
    }
    codePoint = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
    return 4;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

std::string Utf16ToUtf8(std::string_view bytes, ByteOrder order) {
    std::string out;
    out.reserve(bytes.size());
    const std::string_view units = bytes.substr(0, bytes.size() / 2 * 2);
    for (std::size_t at = 0; at < units.size();) {
        char32_t codePoint = 0;
        const std::size_t length = DecodeUtf16(units.substr(at), order, codePoint);
        if (length == 0) {
            // A lone surrogate keeps its own value.
            AppendUtf8(out, UnitAt(units, at, order));
            at += 2;
        } else {
            AppendUtf8(out, codePoint);
            at += length;
        }
    }
    return out;
}

std::string Utf8ToUtf16(std::string_view text, ByteOrder order) {
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t at = 0; at < text.size();) {
        char32_t codePoint = kReplacement;
        const std::size_t length = DecodeUtf8(text.substr(at), codePoint, Surrogates::Accepted);
        if (length == 0) {
            codePoint = kReplacement;
        }
        at += length == 0 ? 1 : length;
        if (codePoint >= 0x10000) {
            AppendUnit(out, 0xD800 + ((codePoint - 0x10000) >> 10), order);
            AppendUnit(out, 0xDC00 + ((codePoint - 0x10000) & 0x3FF), order);
        } else {
            AppendUnit(out, codePoint, order);
        }
    }
    return out;
}

bool IsUtf8WithNonAscii(std::string_view text) noexcept {
    bool nonAscii = false;
    char32_t codePoint = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        // Runs of ASCII, the bulk of most scripts, eight bytes at a time.
        std::uint64_t word = 0;
        if (at + sizeof word <= text.size() && (std::memcpy(&word, text.data() + at, sizeof word),
                                                (word & 0x8080808080808080u) == 0)) {
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

}  // namespace platform

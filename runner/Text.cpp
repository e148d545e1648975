// Text helpers shared by the runner's script handling.
#include "runner/Text.h"

#include <cstdint>

namespace runner {

namespace {

constexpr bool IsTrimmed(char c) noexcept {
    return static_cast<unsigned char>(c) <= 32;
}

constexpr char AsciiUpper(char c) noexcept {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::string_view Trim(std::string_view text) noexcept {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsTrimmed(text[begin])) {
        ++begin;
    }
    while (end > begin && IsTrimmed(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::string AsciiUpperCase(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = AsciiUpper(c);
    }
    return result;
}

bool StartsWithAsciiUpper(std::string_view text, std::string_view upperPrefix) noexcept {
    return text.size() >= upperPrefix.size() &&
           SameTextAscii(text.substr(0, upperPrefix.size()), upperPrefix);
}

bool SameTextAscii(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

std::string HexHash(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string digits(16, '0');
    for (std::size_t i = digits.size(); i-- > 0; hash >>= 4) {
        digits[i] = kDigits[hash & 0xF];
    }
    return digits;
}

} // namespace runner

// Text helpers shared by the script reader, the statement runner and the script variables:
// trimming and the ASCII-only case handling of the runner's keyword tests.
#pragma once

#include <string>
#include <string_view>

namespace runner {

// `text` without the characters of code 32 or less at both ends (bytes of 128 and more are
// kept: they are letters of the code page, not control characters).
std::string_view Trim(std::string_view text) noexcept;

// True when the line holds nothing but characters of code 32 or less.
inline bool IsBlank(std::string_view text) noexcept {
    return Trim(text).empty();
}

// `text` with the ASCII letters a to z turned into A to Z; every other byte unchanged.
std::string AsciiUpperCase(std::string_view text);

// True when `text` begins with `upperPrefix` once its ASCII letters are in upper case.
// `upperPrefix` must already be upper case ("VAR ", "SELECT ").
bool StartsWithAsciiUpper(std::string_view text, std::string_view upperPrefix) noexcept;

// True when `a` and `b` are equal once their ASCII letters are in upper case.
bool SameTextAscii(std::string_view a, std::string_view b) noexcept;

// The 64-bit FNV-1a hash of the bytes of `text` in 16 upper-case hexadecimal digits: the same
// on every machine and in every build, for names and keys that outlive one run.
std::string HexHash(std::string_view text);

} // namespace runner

// The check of the fuzz targets: a property that must hold for every input. A violation is
// printed and aborts, so libFuzzer records the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzzcheck {

[[noreturn]] inline void Fail(const char* file, int line, const char* condition,
                              const std::string& detail) {
    std::fprintf(stderr, "%s:%d: property violated: %s\n%s\n", file, line, condition,
                 detail.c_str());
    std::abort();
}

// A text shown with its control bytes escaped, cut to a readable length.
inline std::string Shown(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < 400; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 32 || c >= 127 || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > 400) {
        out += "...";
    }
    return out + "\"";
}

} // namespace fuzzcheck

#define FUZZ_CHECK(condition, detail)                                                          \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            ::fuzzcheck::Fail(__FILE__, __LINE__, #condition, (detail));                       \
        }                                                                                      \
    } while (false)

// Settings file reader and writer, and the DebugMode text.
//
// Input (FuzzedDataProvider): a number for the DebugMode texts (the last four bytes); the
// section, key and value to write and a second section and key to watch, each a
// ConsumeRandomLengthString; then the file content as the rest.
// Properties:
// - reading any content never fails, and the key list of a section fits its buffer;
// - after SetSettingsValue a well-formed value reads back as written, every other watched
//   value reads as before, and no line break of the old content is gone (only the lines that
//   held the key are changed; everything else is kept or added);
// - DebugMode: decimal and hexadecimal texts of a number give that number, anything out of
//   range gives 1;
// - the content behind either UTF-16 byte order mark comes back byte for byte from its text,
//   and 8-bit content is its own text.
#include "fuzz/FuzzCheck.h"
#include "runner/Runner.h"
#include "runner/Settings.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsTrimmed(std::string_view text) {
    return !text.empty() && static_cast<unsigned char>(text.front()) > 32 &&
           static_cast<unsigned char>(text.back()) > 32;
}

// A section name that "[" + name + "]" stands for on a line of its own.
bool UsableSectionName(std::string_view name) {
    return IsTrimmed(name) && !HasLineBreak(name);
}

// A key name that "key=value" stands for: not a comment, not a section header, no "=".
bool UsableKeyName(std::string_view name) {
    return IsTrimmed(name) && !HasLineBreak(name) && name.find('=') == std::string_view::npos &&
           name.front() != ';' && name.front() != '[';
}

// A value that reads back unchanged: no line break, nothing trimmed, not wrapped in quotes.
bool UsableValue(std::string_view value) {
    if (HasLineBreak(value) || value.size() > runner::kMaxSettingsValueLength) {
        return false;
    }
    if (value.empty()) {
        return true;
    }
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    return IsTrimmed(value) && !quoted;
}

void CheckDebugMode(int32_t n, const std::string& text) {
    // Any text: a number, never a failure.
    (void)runner::ParseDebugMode(text);

    const std::string decimal = std::to_string(n);
    FUZZ_CHECK(runner::ParseDebugMode(decimal) == n, decimal);
    FUZZ_CHECK(runner::ParseDebugMode("  +" + std::to_string(n < 0 ? 0 : n)) == (n < 0 ? 0 : n),
               decimal);
    const uint64_t magnitude = n < 0 ? uint64_t(-int64_t{n}) : uint64_t(n);
    char hex[32];
    std::snprintf(hex, sizeof hex, "%" PRIX64, magnitude);
    const std::string sign = n < 0 ? "-" : "";
    for (const char* prefix : {"$", "x", "X", "0x", "0X"}) {
        const std::string text16 = sign + prefix + hex;
        FUZZ_CHECK(runner::ParseDebugMode(text16) == n, text16);
    }
    // One past the signed 32-bit range either way gives the default.
    const int64_t outside = n < 0 ? int64_t{INT32_MIN} - 1 - (n & 0xFF) : int64_t{INT32_MAX} + 1 + (n & 0xFF);
    FUZZ_CHECK(runner::ParseDebugMode(std::to_string(outside)) == 1, std::to_string(outside));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const auto number = input.ConsumeIntegral<int32_t>(); // from the end of the input
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string value = input.ConsumeRandomLengthString(256);
    const std::string otherSection = input.ConsumeRandomLengthString(64);
    const std::string otherKey = input.ConsumeRandomLengthString(64);
    const std::string content = input.ConsumeRemainingBytesAsString();

    const runner::TSettingsFile before{content};
    for (const std::string* name : {&section, &otherSection}) {
        const runner::SectionKeys keys = before.ReadSection(*name);
        std::size_t used = 1;
        for (const std::string& k : keys.Names) {
            FUZZ_CHECK(!k.empty(), "empty key name listed");
            used += k.size() + 1;
        }
        FUZZ_CHECK(used <= runner::kSectionKeyBufferSize, "key list exceeds its buffer");
        // Every listed key has a value to read (the first one of that name).
        FUZZ_CHECK(keys.Values.size() == keys.Names.size(), "a listed key without its value");
        for (const std::string& k : keys.Names) {
            const std::string v = before.ReadString(*name, k, "\x01missing");
            FUZZ_CHECK(v != "\x01missing", "listed key " + fuzzcheck::Shown(k) + " unreadable");
            FUZZ_CHECK(v.size() <= runner::kMaxSettingsValueLength, "value too long");
        }
    }
    CheckDebugMode(number, before.ReadString("General", "DebugMode", ""));

    for (const char* mark : {"\xFF\xFE", "\xFE\xFF", ""}) {
        const std::string bytes = mark + content;
        runner::SettingsEncoding encoding;
        const std::string text = runner::DecodeSettingsFile(bytes, encoding);
        FUZZ_CHECK(runner::EncodeSettingsFile(text, encoding) == bytes,
                   "encoding round trip changed " + fuzzcheck::Shown(bytes));
        if (*mark == '\0' && !content.starts_with("\xFF\xFE") && !content.starts_with("\xFE\xFF")) {
            FUZZ_CHECK(text == content, "8-bit content changed: " + fuzzcheck::Shown(content));
        }
    }

    const std::string written = runner::SetSettingsValue(content, section, key, value);

    // Only the values of key lines are replaced and lines added: the line breaks of the old
    // content are all still there, in their order.
    std::size_t at = 0;
    for (const char c : content) {
        if (c != '\n' && c != '\r') {
            continue;
        }
        while (at < written.size() && written[at] != c) {
            ++at;
        }
        FUZZ_CHECK(at < written.size(), "lost line break(s) of " + fuzzcheck::Shown(content) +
                                            " giving " + fuzzcheck::Shown(written));
        ++at;
    }

    if (!UsableSectionName(section) || !UsableKeyName(key) || !UsableValue(value)) {
        return 0;
    }
    const runner::TSettingsFile after{written};
    const std::string readBack = after.ReadString(section, key, "\x01missing");
    FUZZ_CHECK(readBack == value, "wrote " + fuzzcheck::Shown(value) + " for [" + section + "] " +
                                      key + ", read " + fuzzcheck::Shown(readBack) + " from " +
                                      fuzzcheck::Shown(written));
    // A value elsewhere reads as before (unless it is the very key that was written).
    // Whether the watched names are the written ones, as the reader itself matches names.
    const runner::TSettingsFile probe("[" + section + "]\n" + key + "=probe-marker\n");
    const bool sameKey = probe.ReadString(otherSection, otherKey, "") == "probe-marker";
    if (!sameKey) {
        FUZZ_CHECK(before.ReadString(otherSection, otherKey, "\x01") ==
                       after.ReadString(otherSection, otherKey, "\x01"),
                   "[" + otherSection + "] " + otherKey + " changed: " + fuzzcheck::Shown(written));
    }
    for (const std::string& k : before.ReadSection(section).Names) {
        if (probe.ReadString(section, k, "") == "probe-marker") {
            continue;
        }
        FUZZ_CHECK(before.ReadString(section, k, "") == after.ReadString(section, k, ""),
                   "key " + fuzzcheck::Shown(k) + " changed: " + fuzzcheck::Shown(written));
    }
    return 0;
}

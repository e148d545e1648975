// The shared UTF-8 and UTF-16 decoders, the UTF-8 encoder and the lossless conversion of
// UTF-16 text to UTF-8 and back.
#include "platform/Unicode.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_view_literals;

constexpr char32_t kUntouched = 0x12345678;

struct Decoded {
    std::size_t Length;
    char32_t CodePoint;
};

Decoded Utf8(std::string_view bytes,
             platform::Surrogates surrogates = platform::Surrogates::Rejected) {
    char32_t codePoint = kUntouched;
    const std::size_t length = platform::DecodeUtf8(bytes, codePoint, surrogates);
    return {length, codePoint};
}

Decoded Utf16(std::string_view bytes, platform::ByteOrder order) {
    char32_t codePoint = kUntouched;
    const std::size_t length = platform::DecodeUtf16(bytes, order, codePoint);
    return {length, codePoint};
}

TEST(Unicode, Utf8DecoderTakesEveryLengthUpToItsBoundsAndReadsOnlyOneCharacter) {
    const struct {
        std::string_view Bytes;
        std::size_t Length;
        char32_t CodePoint;
    } cases[] = {
        {std::string_view("\0", 1), 1, 0},
        {"\x7F"
         "A",
         1, 0x7F},
        {"\xC2\x80"
         "A",
         2, 0x80},
        {"\xDF\xBF", 2, 0x7FF},
        {"\xE0\xA0\x80", 3, 0x800},
        {"\xED\x9F\xBF", 3, 0xD7FF},
        {"\xEE\x80\x80", 3, 0xE000},
        {"\xEF\xBF\xBF", 3, 0xFFFF},
        {"\xF0\x90\x80\x80", 4, 0x10000},
        {"\xF4\x8F\xBF\xBF"
         "\xC2\x80",
         4, 0x10FFFF},
    };
    for (const auto& c : cases) {
        for (const platform::Surrogates surrogates :
             {platform::Surrogates::Rejected, platform::Surrogates::Accepted}) {
            const Decoded d = Utf8(c.Bytes, surrogates);
            EXPECT_EQ(d.Length, c.Length) << static_cast<unsigned>(c.CodePoint);
            EXPECT_EQ(d.CodePoint, c.CodePoint);
        }
    }
}

TEST(Unicode, StrictUtf8DecoderRejectsOverlongSurrogateTooLargeAndTruncatedForms) {
    const struct {
        std::string_view Bytes;
        bool SurrogateValue;  // the one fault the lenient form accepts
    } cases[] = {
        {"", false},
        {"\x80", false},              // continuation byte without a lead
        {"\xC0\x80", false},          // overlong NUL
        {"\xC1\xBF", false},          // overlong U+7F
        {"\xE0\x9F\xBF", false},      // overlong U+7FF
        {"\xF0\x8F\xBF\xBF", false},  // overlong U+FFFF
        {"\xED\xA0\x80", true},       // U+D800
        {"\xED\xBF\xBF", true},       // U+DFFF
        {"\xF4\x90\x80\x80", false},  // U+110000
        {"\xF5\x80\x80\x80", false},  // lead past U+10FFFF
        {"\xFF", false},
        {"\xC3", false},          // truncated two-byte form
        {"\xE2\x82", false},      // truncated three-byte form
        {"\xF0\x9F\x98", false},  // truncated four-byte form
        {"\xC3"
         "A",
         false},  // continuation byte missing
        {"\xE2\x82"
         "A",
         false},
    };
    for (const auto& c : cases) {
        const Decoded strict = Utf8(c.Bytes);
        EXPECT_EQ(strict.Length, 0u) << testing::PrintToString(std::string(c.Bytes));
        EXPECT_EQ(strict.CodePoint, kUntouched);
        const Decoded lenient = Utf8(c.Bytes, platform::Surrogates::Accepted);
        EXPECT_EQ(lenient.Length, c.SurrogateValue ? 3u : 0u)
            << testing::PrintToString(std::string(c.Bytes));
    }
    EXPECT_EQ(Utf8("\xED\xA0\x80", platform::Surrogates::Accepted).CodePoint, 0xD800u);
    EXPECT_EQ(Utf8("\xED\xBF\xBF", platform::Surrogates::Accepted).CodePoint, 0xDFFFu);
}

TEST(Unicode, Utf16DecoderTakesUnitsAndPairsInBothOrdersAndRejectsLoneSurrogates) {
    const Decoded bmpLittle = Utf16("\x1A\x04"
                                    "\x00\x00"sv,
                                    platform::ByteOrder::LittleEndian);
    EXPECT_EQ(bmpLittle.Length, 2u);
    EXPECT_EQ(bmpLittle.CodePoint, 0x041Au);
    const Decoded bmpBig = Utf16("\x04\x1A", platform::ByteOrder::BigEndian);
    EXPECT_EQ(bmpBig.Length, 2u);
    EXPECT_EQ(bmpBig.CodePoint, 0x041Au);
    const Decoded pairLittle = Utf16("\x3D\xD8\x00\xDE"sv, platform::ByteOrder::LittleEndian);
    EXPECT_EQ(pairLittle.Length, 4u);
    EXPECT_EQ(pairLittle.CodePoint, 0x1F600u);
    const Decoded pairBig = Utf16("\xDB\xFF\xDF\xFF", platform::ByteOrder::BigEndian);
    EXPECT_EQ(pairBig.Length, 4u);
    EXPECT_EQ(pairBig.CodePoint, 0x10FFFFu);

    const std::string_view rejected[] = {
        "",
        "\xD8",                // one byte is no code unit
        "\xD8\x3D",            // high surrogate at the end
        "\xD8\x3D\x00"sv,      // high surrogate, then half a unit
        "\xD8\x3D\x00\x41"sv,  // high surrogate, then no low one
        "\xD8\x3D\xD8\x3D",    // two high surrogates
        "\xDE\x00\xD8\x3D",    // low surrogate first
    };
    for (const std::string_view bytes : rejected) {
        const Decoded d = Utf16(bytes, platform::ByteOrder::BigEndian);
        EXPECT_EQ(d.Length, 0u) << testing::PrintToString(std::string(bytes));
        EXPECT_EQ(d.CodePoint, kUntouched);
    }
}

TEST(Unicode, LoneSurrogatesSurviveTheRoundTripThroughUtf8InBothOrders) {
    // Lone high, 'A', lone low, a real pair, a high surrogate at the very end.
    const std::vector<char32_t> units = {0xD800, 0x0041, 0xDFFF, 0xD83D, 0xDE00, 0xDBFF};
    const std::string utf8 = "\xED\xA0\x80"
                             "A"
                             "\xED\xBF\xBF"
                             "\xF0\x9F\x98\x80"
                             "\xED\xAF\xBF";
    for (const platform::ByteOrder order :
         {platform::ByteOrder::LittleEndian, platform::ByteOrder::BigEndian}) {
        std::string bytes;
        for (const char32_t unit : units) {
            const char high = static_cast<char>(unit >> 8);
            const char low = static_cast<char>(unit & 0xFF);
            bytes += order == platform::ByteOrder::BigEndian ? high : low;
            bytes += order == platform::ByteOrder::BigEndian ? low : high;
        }
        EXPECT_EQ(platform::Utf16ToUtf8(bytes, order), utf8);
        EXPECT_EQ(platform::Utf8ToUtf16(utf8, order), bytes);
        // A last odd byte is no code unit.
        EXPECT_EQ(platform::Utf16ToUtf8(bytes + "\x41", order), utf8);
    }
}

TEST(Unicode, BytesThatAreNoUtf8BecomeOneReplacementCharacterEach) {
    // An overlong form, a truncated one at the end, and a value past U+10FFFF.
    EXPECT_EQ(platform::Utf8ToUtf16("\xC0\x80"
                                    "A"
                                    "\xF4\x90\x80\x80"
                                    "\xE2\x82",
                                    platform::ByteOrder::BigEndian),
              std::string(
                  "\xFF\xFD\xFF\xFD\x00\x41\xFF\xFD\xFF\xFD\xFF\xFD\xFF\xFD\xFF\xFD\xFF\xFD", 18));
}

TEST(Unicode, Utf8EncoderWritesEachLengthAtItsBounds) {
    const struct {
        char32_t CodePoint;
        std::string_view Bytes;
    } cases[] = {
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xD800, "\xED\xA0\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        std::string out = "x";
        platform::AppendUtf8(out, c.CodePoint);
        EXPECT_EQ(out, "x" + std::string(c.Bytes)) << static_cast<unsigned>(c.CodePoint);
    }
}

}  // namespace

// Windows-1251 and Unicode: conversion of UTF-8 and UTF-16 text with the places that have no
// Windows-1251 form, and the round trip of every Windows-1251 character.
#include "tests/platform/TestHost.h"

#include "platform/CodePage.h"
#include "platform/Unicode.h"

#include <gtest/gtest.h>

namespace {

using platform::UnicodeForm;

TEST(Windows1251, FromUnicodeWithUnmappedPlaces) {
    const struct {
        const char* name;
        std::string source;
        UnicodeForm form;
        std::string text;
        std::vector<platform::TUnmappedPlace>
            places;  // SourceOffset, TextOffset, CodePoint, Malformed
    } cases[] = {
        {"Cyrillic and euro",
         "\xD0\x9F\xD1\x80\xD0\xB8 \xE2\x82\xAC",
         UnicodeForm::Utf8,
         "\xCF\xF0\xE8 \x88",
         {}},
        {"a character 1251 lacks",
         "a\xE4\xB8\xAD"
         "b",
         UnicodeForm::Utf8,
         "a?b",
         {{1, 1, 0x4E2D, false}}},
        {"bytes that are no UTF-8",
         "\xFF\xD0",
         UnicodeForm::Utf8,
         "??",
         {{0, 0, 0, true}, {1, 1, 0, true}}},
        {"UTF-16LE",
         std::string("\x1F\x04\x20\x00\x3D\xD8\x00\xDE\x00\xD8", 10),
         UnicodeForm::Utf16LE,
         "\xCF ??",
         {{4, 2, 0x1F600, false}, {8, 3, 0, true}}},
        {"UTF-16BE",
         std::string("\x04\x1F\x00\x41", 4),
         UnicodeForm::Utf16BE,
         "\xCF"
         "A",
         {}},
    };
    for (const auto& c : cases) {
        std::vector<platform::TUnmappedPlace> places;
        EXPECT_EQ(platform::UnicodeToWindows1251(c.source, c.form, places), c.text) << c.name;
        ASSERT_EQ(places.size(), c.places.size()) << c.name;
        for (std::size_t i = 0; i < places.size(); ++i) {
            EXPECT_EQ(places[i].SourceOffset, c.places[i].SourceOffset) << c.name << " " << i;
            EXPECT_EQ(places[i].TextOffset, c.places[i].TextOffset) << c.name << " " << i;
            EXPECT_EQ(places[i].CodePoint, c.places[i].CodePoint) << c.name << " " << i;
            EXPECT_EQ(places[i].Malformed, c.places[i].Malformed) << c.name << " " << i;
        }
    }
}

TEST(Windows1251, EveryCharacterRoundTrips) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        if (byte != 0x98) {  // the one byte that stands for no character
            all += static_cast<char>(byte);
        }
    }
    const std::string utf8 = platform::Windows1251ToUtf8(all);
    EXPECT_EQ(platform::Windows1251ToUtf8("\xCF\xF0\xE8\x88"),
              "\xD0\x9F\xD1\x80\xD0\xB8\xE2\x82\xAC");
    EXPECT_EQ(platform::Windows1251ToUtf16LE(all),
              platform::Utf8ToUtf16(utf8, platform::ByteOrder::LittleEndian));
    std::vector<platform::TUnmappedPlace> places;
    EXPECT_EQ(platform::UnicodeToWindows1251(utf8, UnicodeForm::Utf8, places), all);
    EXPECT_EQ(platform::UnicodeToWindows1251(platform::Windows1251ToUtf16LE(all),
                                             UnicodeForm::Utf16LE, places),
              all);
    EXPECT_TRUE(places.empty());
    EXPECT_EQ(platform::Windows1251ToUtf8("a\x98"
                                          "b"),
              "a\xEF\xBF\xBD"
              "b");
}

}  // namespace

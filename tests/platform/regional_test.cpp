// The local time and the regional format settings: Windows format pictures in pattern
// elements, and the settings the system gives for Russian.
#include "tests/platform/TestHost.h"

#include "platform/FormatSettings.h"
#include "platform/LocalTime.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

using namespace platformtest;

TEST(LocalTime, IsTheCLibrarysLocalTime) {
    // Taken again when the second changed in between.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const platform::LocalTime now = platform::CurrentLocalTime();
        if (std::time(nullptr) != before) {
            continue;
        }
        const std::tm expected = *std::localtime(&before);
        EXPECT_EQ(now.Year, expected.tm_year + 1900);
        EXPECT_EQ(now.Month, expected.tm_mon + 1);
        EXPECT_EQ(now.Day, expected.tm_mday);
        EXPECT_EQ(now.Hour, expected.tm_hour);
        EXPECT_EQ(now.Minute, expected.tm_min);
        EXPECT_EQ(now.Second, expected.tm_sec);
        EXPECT_GE(now.Millisecond, 0);
        EXPECT_LE(now.Millisecond, 999);
        return;
    }
    FAIL() << "the clock never stood still for a call";
}

TEST(TranslateWindowsFormat, DatePictures) {
    const struct {
        const char* picture;
        const char* pattern;
        char separator;
    } cases[] = {
        {"dd.MM.yyyy", "dd/mm/yyyy", '.'},
        {"M/d/yyyy", "m/d/yyyy", '/'},
        {"yyyy-MM-dd", "yyyy/mm/dd", '-'},
        {"d.M.yy", "d/m/yy", '.'},
        {"dd-MMM-y", "dd/mmm/yy", '-'},
        {"dddd, MMMM d, yyyy", "dddd, mmmm d, yyyy", 0},
        {"d MMMM yyyy 'г.'", "d mmmm yyyy\" г.\"", 0},
        {"yyyy'年'M'月'd'日'", "yyyy\"年\"m\"月\"d\"日\"", 0},
        {"dd/MM/yyyy g", "dd/mm/yyyy ", '/'},
        {"dd.MM.yyyy'/'", "dd/mm/yyyy\"/\"", '.'},
        {"d 'de' MMMM", "d\" de \"mmmm", 0},
        {"''dd''", "\"'\"dd\"'\"", 0},
        {"", "", 0},
    };
    for (const auto& c : cases) {
        const platform::TTranslatedFormat result = platform::TranslateWindowsDateFormat(c.picture);
        EXPECT_EQ(result.Pattern, c.pattern) << c.picture;
        EXPECT_EQ(result.Separator, c.separator) << c.picture;
    }
}

TEST(TranslateWindowsFormat, TimePictures) {
    const struct {
        const char* picture;
        const char* pattern;
        char separator;
    } cases[] = {
        {"HH:mm:ss", "hh:mm:ss", ':'},         {"H:mm:ss", "h:mm:ss", ':'},
        {"h:mm:ss tt", "h:mm:ss AMPM", ':'},   {"hh:mm:ss tt", "hh:mm:ss AMPM", ':'},
        {"tt hh:mm:ss", "AMPM hh:mm:ss", ':'}, {"HH.mm.ss", "hh:mm:ss", '.'},
        {"H 'h' mm 'min'", "h:mm:ss", 0},      {"", "hh:mm:ss", 0},
    };
    for (const auto& c : cases) {
        const platform::TTranslatedFormat result = platform::TranslateWindowsTimeFormat(c.picture);
        EXPECT_EQ(result.Pattern, c.pattern) << c.picture;
        EXPECT_EQ(result.Separator, c.separator) << c.picture;
    }
}

TEST(RegionalSettings, RussianFromTheSystem) {
    const RussianRegionalSettings russian;
    if (!russian.Active()) {
        GTEST_SKIP() << "no Russian regional settings here";
    }
    const platform::TFormatSettings settings = platform::ReadLocaleFormatSettings();
    EXPECT_EQ(settings.DecimalSeparator, ',');
    EXPECT_EQ(settings.DateSeparator, '.');
    EXPECT_EQ(settings.ShortDateFormat, "dd/mm/yyyy");
    EXPECT_EQ(settings.TimeSeparator, ':');
    EXPECT_EQ(settings.LongTimeFormat, "hh:mm:ss");
    // Month names in Russian, as UTF-8 (the first letter of January is "я" or "Я").
    EXPECT_TRUE(settings.LongMonthNames[0].starts_with("\xD1\x8F") ||
                settings.LongMonthNames[0].starts_with("\xD0\xAF"))
        << settings.LongMonthNames[0];
}

}  // namespace

// Tests of the locale format settings: the translation of the C library's date and time
// formats, and reading the settings from the C and the German locale without leaving the
// process locale changed.
#include "platform/FormatSettings.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <optional>
#include <string>

namespace {

TEST(TranslateDateFormat, StrftimeToPatternElements) {
    const struct {
        const char* format;
        const char* pattern;
        char separator;
    } cases[] = {
        {"%d.%m.%Y", "dd/mm/yyyy", '.'},
        {"%m/%d/%Y", "mm/dd/yyyy", '/'},
        {"%m/%d/%y", "mm/dd/yy", '/'},
        {"%d/%m/%y", "dd/mm/yy", '/'},
        {"%Y-%m-%d", "yyyy/mm/dd", '-'},
        {"%D", "mm/dd/yy", '/'},
        {"%F", "yyyy/mm/dd", '-'},
        {"%-d.%-m.%Y", "d/m/yyyy", '.'},
        {"%e/%m/%y", "d/mm/yy", '/'},
        {"%d-%b-%Y", "dd/mmm/yyyy", '-'},
        {"%a %d %B %Y", "ddd dd mmmm yyyy", 0},
        {"%A, %d", "dddd, dd", 0},
        {"%Y. %m. %d.", "yyyy. mm. dd.", 0},
        {"%d de %B de %Y", "dd\" de \"mmmm\" de \"yyyy", 0},
        {"%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5",
         "yyyy\"\xE5\xB9\xB4\"mm\"\xE6\x9C\x88\"dd\"\xE6\x97\xA5\"", 0},
        // A '/' that is not the separator stays literal text.
        {"%d.%m.%Y/", "dd/mm/yyyy\"/\"", '.'},
        {"%Ey %d", "yy dd", 0},
        {"", "", 0},
    };
    for (const auto& c : cases) {
        const platform::TTranslatedFormat result = platform::TranslateDateFormat(c.format);
        EXPECT_EQ(result.Pattern, c.pattern) << c.format;
        EXPECT_EQ(result.Separator, c.separator) << c.format;
    }
}

TEST(TranslateTimeFormat, LongTimePatternFromStrftime) {
    const struct {
        const char* format;
        const char* ampm;
        const char* pattern;
        char separator;
    } cases[] = {
        {"%H:%M:%S", "%I:%M:%S %p", "hh:mm:ss", ':'},
        {"%T", "", "hh:mm:ss", ':'},
        {"%r", "%I:%M:%S %p", "hh:mm:ss AMPM", ':'},
        {"%r", "", "hh:mm:ss AMPM", ':'},
        {"%l:%M:%S %p", "", "h:mm:ss AMPM", ':'},
        {"%-I:%M %p", "", "h:mm:ss AMPM", ':'},
        {"%p %I:%M:%S", "", "AMPM hh:mm:ss", ':'},
        {"%H.%M.%S", "", "hh:mm:ss", '.'},
        {"%k:%M", "", "h:mm:ss", ':'},
        {"%-H:%M", "", "h:mm:ss", ':'},
        {"%R", "", "hh:mm:ss", ':'},
        {"%H\xEC\x8B\x9C %M\xEB\xB6\x84 %S\xEC\xB4\x88", "", "hh:mm:ss", 0},
    };
    for (const auto& c : cases) {
        const platform::TTranslatedFormat result = platform::TranslateTimeFormat(c.format, c.ampm);
        EXPECT_EQ(result.Pattern, c.pattern) << c.format;
        EXPECT_EQ(result.Separator, c.separator) << c.format;
    }
}

// Sets LC_ALL in the environment for one test and puts the previous value back.
class LocaleEnvironment {
public:
    explicit LocaleEnvironment(const char* name) {
        if (const char* old = std::getenv("LC_ALL")) saved_ = old;
        setenv("LC_ALL", name, 1);
    }
    ~LocaleEnvironment() {
        if (saved_) {
            setenv("LC_ALL", saved_->c_str(), 1);
        } else {
            unsetenv("LC_ALL");
        }
    }
    LocaleEnvironment(const LocaleEnvironment&) = delete;
    LocaleEnvironment& operator=(const LocaleEnvironment&) = delete;

private:
    std::optional<std::string> saved_;
};

bool LocaleInstalled(const char* name) {
    const locale_t probe = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
    if (probe == static_cast<locale_t>(nullptr)) return false;
    freelocale(probe);
    return true;
}

std::string ProcessLocale() {
    const char* name = std::setlocale(LC_ALL, nullptr);
    return name ? name : "";
}

std::string PrintedHalf() {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.1f", 2.5);
    return buffer;
}

void ExpectDefaults(const platform::TFormatSettings& s) {
    const platform::TFormatSettings defaults;
    EXPECT_EQ(s.DecimalSeparator, '.');
    EXPECT_EQ(s.DateSeparator, '/');
    EXPECT_EQ(s.TimeSeparator, ':');
    EXPECT_EQ(s.ShortDateFormat, "m/d/yy");
    EXPECT_EQ(s.LongTimeFormat, "h:mm:ss AMPM");
    EXPECT_EQ(s.TimeAMString, "am");
    EXPECT_EQ(s.TimePMString, "pm");
    EXPECT_EQ(s.LongMonthNames, defaults.LongMonthNames);
    EXPECT_EQ(s.ShortDayNames, defaults.ShortDayNames);
}

TEST(ReadLocaleFormatSettings, CAndPosixGiveTheDefaults) {
    for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
        SCOPED_TRACE(name);
        const LocaleEnvironment env(name);
        const std::string before = ProcessLocale();
        ExpectDefaults(platform::ReadLocaleFormatSettings());
        EXPECT_EQ(ProcessLocale(), before);
    }
}

TEST(ReadLocaleFormatSettings, UnknownLocaleGivesTheDefaults) {
    const LocaleEnvironment env("xx_NOWHERE.UTF-8");
    ExpectDefaults(platform::ReadLocaleFormatSettings());
}

TEST(ReadLocaleFormatSettings, GermanLocale) {
    if (!LocaleInstalled("de_DE.UTF-8")) {
        GTEST_SKIP() << "de_DE.UTF-8 is not generated (scripts/install-deps.sh makes it)";
    }
    const LocaleEnvironment env("de_DE.UTF-8");
    const std::string before = ProcessLocale();
    const platform::TFormatSettings s = platform::ReadLocaleFormatSettings();
    EXPECT_EQ(s.DecimalSeparator, ',');
    EXPECT_EQ(s.DateSeparator, '.');
    EXPECT_EQ(s.TimeSeparator, ':');
    EXPECT_EQ(s.ShortDateFormat, "dd/mm/yyyy");
    EXPECT_EQ(s.LongTimeFormat, "hh:mm:ss");
    // The German locale has no AM/PM strings: the defaults stay.
    EXPECT_EQ(s.TimeAMString, "am");
    EXPECT_EQ(s.TimePMString, "pm");
    EXPECT_EQ(s.LongMonthNames[2], "M\xC3\xA4rz");
    EXPECT_EQ(s.ShortMonthNames[9], "Okt");
    EXPECT_EQ(s.LongDayNames[0], "Sonntag");
    EXPECT_EQ(s.ShortDayNames[2], "Di");
    // The process locale is as it was: printf still writes a point.
    EXPECT_EQ(ProcessLocale(), before);
    EXPECT_EQ(PrintedHalf(), "2.5");
}

}  // namespace

// Tests of the shared text conversions: the general number format, fixed-point text, the
// date-time pattern formatter element by element, and the parsers, under the default settings
// and under comma-decimal (German) settings.
#include "ibclient/TextFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <string>

#include "ibclient/Errors.h"
#include "platform/LocalTime.h"
#include "tests/ibclient/FormatSettingsFixture.h"

using namespace ibclient;

namespace {

using testsupport::SettingsGuard;

platform::TFormatSettings GermanSettings() {
    return testsupport::CommaDecimalSettings();
}

std::string WithComma(std::string text) {
    for (char& c : text) {
        if (c == '.') c = ',';
    }
    return text;
}

template <typename F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return "(no error)";
}

struct FloatCase {
    double value;
    const char* text;
};

const FloatCase kFloatCases[] = {
    {0.0, "0"},
    {-0.0, "0"},
    {0.1, "0.1"},
    {1.0 / 3.0, "0.333333333333333"},
    {2.0 / 3.0, "0.666666666666667"},
    {0.0001, "0.0001"},
    {0.00001, "1E-5"},
    {0.000099999, "9.9999E-5"},
    {0.00012345, "0.00012345"},
    {1.5e20, "1.5E20"},
    {123456789012345.0, "123456789012345"},
    {1234567890123456.0, "1.23456789012346E15"},
    {1e15, "1E15"},
    {999999999999999.9, "1E15"},  // rounding carries into the exponent
    {9999999999999.99, "9999999999999.99"},
    {99999999999999.99, "100000000000000"},  // 16 digits round up
    {-42.0, "-42"},
    {2.5, "2.5"},
    {-123.456, "-123.456"},
    {1e100, "1E100"},
    {1.7976931348623157e308, "1.79769313486232E308"},
    {5e-324, "4.94065645841247E-324"},
    {-1.5e-7, "-1.5E-7"},
    {100.0, "100"},
    {1e14, "100000000000000"},
    // An exact tie at the 16th digit rounds away from zero.
    {1234567890123445.0, "1.23456789012345E15"},
    {-1234567890123445.0, "-1.23456789012345E15"},
};

TEST(FloatToText, GeneralFormatUnderDefaultSettings) {
    const platform::TFormatSettings defaults;
    for (const auto& c : kFloatCases) {
        EXPECT_EQ(FloatToText(c.value, 15, defaults), c.text) << c.text;
    }
}

TEST(FloatToText, GeneralFormatWithCommaDecimal) {
    const platform::TFormatSettings german = GermanSettings();
    for (const auto& c : kFloatCases) {
        EXPECT_EQ(FloatToText(c.value, 15, german), WithComma(c.text)) << c.text;
    }
}

TEST(FloatToText, UsesTheProcessSettingsByDefault) {
    const SettingsGuard guard(GermanSettings());
    EXPECT_EQ(FloatToText(2.5), "2,5");
    EXPECT_EQ(CurrencyToText(125000), "12,5");
}

TEST(FloatToText, OtherDigitCountsAndSpecialValues) {
    const platform::TFormatSettings s;
    EXPECT_EQ(FloatToText(0.1, 19, s), "0.1000000000000000056");
    EXPECT_EQ(FloatToText(922337203685477.5, 19, s), "922337203685477.5");
    EXPECT_EQ(FloatToText(0.25, 1, s), "0.3");  // exact tie, away from zero
    EXPECT_EQ(FloatToText(0.35, 1, s), "0.3");  // 0.34999... in binary: no drift upwards
    EXPECT_EQ(FloatToText(1.0 / 3.0, 7, s), "0.3333333");
    EXPECT_EQ(FloatToText(std::numeric_limits<double>::quiet_NaN(), 15, s), "NAN");
    EXPECT_EQ(FloatToText(std::numeric_limits<double>::infinity(), 15, s), "INF");
    EXPECT_EQ(FloatToText(-std::numeric_limits<double>::infinity(), 15, s), "-INF");
}

TEST(CurrencyToText, FixedPointText) {
    const struct {
        int64_t raw;
        const char* text;
    } cases[] = {
        {125000, "12.5"},
        {1000000, "100"},
        {-2500, "-0.25"},
        {0, "0"},
        {1, "0.0001"},
        {-1, "-0.0001"},
        {-10000, "-1"},
        {123456789, "12345.6789"},
        {10010, "1.001"},
        {std::numeric_limits<int64_t>::max(), "922337203685477.5807"},
        {std::numeric_limits<int64_t>::min(), "-922337203685477.5808"},
    };
    const platform::TFormatSettings defaults;
    const platform::TFormatSettings german = GermanSettings();
    for (const auto& c : cases) {
        EXPECT_EQ(CurrencyToText(c.raw, defaults), c.text);
        EXPECT_EQ(CurrencyToText(c.raw, german), WithComma(c.text));
    }
}

TEST(IntToText, DecimalDigits) {
    EXPECT_EQ(IntToText(-42), "-42");
    EXPECT_EQ(IntToText(32767), "32767");
    EXPECT_EQ(IntToText(std::numeric_limits<int64_t>::max()), "9223372036854775807");
    EXPECT_EQ(IntToText(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
}

TEST(RoundToDecimals, NearestDoubleOfTheFixedText) {
    const struct {
        double value;
        int decimals;
        double expected;
    } cases[] = {
        {0.1 + 0.2, 1, 0.3},
        {1.005, 2, 1.0},    // 1.00499999... in binary
        {2.675, 2, 2.67},   // 2.67499999... in binary
        {-0.125, 2, -0.13}, // exact tie, away from zero
        {0.00005, 4, 0.0001},
        {1e-10, 4, 0.0},
        {0.6, 0, 1.0},
        {123.456789, 4, 123.4568},
        {12345 / 100.0, 2, 123.45},
        {1234567890.123456, 6, 1234567890.12346},     // 15 significant digits at most
        {12345678901234567.0, 2, 12345678901234600.0},  // more than 15 integer digits
        {-9.87654321, 3, -9.877},
        {0.0, 3, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RoundToDecimals(c.value, c.decimals), c.expected)
            << c.value << " to " << c.decimals;
    }
    EXPECT_TRUE(std::isnan(RoundToDecimals(std::numeric_limits<double>::quiet_NaN(), 2)));
}

TEST(DoubleToCurrency, RoundsTiesToEvenAndRefusesOutOfRange) {
    EXPECT_EQ(DoubleToCurrency(12.5), 125000);
    EXPECT_EQ(DoubleToCurrency(-0.25), -2500);
    // The double's true size decides: 0.00005 is a little above, 0.00015 a little below.
    EXPECT_EQ(DoubleToCurrency(0.00005), 1);
    EXPECT_EQ(DoubleToCurrency(0.00015), 1);
    EXPECT_EQ(DoubleToCurrency(-0.00025), -3);
    // Exact ties go to even.
    EXPECT_EQ(DoubleToCurrency(0.03125), 312);
    EXPECT_EQ(DoubleToCurrency(0.09375), 938);
    EXPECT_EQ(DoubleToCurrency(-0.03125), -312);
    EXPECT_EQ(DoubleToCurrency(0.1), 1000);
    EXPECT_EQ(DoubleToCurrency(-922337203685477.5), -9223372036854775000);
    EXPECT_THROW(DoubleToCurrency(-922337203685477.625), EConvertError);  // below -2^63
    EXPECT_EQ(ErrorOf([] { DoubleToCurrency(1e15); }), "'1E15' is not a valid currency value");
    EXPECT_THROW(DoubleToCurrency(std::numeric_limits<double>::quiet_NaN()), EConvertError);
    EXPECT_THROW(DoubleToCurrency(-std::numeric_limits<double>::infinity()), EConvertError);

    EXPECT_EQ(CurrencyToDouble(125000), 12.5);
    EXPECT_EQ(CurrencyToDouble(1), 0.0001);
    EXPECT_EQ(CurrencyToDouble(-2500), -0.25);
    EXPECT_EQ(CurrencyToDouble(std::numeric_limits<int64_t>::max()), 922337203685477.5807);
}

// ---- Parsers ----

TEST(TextToFloat, ReadsDecimalText) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"2.5", 2.5},       {" -1.5E3 ", -1500},  {"1e-5", 1e-5},  {".5", 0.5},
        {"5.", 5},          {"+7", 7},            {"0.1", 0.1},    {"1E+2", 100},
        {"000123.4500", 123.45},                  {"1e-400", 0.0}, {"0", 0},
        {"1.7976931348623157e308", 1.7976931348623157e308},
        {"4.9406564584124654E-324", 5e-324},
        {"123456789012345678901234567890", 123456789012345678901234567890.0},
    };
    const platform::TFormatSettings defaults;
    const platform::TFormatSettings german = GermanSettings();
    for (const auto& c : cases) {
        EXPECT_EQ(TextToFloat(c.text, defaults), c.value) << c.text;
        EXPECT_EQ(TextToFloat(WithComma(c.text), german), c.value) << c.text;
    }
}

TEST(TextToFloat, RefusesOtherText) {
    const platform::TFormatSettings defaults;
    for (const char* text : {"", " ", "abc", "1.2.3", "1e", "1e+", "--1", "1,5", "1e400",
                             "inf", "nan", "0x10", "1 2", "-", "."}) {
        EXPECT_EQ(ErrorOf([&] { TextToFloat(text, defaults); }),
                  std::string("'") + text + "' is not a valid floating point value");
    }
    EXPECT_THROW(TextToFloat("2.5", GermanSettings()), EConvertError);
}

TEST(TextToInteger, ReadsAndRefuses) {
    EXPECT_EQ(TextToInt32("42"), 42);
    EXPECT_EQ(TextToInt32(" -42 "), -42);
    EXPECT_EQ(TextToInt32("+3"), 3);
    EXPECT_EQ(TextToInt32("2147483647"), 2147483647);
    EXPECT_EQ(TextToInt32("-2147483648"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(TextToInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(TextToInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(TextToInt64("0000000000000000000000042"), 42);
    for (const char* text : {"", "-", "1.0", "1e3", "12a", "2147483648", "-2147483649", "1 2"}) {
        EXPECT_EQ(ErrorOf([&] { TextToInt32(text); }),
                  std::string("'") + text + "' is not a valid integer value");
    }
    for (const char* text : {"9223372036854775808", "-9223372036854775809", "99999999999999999999"}) {
        EXPECT_THROW(TextToInt64(text), EConvertError) << text;
    }
}

TEST(TextToCurrency, RoundsToFourDecimalsTiesToEven) {
    const struct {
        const char* text;
        int64_t raw;
    } cases[] = {
        {"12.5", 125000},
        {"-0.25", -2500},
        {"0", 0},
        {"0.00005", 0},     // tie: to even 0
        {"0.00015", 2},     // tie: to even 2
        {"0.00025", 2},     // tie: to even 2
        {"0.000251", 3},
        {"-0.00015", -2},
        {"0.00004999999999999999999", 0},
        {"123.45678", 1234568},
        {"1e2", 1000000},
        {"1.5E-3", 15},
        {"922337203685477.5807", std::numeric_limits<int64_t>::max()},
        {"-922337203685477.5808", std::numeric_limits<int64_t>::min()},
        {"  7  ", 70000},
        {"0.0000000000000000000000001", 0},
    };
    const platform::TFormatSettings defaults;
    const platform::TFormatSettings german = GermanSettings();
    for (const auto& c : cases) {
        EXPECT_EQ(TextToCurrency(c.text, defaults), c.raw) << c.text;
        EXPECT_EQ(TextToCurrency(WithComma(c.text), german), c.raw) << c.text;
    }
    for (const char* text : {"922337203685477.5808", "-922337203685477.5809", "1e20", "abc", ""}) {
        EXPECT_EQ(ErrorOf([&] { TextToCurrency(text, defaults); }),
                  std::string("'") + text + "' is not a valid floating point value");
    }
}

// ---- Date-time patterns ----

// Tuesday 5 March 2024, 14:07:09.045.
const TDateTime kAfternoon = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 45);

TEST(FormatDateTime, EachElement) {
    platform::TFormatSettings s;
    s.DateSeparator = '-';
    s.TimeSeparator = '.';
    const struct {
        const char* pattern;
        const char* text;
    } cases[] = {
        {"d", "5"},          {"dd", "05"},         {"ddd", "Tue"},       {"dddd", "Tuesday"},
        {"m", "3"},          {"mm", "03"},         {"mmm", "Mar"},       {"mmmm", "March"},
        {"yy", "24"},        {"yyyy", "2024"},     {"y", "24"},          {"yyy", "2024"},
        {"h", "14"},         {"hh", "14"},         {"n", "7"},           {"nn", "07"},
        {"s", "9"},          {"ss", "09"},         {"z", "45"},          {"zzz", "045"},
        {"AMPM", "pm"},      {"ampm", "pm"},       {"/", "-"},           {":", "."},
        {"h:m", "14.7"},     {"hh:mm", "14.07"},   {"h mm", "14 07"},    {"mm h", "03 14"},
        {"h:nn:mm", "14.07.03"},                   {"h AMPM", "2 pm"},   {"hh AMPM", "02 pm"},
        {"AMPM h", "pm 2"},  {"'dd/mm'", "dd/mm"}, {"\"h\"h", "h14"},    {"'it''s'", "its"},
        {"DD.MM.YYYY", "05.03.2024"},              {"Dd", "05"},         {"x", "x"},
        {"'unclosed", "unclosed"},                 {"hh:nn:ss.zzz", "14.07.09.045"},
        {"dddd, d mmmm yyyy", "Tuesday, 5 March 2024"},                  {"", ""},
        {"ddddd", "Tuesday"},                      {"am/pm", "a3-p3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatDateTime(c.pattern, kAfternoon, s), c.text) << c.pattern;
    }
}

TEST(FormatDateTime, TwelveHourClock) {
    const platform::TFormatSettings s;
    const struct {
        int hour, minute;
        const char* text;
    } cases[] = {
        {0, 30, "12:30 am"}, {1, 5, "1:05 am"},   {11, 59, "11:59 am"},
        {12, 0, "12:00 pm"}, {13, 0, "1:00 pm"},  {23, 59, "11:59 pm"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatDateTime("h:nn AMPM", EncodeTime(c.hour, c.minute, 0, 0), s), c.text);
    }
}

TEST(FormatDateTime, NamesComeFromTheSettings) {
    platform::TFormatSettings s;
    s.LongMonthNames[2] = "M\xC3\xA4rz";
    s.ShortDayNames[2] = "Di";
    EXPECT_EQ(FormatDateTime("ddd d. mmmm", kAfternoon, s), "Di 5. M\xC3\xA4rz");
}

TEST(DateTimeText, DefaultSettings) {
    const platform::TFormatSettings s;
    const TDateTime date = EncodeDate(2024, 3, 5);
    EXPECT_EQ(DateToText(date, s), "3/5/2024");
    EXPECT_EQ(TimeToText(kAfternoon, s), "2:07:09 pm");
    EXPECT_EQ(DateTimeToText(date, s), "3/5/2024");
    EXPECT_EQ(DateTimeToText(date + EncodeTime(0, 0, 1, 0), s), "3/5/2024 12:00:01 am");
    EXPECT_EQ(DateTimeToText(date + EncodeTime(0, 1, 0, 0), s), "3/5/2024 12:01:00 am");
    EXPECT_EQ(DateTimeToText(date + EncodeTime(1, 0, 0, 0), s), "3/5/2024 1:00:00 am");
    // Milliseconds alone do not count as a time of day.
    EXPECT_EQ(DateTimeToText(date + EncodeTime(0, 0, 0, 500), s), "3/5/2024");
    EXPECT_EQ(DateTimeToText(kAfternoon, s), "3/5/2024 2:07:09 pm");
    // Before 1899-12-30, with a time of day, and the first day of the calendar.
    EXPECT_EQ(DateTimeToText(-1.25, s), "12/29/1899 6:00:00 am");
    const TDateTime first = ComposeDateTime(EncodeDate(1, 1, 1), EncodeTime(18, 30, 0, 0));
    EXPECT_EQ(DateTimeToText(first, s), "1/1/0001 6:30:00 pm");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", first, s), "0001-01-01");
    EXPECT_EQ(DateToText(EncodeDate(9999, 12, 31), s), "12/31/9999");
    EXPECT_EQ(DateToText(EncodeDate(2000, 2, 29), s), "2/29/2000");
}

TEST(DateTimeText, ShortDateYearIsWidenedToFourDigitsUnderEveryPattern) {
    // A two-digit year would read back within 50 years of today: 1950 as 2050.
    const TDateTime date = EncodeDate(1950, 3, 5);
    const auto shortDate = [date](const char* pattern) {
        platform::TFormatSettings s;
        s.ShortDateFormat = pattern;
        s.DateSeparator = '.';
        return DateToText(date, s);
    };
    EXPECT_EQ(shortDate("d/m/y"), "5.3.1950");
    EXPECT_EQ(shortDate("YY/mm/dd"), "1950.03.05");
    EXPECT_EQ(shortDate("dd-mm-yyyy"), "05-03-1950");
    EXPECT_EQ(shortDate("dd/mm/yyy"), "05.03.1950");
    // Quoted text is left alone; the pattern formatter itself still writes two digits.
    EXPECT_EQ(shortDate("'yy:' d/m/yy"), "yy: 5.3.1950");
    EXPECT_EQ(FormatDateTime("yy", date), "50");
}

TEST(DateTimeText, GermanSettings) {
    const platform::TFormatSettings s = GermanSettings();
    EXPECT_EQ(DateToText(kAfternoon, s), "05.03.2024");
    EXPECT_EQ(TimeToText(kAfternoon, s), "14:07:09");
    EXPECT_EQ(DateTimeToText(kAfternoon, s), "05.03.2024 14:07:09");
    EXPECT_EQ(DateTimeToText(EncodeDate(2024, 3, 5), s), "05.03.2024");
    EXPECT_EQ(DateTimeToText(-1.25, s), "29.12.1899 06:00:00");
}

TEST(TextToDate, FollowsTheShortDatePatternOrder) {
    const platform::TFormatSettings defaults;
    const platform::TFormatSettings german = GermanSettings();
    platform::TFormatSettings iso;
    iso.ShortDateFormat = "yyyy/mm/dd";
    iso.DateSeparator = '-';
    EXPECT_EQ(TextToDate("3/5/2024", defaults), EncodeDate(2024, 3, 5));
    EXPECT_EQ(TextToDate(" 12/31/1999 ", defaults), EncodeDate(1999, 12, 31));
    EXPECT_EQ(TextToDate("2/29/2000", defaults), EncodeDate(2000, 2, 29));
    EXPECT_EQ(TextToDate("1/1/0001", defaults), EncodeDate(1, 1, 1));
    EXPECT_EQ(TextToDate("05.03.2024", german), EncodeDate(2024, 3, 5));
    EXPECT_EQ(TextToDate("2024-03-05", iso), EncodeDate(2024, 3, 5));
    // Two-digit years stay within 50 years of the current one.
    EXPECT_EQ(TextToDate("3/5/24", defaults), EncodeDate(2024, 3, 5));
    EXPECT_EQ(TextToDate("3/5/99", defaults), EncodeDate(1999, 3, 5));
    EXPECT_EQ(TextToDate("3/5/00", defaults), EncodeDate(2000, 3, 5));
    // Without a year: day and month of the current year.
    const TDateParts noYear = DecodeDate(TextToDate("5.3", german));
    EXPECT_EQ(noYear.Day, 5);
    EXPECT_EQ(noYear.Month, 3);
    EXPECT_EQ(noYear.Year, platform::CurrentLocalTime().Year);

    for (const char* text : {"2/30/2024", "13/1/2024", "1/2/3/4", "", "a/b/c", "1-2-2024",
                             "1/2/2024x", "0/1/2024", "1//2024", "1/2/12345"}) {
        EXPECT_EQ(ErrorOf([&] { TextToDate(text, defaults); }),
                  std::string("'") + text + "' is not a valid date");
    }
}

TEST(TextToDateTime, DateWithOptionalTime) {
    const platform::TFormatSettings defaults;
    const platform::TFormatSettings german = GermanSettings();
    const TDateTime date = EncodeDate(2024, 3, 5);
    EXPECT_EQ(TextToDateTime("3/5/2024", defaults), date);
    EXPECT_EQ(TextToDateTime("3/5/2024 14:07:09", defaults), date + EncodeTime(14, 7, 9, 0));
    EXPECT_EQ(TextToDateTime("3/5/2024 2:07:09 PM", defaults), date + EncodeTime(14, 7, 9, 0));
    EXPECT_EQ(TextToDateTime("3/5/2024 12:00 am", defaults), date);
    EXPECT_EQ(TextToDateTime("3/5/2024 14:07:09.5", defaults), date + EncodeTime(14, 7, 9, 500));
    EXPECT_EQ(TextToDateTime("14:07", defaults), EncodeTime(14, 7, 0, 0));
    EXPECT_EQ(TextToDateTime("05.03.2024 23:59:59", german), date + EncodeTime(23, 59, 59, 0));
    EXPECT_EQ(TextToDateTime("12/29/1899 06:00:00", defaults), -1.25);
    EXPECT_EQ(TextToTime("9:05 pm", defaults), EncodeTime(21, 5, 0, 0));
    EXPECT_EQ(TextToTime("pm 9:05", defaults), EncodeTime(21, 5, 0, 0));

    // The texts of this module read back to the value they came from.
    for (const TDateTime value : {kAfternoon - 0.045 / 86400, -1.25, date}) {
        const TDateTime back = TextToDateTime(DateTimeToText(value, german), german);
        EXPECT_EQ(DateTimeToText(back, german), DateTimeToText(value, german));
    }

    for (const char* text : {"3/5/2024 25:00", "3/5/2024 13:00 pm", "3/5/2024 x", "noon",
                             "3/5/2024 14", "14:60"}) {
        EXPECT_EQ(ErrorOf([&] { TextToDateTime(text, defaults); }),
                  std::string("'") + text + "' is not a valid date and time");
    }
    EXPECT_EQ(ErrorOf([&] { TextToTime("25:00", defaults); }), "'25:00' is not a valid time");
}

}  // namespace

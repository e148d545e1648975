// Tests of the date-time value: calendar encoding and decoding, times of day, dates before
// 1899-12-30 with a time of day, and the day-number/milliseconds split of the row buffers.
#include "ibclient/DateTime.h"

#include <gtest/gtest.h>

#include <limits>

#include "ibclient/Errors.h"

using namespace ibclient;

namespace {

struct DateCase {
    int year, month, day;
    double value;
    int dayOfWeek;  // 1 = Sunday
};

TEST(DateTime, EncodesAndDecodesKnownDates) {
    const DateCase cases[] = {
        {1899, 12, 30, 0, 7},         {1899, 12, 31, 1, 1},
        {1899, 12, 29, -1, 6},        {1, 1, 1, -693593, 2},
        {9999, 12, 31, 2958465, 6},   {2000, 2, 29, 36585, 3},
        {2024, 3, 5, 45356, 3},       {1900, 3, 1, 61, 5},
        {1600, 2, 29, -109512, 3},    {1752, 9, 14, -53797, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" +
                     std::to_string(c.day));
        EXPECT_EQ(EncodeDate(c.year, c.month, c.day), c.value);
        EXPECT_EQ(DecodeDate(c.value), (TDateParts{c.year, c.month, c.day}));
        EXPECT_EQ(DayOfWeek(c.value), c.dayOfWeek);
    }
}

TEST(DateTime, RejectsInvalidDates) {
    const int cases[][3] = {
        {0, 1, 1},     {10000, 1, 1}, {1900, 2, 29}, {2100, 2, 29}, {2023, 2, 29},
        {2000, 2, 30}, {2024, 0, 1},  {2024, 13, 1}, {2024, 4, 31}, {2024, 1, 0},
        {2024, 1, 32}, {-1, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c[0]) + "-" + std::to_string(c[1]) + "-" +
                     std::to_string(c[2]));
        TDateTime value = 123;
        EXPECT_FALSE(TryEncodeDate(c[0], c[1], c[2], value));
        try {
            EncodeDate(c[0], c[1], c[2]);
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Invalid argument to date encode");
        }
    }
}

// Every day of the calendar: consecutive dates encode to consecutive numbers and decode back.
TEST(DateTime, WholeCalendarRoundTrips) {
    double expected = EncodeDate(1, 1, 1);
    for (int year = 1; year <= 9999; ++year) {
        ASSERT_EQ(IsLeapYear(year), (year % 4 == 0 && year % 100 != 0) || year % 400 == 0);
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= DaysInMonth(year, month); ++day) {
                TDateTime value = 0;
                ASSERT_TRUE(TryEncodeDate(year, month, day, value));
                ASSERT_EQ(value, expected) << year << "-" << month << "-" << day;
                ASSERT_EQ(DecodeDate(value), (TDateParts{year, month, day}));
                expected += 1;
            }
        }
    }
    EXPECT_EQ(expected - 1, EncodeDate(9999, 12, 31));
}

TEST(DateTime, EncodesTimesOfDay) {
    EXPECT_EQ(EncodeTime(0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_EQ(EncodeTime(6, 0, 0, 0), 0.25);
    EXPECT_EQ(DecodeTime(EncodeTime(23, 59, 59, 999)), (TTimeParts{23, 59, 59, 999}));
    EXPECT_EQ(DecodeTime(EncodeTime(0, 0, 0, 1)), (TTimeParts{0, 0, 0, 1}));
    const int invalid[][4] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0},
                              {0, 0, 0, 1000}, {-1, 0, 0, 0}, {0, 0, 0, -1}};
    for (const auto& t : invalid) {
        TDateTime value = 0;
        EXPECT_FALSE(TryEncodeTime(t[0], t[1], t[2], t[3], value));
        EXPECT_THROW(EncodeTime(t[0], t[1], t[2], t[3]), EConvertError);
    }
}

// Before 1899-12-30 the time of day is subtracted from the day: -1.25 is 29 Dec 06:00.
TEST(DateTime, NegativeValuesKeepTheTimeOfDay) {
    const TDateTime value = ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0, 0));
    EXPECT_EQ(value, -1.25);
    EXPECT_EQ(DecodeDate(value), (TDateParts{1899, 12, 29}));
    EXPECT_EQ(DecodeTime(value), (TTimeParts{6, 0, 0, 0}));

    const TDateTime first = ComposeDateTime(EncodeDate(1, 1, 1), EncodeTime(23, 59, 59, 0));
    EXPECT_EQ(DecodeDate(first), (TDateParts{1, 1, 1}));
    EXPECT_EQ(DecodeTime(first), (TTimeParts{23, 59, 59, 0}));

    // Day 0 counts as non-negative: the time is added.
    EXPECT_EQ(ComposeDateTime(0, 0.75), 0.75);
    EXPECT_EQ(ComposeDateTime(5, 0.75), 5.75);
}

struct StampCase {
    double value;
    int32_t time;
    int32_t date;
};

TEST(DateTime, SplitsIntoDayNumberAndMilliseconds) {
    const StampCase cases[] = {
        {0, 0, 693594},
        {1.5, 43200000, 693595},
        {-1.25, 21600000, 693593},
        {-693593, 0, 1},
        {2958465.5, 43200000, 3652059},
        // Rounding to the nearest millisecond can carry into the next day.
        {0.99999999999, 0, 693595},
        {-0.5, 43200000, 693594},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const TTimeStamp stamp = DateTimeToTimeStamp(c.value);
        EXPECT_EQ(stamp, (TTimeStamp{c.time, c.date}));
    }
    // Back again, for the values that are their own canonical form.
    for (const double value : {0.0, 1.5, -1.25, -693593.0, 2958465.5, -2.75}) {
        EXPECT_EQ(TimeStampToDateTime(DateTimeToTimeStamp(value)), value);
    }
    EXPECT_EQ(TimeStampToDateTime({1234, DateDelta}), 1234.0 / MSecsPerDay);
    EXPECT_THROW(DateTimeToTimeStamp(std::numeric_limits<double>::quiet_NaN()), EConvertError);
    EXPECT_THROW(DateTimeToTimeStamp(std::numeric_limits<double>::infinity()), EConvertError);
    EXPECT_THROW(DateTimeToTimeStamp(1e300), EConvertError);
}

TEST(DateTime, MillisecondsFormOfTimeStamps) {
    EXPECT_EQ(TimeStampToMSecs({0, 1}), 86400000.0);
    EXPECT_EQ(TimeStampToMSecs({43200000, DateDelta}), 693594.0 * 86400000 + 43200000);
    EXPECT_EQ(TimeStampToMSecs({86399999, MaxDayNumber}), 3652059.0 * 86400000 + 86399999);
    EXPECT_EQ(MSecsToTimeStamp(693594.0 * 86400000 + 1234.4), (TTimeStamp{1234, DateDelta}));
    EXPECT_EQ(MSecsToTimeStamp(86400000.0 + 86399999.6), (TTimeStamp{0, 2}));

    const struct {
        TTimeStamp stamp;
        const char* message;
    } refused[] = {
        {{0, 0}, "'0.0' is not a valid timestamp"},
        {{5, -3}, "'-3.5' is not a valid timestamp"},
        {{-1, 10}, "'10.-1' is not a valid timestamp"},
    };
    for (const auto& r : refused) {
        try {
            TimeStampToMSecs(r.stamp);
            ADD_FAILURE() << r.message;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), r.message);
        }
    }
}

}  // namespace

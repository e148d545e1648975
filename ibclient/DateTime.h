// The date-time value (days since 30 December 1899, time of day as the fraction) and its
// calendar arithmetic: encoding and decoding of dates and times in the proleptic Gregorian
// calendar, and the split into a day number and milliseconds used by the row buffers.
#pragma once

#include <cstdint>

namespace ibclient {

// Days since 1899-12-30 with the time of day as the fraction. For negative values the
// fraction is subtracted from the day: -1.25 is 1899-12-29 06:00.
using TDateTime = double;

constexpr int32_t MSecsPerDay = 86400000;
// Day number of 1899-12-30 when 0001-01-01 is day 1.
constexpr int32_t DateDelta = 693594;
// Day number of 9999-12-31.
constexpr int32_t MaxDayNumber = 3652059;

// A date-time split into the day number (0001-01-01 = day 1) and milliseconds since midnight.
struct TTimeStamp {
    int32_t Time = 0;  // milliseconds since midnight
    int32_t Date = 0;  // day number
    friend bool operator==(const TTimeStamp&, const TTimeStamp&) = default;
};

struct TDateParts {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    friend bool operator==(const TDateParts&, const TDateParts&) = default;
};

struct TTimeParts {
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int MilliSecond = 0;
    friend bool operator==(const TTimeParts&, const TTimeParts&) = default;
};

bool IsLeapYear(int year);
// Days of the month (1..12) in the year; 0 for a month outside 1..12.
int DaysInMonth(int year, int month);

// Encodes a calendar date (year 1..9999); false for an invalid date.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
// Same; raises EConvertError "Invalid argument to date encode" for an invalid date.
TDateTime EncodeDate(int year, int month, int day);

// Encodes a time of day (hour 0..23, minute and second 0..59, ms 0..999) as a fraction.
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);
// Same; raises EConvertError "Invalid argument to time encode" for an invalid time.
TDateTime EncodeTime(int hour, int minute, int second, int msec);

// Joins an encoded date and an encoded time of day: the time is added to the date, or
// subtracted from it when the date is negative (so that it keeps its meaning).
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

// The calendar date and the time of day of a value, both taken from DateTimeToTimeStamp
// (the time of day is rounded to the nearest millisecond).
TDateParts DecodeDate(TDateTime value);
TTimeParts DecodeTime(TDateTime value);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime value);

// Calendar of a day number (0001-01-01 = day 1), proleptic Gregorian.
TDateParts DayNumberToDate(int32_t dayNumber);
// Day number of a date; the date is not validated.
int32_t DateToDayNumber(int year, int month, int day);

// total := value x 86400000 rounded (ties to even); day count := |total| div 86400000 with
// the sign of total; Time := |total| mod 86400000; Date := day count + 693594.
// Raises EConvertError for a value that is not finite or lies beyond the day range.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
// Date - 693594 plus Time / 86400000 (minus it for a day number below 693594).
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);

// Date x 86400000 + Time, exact; raises EConvertError "'%d.%d' is not a valid timestamp"
// (day number, milliseconds) for a day number below 1 or a negative millisecond count.
double TimeStampToMSecs(const TTimeStamp& stamp);
// The nearest integer of `msecs` split into day number and milliseconds since midnight.
TTimeStamp MSecsToTimeStamp(double msecs);

}  // namespace ibclient

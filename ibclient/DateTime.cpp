// Calendar arithmetic of the date-time value: proleptic Gregorian dates, times of day and the
// day-number/milliseconds split.
#include "ibclient/DateTime.h"

#include <cmath>
#include <string>

#include "ibclient/Errors.h"

namespace ibclient {

namespace {

constexpr int kDaysBeforeMonth[2][13] = {
    {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

// Largest day count (either sign) whose millisecond total stays exact in a double and whose
// day number fits 32 bits.
constexpr double kMaxDayCount = 2147483647.0 - DateDelta;

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

}  // namespace

bool IsLeapYear(int year) {
    return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return (month == 2 && IsLeapYear(year)) ? 29 : kDays[month];
}

int32_t DateToDayNumber(int year, int month, int day) {
    const int64_t y = static_cast<int64_t>(year) - 1;
    const int64_t leap = IsLeapYear(year) ? 1 : 0;
    const int m = (month >= 1 && month <= 12) ? month : 1;
    const int64_t n = y * 365 + FloorDiv(y, 4) - FloorDiv(y, 100) + FloorDiv(y, 400) +
                      kDaysBeforeMonth[leap][m] + day;
    return static_cast<int32_t>(n);
}

TDateParts DayNumberToDate(int32_t dayNumber) {
    // Days since 0000-03-01 of the proleptic calendar, counted in 400-year eras.
    const int64_t z = static_cast<int64_t>(dayNumber) + 305;
    const int64_t era = FloorDiv(z, 146097);
    const int64_t doe = z - era * 146097;                                      // 0..146096
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // 0..399
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // 0..365
    const int64_t mp = (5 * doy + 2) / 153;                                     // 0..11, March first
    TDateParts parts;
    parts.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    parts.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    parts.Year = static_cast<int>(yoe + era * 400 + (parts.Month <= 2 ? 1 : 0));
    return parts;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month)) {
        return false;
    }
    result = static_cast<TDateTime>(DateToDayNumber(year, month, day) - DateDelta);
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime result = 0;
    if (!TryEncodeDate(year, month, day, result)) {
        throw EConvertError("Invalid argument to date encode");
    }
    return result;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999) {
        return false;
    }
    const int32_t ms = ((hour * 60 + minute) * 60 + second) * 1000 + msec;
    result = static_cast<double>(ms) / MSecsPerDay;
    return true;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    TDateTime result = 0;
    if (!TryEncodeTime(hour, minute, second, msec, result)) {
        throw EConvertError("Invalid argument to time encode");
    }
    return result;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
    return date < 0 ? date - time : date + time;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
    if (!std::isfinite(value) || std::fabs(value) >= kMaxDayCount) {
        throw EConvertError("Invalid argument to date encode");
    }
    // Default rounding mode: to nearest, ties to even.
    const int64_t total = static_cast<int64_t>(std::nearbyint(value * MSecsPerDay));
    const int64_t magnitude = total < 0 ? -total : total;
    int64_t days = magnitude / MSecsPerDay;
    if (total < 0) days = -days;
    TTimeStamp stamp;
    stamp.Time = static_cast<int32_t>(magnitude % MSecsPerDay);
    stamp.Date = static_cast<int32_t>(days + DateDelta);
    return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
    const double days = static_cast<double>(static_cast<int64_t>(stamp.Date) - DateDelta);
    const double fraction = static_cast<double>(stamp.Time) / MSecsPerDay;
    return ComposeDateTime(days, fraction);
}

double TimeStampToMSecs(const TTimeStamp& stamp) {
    if (stamp.Date < 1 || stamp.Time < 0) {
        throw EConvertError("'" + std::to_string(stamp.Date) + "." + std::to_string(stamp.Time) +
                            "' is not a valid timestamp");
    }
    return static_cast<double>(static_cast<int64_t>(stamp.Date) * MSecsPerDay + stamp.Time);
}

TTimeStamp MSecsToTimeStamp(double msecs) {
    const double rounded = std::nearbyint(msecs);
    // Beyond 32-bit day numbers the value cannot come from a row buffer.
    if (!std::isfinite(rounded) || std::fabs(rounded) >= 2147483647.0 * MSecsPerDay) {
        throw EConvertError("Invalid argument to date encode");
    }
    const int64_t total = static_cast<int64_t>(rounded);
    TTimeStamp stamp;
    stamp.Date = static_cast<int32_t>(total / MSecsPerDay);
    stamp.Time = static_cast<int32_t>(total % MSecsPerDay);
    return stamp;
}

TDateParts DecodeDate(TDateTime value) {
    return DayNumberToDate(DateTimeToTimeStamp(value).Date);
}

TTimeParts DecodeTime(TDateTime value) {
    int32_t ms = DateTimeToTimeStamp(value).Time;
    TTimeParts parts;
    parts.MilliSecond = ms % 1000;
    ms /= 1000;
    parts.Second = ms % 60;
    ms /= 60;
    parts.Minute = ms % 60;
    parts.Hour = ms / 60;
    return parts;
}

int DayOfWeek(TDateTime value) {
    const int32_t day = DateTimeToTimeStamp(value).Date;
    // Day 1 (0001-01-01) was a Monday.
    return static_cast<int>(((day % 7) + 7) % 7) + 1;
}

}  // namespace ibclient

// The local date and time with milliseconds, for the log's time stamps.
#pragma once

namespace platform {

struct LocalTime {
    int Year = 0;         // four digits
    int Month = 0;        // 1..12
    int Day = 0;          // 1..31
    int Hour = 0;         // 0..23
    int Minute = 0;       // 0..59
    int Second = 0;       // 0..60 (a leap second where the system has one)
    int Millisecond = 0;  // 0..999
};

// Now, in the system's local time zone. POSIX: clock_gettime and localtime_r; Windows:
// GetLocalTime.
LocalTime CurrentLocalTime() noexcept;

}  // namespace platform

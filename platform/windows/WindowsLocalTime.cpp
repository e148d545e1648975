// The local time with milliseconds on Windows.
#include "platform/LocalTime.h"

#include <windows.h>

namespace platform {

LocalTime CurrentLocalTime() noexcept {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    LocalTime result;
    result.Year = now.wYear;
    result.Month = now.wMonth;
    result.Day = now.wDay;
    result.Hour = now.wHour;
    result.Minute = now.wMinute;
    result.Second = now.wSecond;
    result.Millisecond = now.wMilliseconds;
    return result;
}

}  // namespace platform

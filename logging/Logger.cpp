// The log file writer: formatting of entries and their append to the log file.
#include "logging/Logger.h"

#include "platform/FileLock.h"
#include "platform/FormatSettings.h"
#include "platform/LocalTime.h"

#include <cstdio>

namespace logging {

TLogger::TLogger(std::string fileName, int32_t threshold)
    : fileName_(std::move(fileName)), threshold_(threshold) {}

void TLogger::Log(int32_t level, std::string_view message) noexcept {
    if (level > threshold_) {
        return;
    }
    try {
        const std::lock_guard<std::mutex> guard(lock_);
        // Create-or-append under the writers' lock; an entry that cannot be written is lost.
        platform::AppendUnderLock(fileName_, FormatLogEntry(CurrentTimeStamp(), level, message),
                                  waitForLock_);
    } catch (...) {
        // The writer never fails towards its caller; the entry is lost.
    }
}

std::string FormatLogEntry(std::string_view timeStamp, int32_t level, std::string_view message) {
    std::string entry;
    entry.reserve(timeStamp.size() + message.size() + 24);
    entry.append(timeStamp);
    entry.append(" level ");
    entry.append(std::to_string(level));
    entry.append(":  ");
    entry.append(message);
    entry.append("\r\n");
    return entry;
}

std::string CurrentTimeStamp() {
    const platform::LocalTime now = platform::CurrentLocalTime();
    const char sep = platform::FormatSettings().TimeSeparator;
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d%c%02d%c%02d.%03d", now.Day, now.Month,
                  now.Year, now.Hour, sep, now.Minute, sep, now.Second, now.Millisecond);
    return text;
}

} // namespace logging

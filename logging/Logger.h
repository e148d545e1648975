// TLogger: the levelled, append-only log file writer. Every entry is one time-stamped line
// (or several, when the message holds line breaks) appended with its own open/write/close.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace logging {

class TLogger {
  public:
    // Stores the path and the threshold; touches no file.
    TLogger(std::string fileName, int32_t threshold);
    TLogger(const TLogger&) = delete;
    TLogger& operator=(const TLogger&) = delete;

    // Appends "<dd-mm-yyyy hh:nn:ss.zzz> level <level>:  <message>\r\n" when `level` is at
    // most the threshold. Never raises: an entry that cannot be written is dropped.
    void Log(int32_t level, std::string_view message) noexcept;

    const std::string& FileName() const noexcept { return fileName_; }
    int32_t Threshold() const noexcept { return threshold_; }

  private:
    const std::string fileName_;
    const int32_t threshold_;
    std::mutex lock_;
    // Whether an entry may still wait for another process's lock on the file; cleared once
    // such a wait ran out, so that the run pays for a stuck lock holder only once.
    bool waitForLock_ = true;
};

// The entry text for `message` at `level` with the given time stamp (no clock involved).
std::string FormatLogEntry(std::string_view timeStamp, int32_t level, std::string_view message);

// The current local time as "dd-mm-yyyy hh:nn:ss.zzz", with the locale's time separator in
// place of ":".
std::string CurrentTimeStamp();

} // namespace logging

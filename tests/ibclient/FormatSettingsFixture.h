// Locale format settings for tests: a comma-decimal set (as a German locale gives) and a guard
// that puts the process-wide settings back when a test that replaced them ends.
#pragma once

#include "platform/FormatSettings.h"

namespace testsupport {

inline platform::TFormatSettings CommaDecimalSettings() {
    platform::TFormatSettings s;
    s.DecimalSeparator = ',';
    s.DateSeparator = '.';
    s.TimeSeparator = ':';
    s.ShortDateFormat = "dd/mm/yyyy";
    s.LongTimeFormat = "hh:mm:ss";
    return s;
}

class SettingsGuard {
public:
    explicit SettingsGuard(const platform::TFormatSettings& replacement)
        : saved_(platform::FormatSettings()) {
        platform::SetFormatSettings(replacement);
    }
    ~SettingsGuard() { platform::SetFormatSettings(saved_); }
    SettingsGuard(const SettingsGuard&) = delete;
    SettingsGuard& operator=(const SettingsGuard&) = delete;

private:
    platform::TFormatSettings saved_;
};

}  // namespace testsupport

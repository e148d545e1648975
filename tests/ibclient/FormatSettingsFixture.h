// Locale format settings for tests: a comma-decimal set (as a German locale gives) and a guard
// that puts the process-wide settings back when a test that replaced them ends.
#pragma once

#include "ibclient/FormatSettings.h"

namespace testsupport {

inline ibclient::TFormatSettings CommaDecimalSettings() {
    ibclient::TFormatSettings s;
    s.DecimalSeparator = ',';
    s.DateSeparator = '.';
    s.TimeSeparator = ':';
    s.ShortDateFormat = "dd/mm/yyyy";
    s.LongTimeFormat = "hh:mm:ss";
    return s;
}

class SettingsGuard {
public:
    explicit SettingsGuard(const ibclient::TFormatSettings& replacement)
        : saved_(ibclient::FormatSettings()) {
        ibclient::SetFormatSettings(replacement);
    }
    ~SettingsGuard() { ibclient::SetFormatSettings(saved_); }
    SettingsGuard(const SettingsGuard&) = delete;
    SettingsGuard& operator=(const SettingsGuard&) = delete;

private:
    ibclient::TFormatSettings saved_;
};

}  // namespace testsupport

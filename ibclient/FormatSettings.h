// The locale format settings that shape the texts of numbers, dates and times and the time
// separator of the log's time stamps. Read once at start from the process's locale.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace ibclient {

struct TFormatSettings {
    char DecimalSeparator = '.';
    char DateSeparator = '/';
    char TimeSeparator = ':';
    std::string ShortDateFormat = "m/d/yy";
    std::string LongTimeFormat = "h:mm:ss AMPM";
    std::string TimeAMString = "am";
    std::string TimePMString = "pm";
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January", "February", "March",     "April",
                                               "May",     "June",     "July",      "August",
                                               "September", "October", "November", "December"};
    // Sunday first.
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
};

// Reads the settings from the process's locale (setlocale(LC_ALL, ""), localeconv,
// nl_langinfo); the defaults above apply wherever the system supplies nothing.
TFormatSettings ReadLocaleFormatSettings();

// The process-wide settings: the defaults until LoadFormatSettings or SetFormatSettings runs.
const TFormatSettings& FormatSettings();

// Reads the process locale once into the process-wide settings (called at start).
void LoadFormatSettings();

// Replaces the process-wide settings (tests use it to try other locales).
void SetFormatSettings(const TFormatSettings& settings);

// Translations of the C library's strftime formats (nl_langinfo) into pattern elements.
struct TTranslatedFormat {
    std::string Pattern;
    char Separator = 0;  // the separator found between the fields; 0 when none was found
};

// D_FMT, e.g. "%d.%m.%Y" -> "dd/mm/yyyy" with separator '.'. Text that is neither a field
// nor the separator is kept as quoted literal text.
TTranslatedFormat TranslateDateFormat(std::string_view dateFormat);

// The long time pattern from T_FMT (and T_FMT_AMPM, which "%r" stands for): "hh" or "h"
// by the hour's leading zero, then ":mm:ss", with "AMPM " in front or " AMPM" appended for
// a 12-hour clock; the separator is the one between hour and minute.
TTranslatedFormat TranslateTimeFormat(std::string_view timeFormat, std::string_view ampmFormat);

}  // namespace ibclient

// The locale format settings that shape the texts of numbers, dates and times and the time
// separator of the log's time stamps: read once at start from the system's regional settings
// (POSIX: the process's locale; Windows: the user's locale), kept process-wide.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace platform {

// Patterns use the elements of the date-time formatter: d dd ddd dddd, m mm mmm mmmm, yy yyyy,
// h hh, n nn, s ss, AMPM, "/" for the date separator, ":" for the time separator, quoted text.
// Texts (names, AM/PM strings) are UTF-8 on Windows; on POSIX they are in the locale's code
// set, which is UTF-8 under a UTF-8 locale.
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
    std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
    // Sunday first.
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
};

// Reads the settings from the system; the defaults above apply wherever it supplies nothing,
// and a decimal separator of more than one byte keeps the default.
// POSIX: the process's locale (setlocale(LC_ALL, ""), localeconv, nl_langinfo), put back as
// it was afterwards; the "C" locale supplies nothing.
// Windows: the user's locale (GetLocaleInfoEx): LOCALE_SDECIMAL, LOCALE_SSHORTDATE,
// LOCALE_STIMEFORMAT, LOCALE_S1159 and LOCALE_S2359, month and day names.
TFormatSettings ReadLocaleFormatSettings();

// The process-wide settings: the defaults until LoadFormatSettings or SetFormatSettings runs.
const TFormatSettings& FormatSettings();

// Reads the system's settings once into the process-wide settings (called at start).
void LoadFormatSettings();

// Replaces the process-wide settings (tests use it to try other locales).
void SetFormatSettings(const TFormatSettings& settings);

// Translations of the system's date and time formats into pattern elements.
struct TTranslatedFormat {
    std::string Pattern;
    char Separator = 0;  // the separator found between the fields; 0 when none was found
};

// D_FMT of the C library, e.g. "%d.%m.%Y" -> "dd/mm/yyyy" with separator '.'. Text that is
// neither a field nor the separator is kept as quoted literal text.
TTranslatedFormat TranslateDateFormat(std::string_view dateFormat);

// The long time pattern from T_FMT (and T_FMT_AMPM, which "%r" stands for): "hh" or "h"
// by the hour's leading zero, then ":mm:ss", with "AMPM " in front or " AMPM" appended for
// a 12-hour clock; the separator is the one between hour and minute.
TTranslatedFormat TranslateTimeFormat(std::string_view timeFormat, std::string_view ampmFormat);

// A Windows short date format (LOCALE_SSHORTDATE), e.g. "dd.MM.yyyy" -> "dd/mm/yyyy" with
// separator '.': d dd ddd dddd for the day, M MM MMM MMMM for the month, y yy for a two-digit
// and yyy yyyy yyyyy for a four-digit year, the era (g gg) left out, 'quoted' text (with ''
// for a quotation mark) and any other text kept as literal text. The separator is the first
// single character between two fields.
TTranslatedFormat TranslateWindowsDateFormat(std::string_view dateFormat);

// The long time pattern from a Windows time format (LOCALE_STIMEFORMAT), in the same form as
// TranslateTimeFormat gives: "HH:mm:ss" -> "hh:mm:ss", "H:mm:ss" -> "h:mm:ss", "h:mm:ss tt" ->
// "h:mm:ss AMPM", "tt hh:mm:ss" -> "AMPM hh:mm:ss"; the separator is the one between hour and
// minute.
TTranslatedFormat TranslateWindowsTimeFormat(std::string_view timeFormat);

}  // namespace platform

// The locale format settings from the user's locale on Windows (GetLocaleInfoEx, with the
// user's own changes to it).
#include "platform/FormatSettings.h"

#include "platform/windows/WindowsText.h"

namespace platform {

namespace {

// The locale's text for `type` as UTF-8; empty when it has none.
std::string LocaleText(LCTYPE type) {
    const int size = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, nullptr, 0);
    if (size <= 1) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    const int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text.data(), size);
    if (length <= 1) {
        return {};
    }
    text.resize(static_cast<std::size_t>(length - 1));  // without the terminating zero
    return windows::Narrow(text);
}

void SetIfGiven(std::string& value, LCTYPE type) {
    if (std::string text = LocaleText(type); !text.empty()) {
        value = std::move(text);
    }
}

}  // namespace

TFormatSettings ReadLocaleFormatSettings() {
    TFormatSettings settings;
    // Only a one-byte separator can be used; others keep the default.
    if (const std::string decimal = LocaleText(LOCALE_SDECIMAL); decimal.size() == 1) {
        settings.DecimalSeparator = decimal[0];
    }
    const TTranslatedFormat date = TranslateWindowsDateFormat(LocaleText(LOCALE_SSHORTDATE));
    if (!date.Pattern.empty()) {
        settings.ShortDateFormat = date.Pattern;
        if (date.Separator != 0) {
            settings.DateSeparator = date.Separator;
        }
    }
    if (const std::string timeFormat = LocaleText(LOCALE_STIMEFORMAT); !timeFormat.empty()) {
        const TTranslatedFormat time = TranslateWindowsTimeFormat(timeFormat);
        settings.LongTimeFormat = time.Pattern;
        if (time.Separator != 0) {
            settings.TimeSeparator = time.Separator;
        }
    }
    SetIfGiven(settings.TimeAMString, LOCALE_S1159);
    SetIfGiven(settings.TimePMString, LOCALE_S2359);
    static constexpr LCTYPE kShortMonths[12] = {
        LOCALE_SABBREVMONTHNAME1,  LOCALE_SABBREVMONTHNAME2,  LOCALE_SABBREVMONTHNAME3,
        LOCALE_SABBREVMONTHNAME4,  LOCALE_SABBREVMONTHNAME5,  LOCALE_SABBREVMONTHNAME6,
        LOCALE_SABBREVMONTHNAME7,  LOCALE_SABBREVMONTHNAME8,  LOCALE_SABBREVMONTHNAME9,
        LOCALE_SABBREVMONTHNAME10, LOCALE_SABBREVMONTHNAME11, LOCALE_SABBREVMONTHNAME12};
    static constexpr LCTYPE kLongMonths[12] = {
        LOCALE_SMONTHNAME1, LOCALE_SMONTHNAME2,  LOCALE_SMONTHNAME3,  LOCALE_SMONTHNAME4,
        LOCALE_SMONTHNAME5, LOCALE_SMONTHNAME6,  LOCALE_SMONTHNAME7,  LOCALE_SMONTHNAME8,
        LOCALE_SMONTHNAME9, LOCALE_SMONTHNAME10, LOCALE_SMONTHNAME11, LOCALE_SMONTHNAME12};
    // Sunday first, as the settings keep them; Windows counts from Monday (DAYNAME1).
    static constexpr LCTYPE kShortDays[7] = {LOCALE_SABBREVDAYNAME7, LOCALE_SABBREVDAYNAME1,
                                             LOCALE_SABBREVDAYNAME2, LOCALE_SABBREVDAYNAME3,
                                             LOCALE_SABBREVDAYNAME4, LOCALE_SABBREVDAYNAME5,
                                             LOCALE_SABBREVDAYNAME6};
    static constexpr LCTYPE kLongDays[7] = {LOCALE_SDAYNAME7, LOCALE_SDAYNAME1, LOCALE_SDAYNAME2,
                                            LOCALE_SDAYNAME3, LOCALE_SDAYNAME4, LOCALE_SDAYNAME5,
                                            LOCALE_SDAYNAME6};
    for (std::size_t i = 0; i < 12; ++i) {
        SetIfGiven(settings.ShortMonthNames[i], kShortMonths[i]);
        SetIfGiven(settings.LongMonthNames[i], kLongMonths[i]);
    }
    for (std::size_t i = 0; i < 7; ++i) {
        SetIfGiven(settings.ShortDayNames[i], kShortDays[i]);
        SetIfGiven(settings.LongDayNames[i], kLongDays[i]);
    }
    return settings;
}

}  // namespace platform

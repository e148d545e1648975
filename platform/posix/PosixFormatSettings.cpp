// The locale format settings from the process's locale: localeconv and nl_langinfo.
#include "platform/FormatSettings.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <string>

namespace platform {

namespace {

// nl_langinfo's answer, or an empty text.
std::string LangInfo(nl_item item) {
    const char* text = nl_langinfo(item);
    return text ? std::string(text) : std::string();
}

bool IsCLocaleName(const char* name) {
    if (name == nullptr)
        return true;
    const std::string_view n(name);
    return n == "C" || n == "POSIX" || n.starts_with("C.");
}

}  // namespace

TFormatSettings ReadLocaleFormatSettings() {
    TFormatSettings settings;
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_ALL, "") != nullptr) {
        if (!IsCLocaleName(std::setlocale(LC_NUMERIC, nullptr))) {
            const std::lconv* conv = std::localeconv();
            // Only a one-byte separator can be used; others keep the default.
            if (conv && conv->decimal_point && std::strlen(conv->decimal_point) == 1) {
                settings.DecimalSeparator = conv->decimal_point[0];
            }
        }
        if (!IsCLocaleName(std::setlocale(LC_TIME, nullptr))) {
            const TTranslatedFormat date = TranslateDateFormat(LangInfo(D_FMT));
            if (!date.Pattern.empty()) {
                settings.ShortDateFormat = date.Pattern;
                if (date.Separator != 0)
                    settings.DateSeparator = date.Separator;
            }
            const std::string timeFormat = LangInfo(T_FMT);
            if (!timeFormat.empty()) {
                const TTranslatedFormat time =
                    TranslateTimeFormat(timeFormat, LangInfo(T_FMT_AMPM));
                settings.LongTimeFormat = time.Pattern;
                if (time.Separator != 0)
                    settings.TimeSeparator = time.Separator;
            }
            if (const std::string am = LangInfo(AM_STR); !am.empty())
                settings.TimeAMString = am;
            if (const std::string pm = LangInfo(PM_STR); !pm.empty())
                settings.TimePMString = pm;
            static constexpr nl_item kShortMonths[12] = {ABMON_1, ABMON_2,  ABMON_3,  ABMON_4,
                                                         ABMON_5, ABMON_6,  ABMON_7,  ABMON_8,
                                                         ABMON_9, ABMON_10, ABMON_11, ABMON_12};
            static constexpr nl_item kLongMonths[12] = {MON_1, MON_2,  MON_3,  MON_4,
                                                        MON_5, MON_6,  MON_7,  MON_8,
                                                        MON_9, MON_10, MON_11, MON_12};
            static constexpr nl_item kShortDays[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                                      ABDAY_5, ABDAY_6, ABDAY_7};
            static constexpr nl_item kLongDays[7] = {DAY_1, DAY_2, DAY_3, DAY_4,
                                                     DAY_5, DAY_6, DAY_7};
            for (size_t i = 0; i < 12; ++i) {
                if (auto name = LangInfo(kShortMonths[i]); !name.empty()) {
                    settings.ShortMonthNames[i] = std::move(name);
                }
                if (auto name = LangInfo(kLongMonths[i]); !name.empty()) {
                    settings.LongMonthNames[i] = std::move(name);
                }
            }
            for (size_t i = 0; i < 7; ++i) {
                if (auto name = LangInfo(kShortDays[i]); !name.empty()) {
                    settings.ShortDayNames[i] = std::move(name);
                }
                if (auto name = LangInfo(kLongDays[i]); !name.empty()) {
                    settings.LongDayNames[i] = std::move(name);
                }
            }
        }
    }
    // Put the process locale back so that the C library's number formatting and parsing
    // elsewhere keep working as before.
    std::setlocale(LC_ALL, saved.c_str());
    return settings;
}

}  // namespace platform

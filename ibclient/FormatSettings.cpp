// Reads the locale format settings from the process's locale and keeps the process-wide copy.
#include "ibclient/FormatSettings.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <optional>

namespace ibclient {

namespace {

TFormatSettings& Current() {
    static TFormatSettings settings;
    return settings;
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// A character that may stand between two fields as their separator.
bool IsSeparatorCandidate(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 32 && u < 127 && !IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '%' && c != '\'' &&
           c != '"';
}

// Literal text outside the pattern letters: quoted when it holds anything the pattern
// formatter would read as an element, a separator or a quotation mark.
void AppendLiteral(std::string& out, std::string_view text) {
    if (text.empty()) return;
    bool plain = true;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (IsAsciiLetter(c) || c == '/' || c == ':' || c == '\'' || c == '"' || u >= 127) {
            plain = false;
        }
    }
    if (plain) {
        out += text;
        return;
    }
    // Quote with the mark that the text does not contain; split on the rare text that has both.
    std::string run;
    char quote = 0;
    auto flush = [&] {
        if (!run.empty()) {
            out += quote;
            out += run;
            out += quote;
            run.clear();
        }
    };
    for (char c : text) {
        const char wanted = c == '"' ? '\'' : (c == '\'' ? '"' : (quote ? quote : '"'));
        if (wanted != quote) {
            flush();
            quote = wanted;
        }
        run += c;
    }
    flush();
}

// One conversion of a strftime format: its letter after the optional glibc flags and width.
struct Conversion {
    char letter = 0;
    bool noPadding = false;  // the "-" flag
    size_t length = 0;       // characters taken from the format
};

std::optional<Conversion> ReadConversion(std::string_view format, size_t pos) {
    if (pos >= format.size() || format[pos] != '%') return std::nullopt;
    Conversion conv;
    size_t i = pos + 1;
    while (i < format.size() && std::strchr("_-0^#", format[i]) != nullptr) {
        if (format[i] == '-') conv.noPadding = true;
        ++i;
    }
    while (i < format.size() && IsAsciiDigit(format[i])) ++i;
    while (i < format.size() && (format[i] == 'E' || format[i] == 'O')) ++i;
    if (i >= format.size()) return std::nullopt;
    conv.letter = format[i];
    conv.length = i + 1 - pos;
    return conv;
}

// Expands the composite conversions of a strftime format into their parts: `expansion` gives
// the parts for a conversion letter, or nothing to keep that conversion as it is.
template <class Expansion>
std::string ExpandComposites(std::string_view format, const Expansion& expansion) {
    std::string out;
    for (size_t i = 0; i < format.size();) {
        const auto conv = ReadConversion(format, i);
        if (!conv) {
            out += format[i++];
            continue;
        }
        if (const std::optional<std::string_view> parts = expansion(conv->letter)) {
            out += *parts;
        } else {
            out.append(format.substr(i, conv->length));
        }
        i += conv->length;
    }
    return out;
}

std::string ExpandDateComposites(std::string_view format) {
    return ExpandComposites(format, [](char letter) -> std::optional<std::string_view> {
        if (letter == 'D') return "%m/%d/%y";
        if (letter == 'F') return "%Y-%m-%d";
        return std::nullopt;
    });
}

std::string ExpandTimeComposites(std::string_view format, std::string_view ampmFormat) {
    return ExpandComposites(format, [&](char letter) -> std::optional<std::string_view> {
        if (letter == 'T') return "%H:%M:%S";
        if (letter == 'R') return "%H:%M";
        if (letter == 'r') return ampmFormat.empty() ? "%I:%M:%S %p" : ampmFormat;
        return std::nullopt;
    });
}

// nl_langinfo's answer, or an empty text.
std::string LangInfo(nl_item item) {
    const char* text = nl_langinfo(item);
    return text ? std::string(text) : std::string();
}

bool IsCLocaleName(const char* name) {
    if (name == nullptr) return true;
    const std::string_view n(name);
    return n == "C" || n == "POSIX" || n.starts_with("C.");
}

}  // namespace

TTranslatedFormat TranslateDateFormat(std::string_view dateFormat) {
    const std::string format = ExpandDateComposites(dateFormat);
    // The separator is the first single character found between two fields.
    TTranslatedFormat result;
    bool seenField = false;
    for (size_t i = 0; i < format.size() && result.Separator == 0;) {
        if (const auto conv = ReadConversion(format, i)) {
            seenField = true;
            i += conv->length;
            continue;
        }
        if (seenField && IsSeparatorCandidate(format[i]) && ReadConversion(format, i + 1)) {
            result.Separator = format[i];
        }
        ++i;
    }

    std::string literal;
    auto flush = [&] {
        AppendLiteral(result.Pattern, literal);
        literal.clear();
    };
    for (size_t i = 0; i < format.size();) {
        const auto conv = ReadConversion(format, i);
        if (!conv) {
            const char c = format[i++];
            if (result.Separator != 0 && c == result.Separator) {
                flush();
                result.Pattern += '/';
            } else {
                literal += c;
            }
            continue;
        }
        i += conv->length;
        const char* element = nullptr;
        switch (conv->letter) {
            case 'd': element = conv->noPadding ? "d" : "dd"; break;
            case 'e': element = "d"; break;
            case 'm': element = conv->noPadding ? "m" : "mm"; break;
            case 'y': element = "yy"; break;
            case 'Y': case 'G': element = "yyyy"; break;
            case 'b': case 'h': element = "mmm"; break;
            case 'B': element = "mmmm"; break;
            case 'a': element = "ddd"; break;
            case 'A': element = "dddd"; break;
            case '%': literal += '%'; break;
            case 'n': literal += ' '; break;
            case 't': literal += ' '; break;
            default: break;  // conversions without a pattern element are left out
        }
        if (element) {
            flush();
            result.Pattern += element;
        }
    }
    flush();
    return result;
}

TTranslatedFormat TranslateTimeFormat(std::string_view timeFormat, std::string_view ampmFormat) {
    const std::string format = ExpandTimeComposites(timeFormat, ampmFormat);
    TTranslatedFormat result;
    bool twelveHour = false;
    bool leadingZero = true;
    bool markerFirst = false;
    bool seenHour = false;
    bool seenMarker = false;
    size_t afterHour = std::string::npos;
    for (size_t i = 0; i < format.size();) {
        const auto conv = ReadConversion(format, i);
        if (!conv) {
            ++i;
            continue;
        }
        const char letter = conv->letter;
        if (!seenHour && (letter == 'H' || letter == 'I' || letter == 'k' || letter == 'l')) {
            seenHour = true;
            twelveHour = twelveHour || letter == 'I' || letter == 'l';
            leadingZero = !conv->noPadding && (letter == 'H' || letter == 'I');
            afterHour = i + conv->length;
            markerFirst = seenMarker;
        } else if (letter == 'p' || letter == 'P') {
            twelveHour = true;
            seenMarker = true;
        } else if (letter == 'M' && afterHour != std::string::npos &&
                   result.Separator == 0) {
            // A single character between hour and minute is the time separator.
            if (i == afterHour + 1 && IsSeparatorCandidate(format[afterHour])) {
                result.Separator = format[afterHour];
            }
        }
        i += conv->length;
    }
    std::string pattern = leadingZero ? "hh:mm:ss" : "h:mm:ss";
    if (twelveHour) pattern = markerFirst ? "AMPM " + pattern : pattern + " AMPM";
    result.Pattern = std::move(pattern);
    return result;
}

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
                if (date.Separator != 0) settings.DateSeparator = date.Separator;
            }
            const std::string timeFormat = LangInfo(T_FMT);
            if (!timeFormat.empty()) {
                const TTranslatedFormat time =
                    TranslateTimeFormat(timeFormat, LangInfo(T_FMT_AMPM));
                settings.LongTimeFormat = time.Pattern;
                if (time.Separator != 0) settings.TimeSeparator = time.Separator;
            }
            if (const std::string am = LangInfo(AM_STR); !am.empty()) settings.TimeAMString = am;
            if (const std::string pm = LangInfo(PM_STR); !pm.empty()) settings.TimePMString = pm;
            static constexpr nl_item kShortMonths[12] = {ABMON_1, ABMON_2, ABMON_3,  ABMON_4,
                                                         ABMON_5, ABMON_6, ABMON_7,  ABMON_8,
                                                         ABMON_9, ABMON_10, ABMON_11, ABMON_12};
            static constexpr nl_item kLongMonths[12] = {MON_1, MON_2, MON_3,  MON_4,
                                                        MON_5, MON_6, MON_7,  MON_8,
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

const TFormatSettings& FormatSettings() {
    return Current();
}

void LoadFormatSettings() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    Current() = ReadLocaleFormatSettings();
}

void SetFormatSettings(const TFormatSettings& settings) {
    Current() = settings;
}

}  // namespace ibclient

// The shared text conversions of numbers, fixed-point values and date-times. None of them
// goes through the C library's locale: digits come from std::to_chars / std::from_chars and
// the separators from the format settings.
#include "ibclient/TextFormat.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>
#include <optional>
#include <system_error>

#include "ibclient/Errors.h"
#include "platform/LocalTime.h"

namespace ibclient {

namespace {

// ---- Decimal digits of a double ----

// A positive value as 0.d1d2...dk x 10^Exponent with d1 not zero and no trailing zeros.
struct DecimalDigits {
    std::string Digits;
    int Exponent = 0;
};

// The exact decimal expansion of a finite, non-zero magnitude. A double has at most 767
// significant decimal digits, so this precision loses nothing and later rounding sees the
// true value (ties included) instead of an already rounded one.
DecimalDigits ExactDigits(double magnitude) {
    char buffer[800];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                         std::chars_format::scientific, 767);
    DecimalDigits result;
    if (ec != std::errc()) return result;
    const std::string_view text(buffer, static_cast<size_t>(end - buffer));
    const size_t ePos = text.find('e');
    result.Digits += text[0];
    for (size_t i = 2; i < ePos; ++i) result.Digits += text[i];
    int exponent = 0;
    std::from_chars(text.data() + ePos + 1 + (text[ePos + 1] == '+' ? 1 : 0),
                    text.data() + text.size(), exponent);
    result.Exponent = exponent + 1;
    while (!result.Digits.empty() && result.Digits.back() == '0') result.Digits.pop_back();
    return result;
}

// Keeps the first `keep` digits, rounding half away from zero on the exact digits; the
// result may become empty (the value rounds to zero). Trailing zeros are dropped.
void RoundDigits(DecimalDigits& value, int keep) {
    if (keep < 0) {
        value.Digits.clear();
        return;
    }
    if (static_cast<size_t>(keep) >= value.Digits.size()) return;
    const bool up = value.Digits[static_cast<size_t>(keep)] >= '5';
    value.Digits.resize(static_cast<size_t>(keep));
    if (up) {
        size_t i = value.Digits.size();
        while (i > 0 && value.Digits[i - 1] == '9') {
            value.Digits.pop_back();
            --i;
        }
        if (i == 0) {
            value.Digits.assign(1, '1');
            ++value.Exponent;
        } else {
            ++value.Digits[i - 1];
        }
    }
    while (!value.Digits.empty() && value.Digits.back() == '0') value.Digits.pop_back();
}

std::string Quoted(std::string_view text) {
    std::string result;
    result.reserve(text.size() + 2);
    result += '\'';
    result += text;
    result += '\'';
    return result;
}

[[noreturn]] void RaiseInvalidInteger(std::string_view text) {
    throw EConvertError(Quoted(text) + " is not a valid integer value");
}

[[noreturn]] void RaiseInvalidFloat(std::string_view text) {
    throw EConvertError(Quoted(text) + " is not a valid floating point value");
}

std::string_view TrimControls(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (prefix.empty() || text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
    }
    return true;
}

// ---- Decimal number syntax shared by the float and currency parsers ----

struct DecimalText {
    bool Negative = false;
    std::string Digits;   // all mantissa digits, integer part first
    int64_t PointPos = 0;  // digits before the decimal point, after applying the exponent
};

// Optional sign, digits with at most one decimal separator (at least one digit in all),
// optional "E" or "e", optional sign and exponent digits. Nothing else.
std::optional<DecimalText> ParseDecimal(std::string_view text, char decimalSeparator) {
    DecimalText result;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        result.Negative = text[i] == '-';
        ++i;
    }
    bool sawPoint = false;
    bool sawDigit = false;
    int64_t intDigits = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            sawDigit = true;
            // Leading zeros carry no value; dropping them keeps Digits short.
            if (result.Digits.empty() && c == '0') {
                if (!sawPoint) continue;
                --intDigits;
                continue;
            }
            result.Digits += c;
            if (!sawPoint) ++intDigits;
        } else if (c == decimalSeparator && !sawPoint) {
            sawPoint = true;
        } else {
            break;
        }
    }
    if (!sawDigit) return std::nullopt;
    int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        if (i >= text.size() || !IsDigit(text[i])) return std::nullopt;
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            // Far beyond any double; saturating keeps the arithmetic defined.
            if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
        }
        if (negativeExponent) exponent = -exponent;
    }
    if (i != text.size()) return std::nullopt;
    while (!result.Digits.empty() && result.Digits.back() == '0') result.Digits.pop_back();
    result.PointPos = intDigits + exponent;
    return result;
}

// Builds "0.<digits>e<pointPos>" for from_chars, which reads it without any locale.
std::optional<double> DecimalToDouble(const DecimalText& decimal) {
    if (decimal.Digits.empty()) return decimal.Negative ? -0.0 : 0.0;
    if (decimal.PointPos > 400) return std::nullopt;             // overflow
    if (decimal.PointPos < -400) return decimal.Negative ? -0.0 : 0.0;  // underflow
    std::string text = "0.";
    text += decimal.Digits;
    text += 'e';
    text += std::to_string(decimal.PointPos);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) {
        if (decimal.PointPos > 0) return std::nullopt;
        value = 0;  // below the smallest double
    } else if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return decimal.Negative ? -value : value;
}

std::optional<int64_t> ParseInteger(std::string_view text, int64_t minValue, int64_t maxValue) {
    text = TrimControls(text);
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size()) return std::nullopt;
    const uint64_t limit = negative ? static_cast<uint64_t>(-(minValue + 1)) + 1
                                    : static_cast<uint64_t>(maxValue);
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return std::nullopt;
        const auto digit = static_cast<uint64_t>(text[i] - '0');
        if (magnitude > (limit - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    if (negative) return magnitude == 0 ? 0 : -static_cast<int64_t>(magnitude - 1) - 1;
    return static_cast<int64_t>(magnitude);
}

// ---- Date-time patterns ----

std::string Padded(int64_t value, int width) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    }
    return value < 0 ? "-" + digits : digits;
}

// Length of the quoted text starting at `pos` (the quotation marks included); an unclosed
// quotation runs to the end of the pattern.
size_t QuotedLength(std::string_view pattern, size_t pos) {
    const size_t close = pattern.find(pattern[pos], pos + 1);
    return close == std::string_view::npos ? pattern.size() - pos : close - pos + 1;
}

bool PatternHasAmPm(std::string_view pattern) {
    for (size_t i = 0; i < pattern.size();) {
        if (pattern[i] == '\'' || pattern[i] == '"') {
            i += QuotedLength(pattern, i);
        } else if (StartsWithNoCase(pattern.substr(i), "ampm")) {
            return true;
        } else {
            ++i;
        }
    }
    return false;
}

}  // namespace

// ---- Numbers to text ----

std::string FloatToText(double value, int digits, const platform::TFormatSettings& settings) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";
    digits = digits < 1 ? 1 : (digits > 767 ? 767 : digits);
    DecimalDigits decimal = ExactDigits(std::fabs(value));
    RoundDigits(decimal, digits);
    const std::string& d = decimal.Digits;
    const int e = decimal.Exponent;
    std::string text;
    if (value < 0) text += '-';
    if (e >= -3 && e <= (digits > 15 ? digits : 15)) {
        if (e <= 0) {
            text += '0';
            text += settings.DecimalSeparator;
            text.append(static_cast<size_t>(-e), '0');
            text += d;
        } else if (static_cast<size_t>(e) >= d.size()) {
            text += d;
            text.append(static_cast<size_t>(e) - d.size(), '0');
        } else {
            text.append(d, 0, static_cast<size_t>(e));
            text += settings.DecimalSeparator;
            text.append(d, static_cast<size_t>(e));
        }
    } else {
        text += d[0];
        if (d.size() > 1) {
            text += settings.DecimalSeparator;
            text.append(d, 1);
        }
        text += 'E';
        text += std::to_string(e - 1);
    }
    return text;
}

std::string CurrencyToText(int64_t value, const platform::TFormatSettings& settings) {
    return ScaledToText(value, 4, settings);
}

std::string ScaledToText(int64_t value, int decimals, const platform::TFormatSettings& settings) {
    const bool negative = value < 0;
    const uint64_t magnitude =
        negative ? static_cast<uint64_t>(-(value + 1)) + 1 : static_cast<uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    const size_t places = decimals > 0 ? static_cast<size_t>(decimals) : 0;
    if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
    std::string text = negative ? "-" : "";
    text.append(digits, 0, digits.size() - places);
    std::string fraction = digits.substr(digits.size() - places);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (!fraction.empty()) {
        text += settings.DecimalSeparator;
        text += fraction;
    }
    return text;
}

std::string IntToText(int64_t value) {
    return std::to_string(value);
}

double RoundToDecimals(double value, int decimals) {
    if (!std::isfinite(value) || value == 0) return value;
    DecimalDigits decimal = ExactDigits(std::fabs(value));
    const int64_t byDecimals = static_cast<int64_t>(decimal.Exponent) + decimals;
    const int64_t keep = byDecimals < 15 ? byDecimals : 15;
    RoundDigits(decimal, static_cast<int>(keep < -1 ? -1 : keep));
    DecimalText text;
    text.Negative = value < 0;
    text.Digits = decimal.Digits;
    text.PointPos = decimal.Exponent;
    // Rounded digits of a finite double always read back as a finite double.
    return DecimalToDouble(text).value_or(value);
}

// ---- Fixed-point values and doubles ----

int64_t DoubleToCurrency(double value) {
    // The product in extended precision is exact for the doubles that matter here, so a
    // value just above or below a half rounds by its true size; the default rounding mode
    // rounds to nearest, ties to even.
    const long double scaled = std::nearbyint(static_cast<long double>(value) * 10000.0L);
    // 2^63 is exact; anything from there on (or not a number) does not fit.
    if (!(scaled >= -9223372036854775808.0L && scaled < 9223372036854775808.0L)) {
        throw EConvertError(Quoted(FloatToText(value, 15, platform::TFormatSettings())) +
                            " is not a valid currency value");
    }
    return static_cast<int64_t>(scaled);
}

double CurrencyToDouble(int64_t value) {
    // Extended precision holds every 64-bit count exactly before the division.
    return static_cast<double>(static_cast<long double>(value) / 10000.0L);
}

// ---- Date-times to text ----

std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const platform::TFormatSettings& settings) {
    const TTimeStamp stamp = DateTimeToTimeStamp(value);
    const TDateParts date = DayNumberToDate(stamp.Date);
    const int ms = stamp.Time % 1000;
    const int second = stamp.Time / 1000 % 60;
    const int minute = stamp.Time / 60000 % 60;
    const int hour = stamp.Time / 3600000;
    const bool twelveHour = PatternHasAmPm(pattern);
    const int dayOfWeek = static_cast<int>(((stamp.Date % 7) + 7) % 7);  // 0 = Sunday

    std::string text;
    bool afterHour = false;
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '\'' || c == '"') {
            const size_t close = pattern.find(c, i + 1);
            if (close == std::string_view::npos) {
                text.append(pattern.substr(i + 1));  // unclosed: the rest is text
                break;
            }
            text.append(pattern.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        if (StartsWithNoCase(pattern.substr(i), "ampm")) {
            text += hour < 12 ? settings.TimeAMString : settings.TimePMString;
            afterHour = false;
            i += 4;
            continue;
        }
        const char letter = LowerAscii(c);
        size_t run = 1;
        while (i + run < pattern.size() && LowerAscii(pattern[i + run]) == letter) ++run;
        switch (letter) {
            case 'd':
                if (run == 1 || run == 2) {
                    text += Padded(date.Day, static_cast<int>(run));
                } else if (run == 3) {
                    text += settings.ShortDayNames[static_cast<size_t>(dayOfWeek)];
                } else {
                    text += settings.LongDayNames[static_cast<size_t>(dayOfWeek)];
                }
                afterHour = false;
                break;
            case 'm':
                if (afterHour && run <= 2) {
                    text += Padded(minute, static_cast<int>(run));
                } else if (run <= 2) {
                    text += Padded(date.Month, static_cast<int>(run));
                } else if (run == 3) {
                    text += settings.ShortMonthNames[static_cast<size_t>(date.Month - 1)];
                } else {
                    text += settings.LongMonthNames[static_cast<size_t>(date.Month - 1)];
                }
                afterHour = false;
                break;
            case 'y':
                text += run <= 2 ? Padded(date.Year % 100, 2) : Padded(date.Year, 4);
                afterHour = false;
                break;
            case 'h': {
                int shown = hour;
                if (twelveHour) {
                    shown = hour % 12;
                    if (shown == 0) shown = 12;
                }
                text += Padded(shown, run == 1 ? 1 : 2);
                afterHour = true;
                break;
            }
            case 'n':
                text += Padded(minute, run == 1 ? 1 : 2);
                afterHour = false;
                break;
            case 's':
                text += Padded(second, run == 1 ? 1 : 2);
                afterHour = false;
                break;
            case 'z':
                text += Padded(ms, run == 1 ? 1 : 3);
                afterHour = false;
                break;
            case '/':
                text.append(run, settings.DateSeparator);
                break;
            case ':':
                text.append(run, settings.TimeSeparator);
                break;
            default:
                text.append(pattern.substr(i, run));
                break;
        }
        i += run;
    }
    return text;
}

namespace {

// `pattern` with each run of one or two year letters (outside quoted text) made "yyyy". A
// two-digit year reads back within 50 years of today, which moves 1950 to 2050 and 9999 to
// 1999; the four digits keep every date what it was. Order and separators stay as they are.
std::string WidenedYear(std::string_view pattern) {
    std::string result;
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '\'' || c == '"') {
            const size_t close = pattern.find(c, i + 1);
            const size_t end = close == std::string_view::npos ? pattern.size() : close + 1;
            result.append(pattern.substr(i, end - i));
            i = end;
            continue;
        }
        if (c == 'y' || c == 'Y') {
            size_t run = 1;
            while (i + run < pattern.size() && (pattern[i + run] == 'y' || pattern[i + run] == 'Y'))
                ++run;
            result.append(run <= 2 ? "yyyy" : std::string(pattern.substr(i, run)));
            i += run;
            continue;
        }
        result += c;
        ++i;
    }
    return result;
}

}  // namespace

std::string DateToText(TDateTime value, const platform::TFormatSettings& settings) {
    return FormatDateTime(WidenedYear(settings.ShortDateFormat), value, settings);
}

std::string TimeToText(TDateTime value, const platform::TFormatSettings& settings) {
    return FormatDateTime(settings.LongTimeFormat, value, settings);
}

std::string DateTimeToText(TDateTime value, const platform::TFormatSettings& settings) {
    std::string text = DateToText(value, settings);
    const TTimeParts time = DecodeTime(value);
    if (time.Hour != 0 || time.Minute != 0 || time.Second != 0) {
        text += ' ';
        text += TimeToText(value, settings);
    }
    return text;
}

// ---- Text to values ----

double TextToFloat(std::string_view text, const platform::TFormatSettings& settings) {
    const auto decimal = ParseDecimal(TrimControls(text), settings.DecimalSeparator);
    if (!decimal) RaiseInvalidFloat(text);
    const auto value = DecimalToDouble(*decimal);
    if (!value) RaiseInvalidFloat(text);
    return *value;
}

std::optional<TIntegerText> ParseIntegerText(std::string_view text) {
    constexpr uint64_t kMaxMagnitude = uint64_t{1} << 32;
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    TIntegerText result;
    if (text.substr(i, 2) == "0x" || text.substr(i, 2) == "0X") {
        result.Hexadecimal = true;
        i += 2;
    } else if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        result.Hexadecimal = true;
        ++i;
    }
    if (i >= text.size()) return std::nullopt;
    const uint64_t base = result.Hexadecimal ? 16 : 10;
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        const char lower = static_cast<char>(c | 0x20);
        uint64_t digit = 0;
        if (IsDigit(c)) {
            digit = static_cast<uint64_t>(c - '0');
        } else if (result.Hexadecimal && lower >= 'a' && lower <= 'f') {
            digit = static_cast<uint64_t>(lower - 'a' + 10);
        } else {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > kMaxMagnitude) return std::nullopt;
    }
    result.Value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return result;
}

int32_t TextToInt32(std::string_view text) {
    const auto value = ParseInteger(text, std::numeric_limits<int32_t>::min(),
                                    std::numeric_limits<int32_t>::max());
    if (!value) RaiseInvalidInteger(text);
    return static_cast<int32_t>(*value);
}

int64_t TextToInt64(std::string_view text) {
    const auto value = ParseInteger(text, std::numeric_limits<int64_t>::min(),
                                    std::numeric_limits<int64_t>::max());
    if (!value) RaiseInvalidInteger(text);
    return *value;
}

int64_t TextToCurrency(std::string_view text, const platform::TFormatSettings& settings) {
    const auto decimal = ParseDecimal(TrimControls(text), settings.DecimalSeparator);
    if (!decimal) RaiseInvalidFloat(text);
    const std::string& digits = decimal->Digits;
    if (digits.empty()) return 0;
    // The count of ten-thousandths has `whole` digits before its own decimal point.
    const int64_t whole = decimal->PointPos + 4;
    if (whole > 19) RaiseInvalidFloat(text);
    uint64_t magnitude = 0;
    for (int64_t i = 0; i < whole; ++i) {
        const size_t index = static_cast<size_t>(i);
        magnitude = magnitude * 10 + (index < digits.size() ? digits[index] - '0' : 0);
    }
    // Round the dropped digits to nearest, ties to even, as the double-to-currency step does.
    const size_t first = whole < 0 ? 0 : static_cast<size_t>(whole);
    if (whole >= 0 && first < digits.size()) {
        const char lead = digits[first];
        // Trailing zeros were removed, so any digit after the lead makes it more than a tie.
        const bool moreThanLead = first + 1 < digits.size();
        if (lead > '5' || (lead == '5' && (moreThanLead || magnitude % 2 == 1))) ++magnitude;
    }
    const uint64_t limit = decimal->Negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (magnitude > limit) RaiseInvalidFloat(text);
    if (decimal->Negative) return magnitude == 0 ? 0 : -static_cast<int64_t>(magnitude - 1) - 1;
    return static_cast<int64_t>(magnitude);
}

namespace {

int CurrentYear() {
    return platform::CurrentLocalTime().Year;
}

// Order of day, month and year in a date pattern, as the letters 'd', 'm', 'y'.
std::string DateOrder(std::string_view pattern) {
    std::string order;
    for (size_t i = 0; i < pattern.size();) {
        if (pattern[i] == '\'' || pattern[i] == '"') {
            i += QuotedLength(pattern, i);
            continue;
        }
        const char letter = LowerAscii(pattern[i]);
        if ((letter == 'd' || letter == 'm' || letter == 'y') &&
            order.find(letter) == std::string::npos) {
            order += letter;
        }
        ++i;
    }
    for (char letter : {'m', 'd', 'y'}) {
        if (order.find(letter) == std::string::npos) order += letter;
    }
    return order;
}

void SkipBlanks(std::string_view text, size_t& pos) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
}

// Up to `maxDigits` decimal digits; the count read goes to `count`.
std::optional<int> ReadNumber(std::string_view text, size_t& pos, size_t maxDigits,
                              size_t* count = nullptr) {
    size_t n = 0;
    int value = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
        if (++n > maxDigits) return std::nullopt;
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    if (n == 0) return std::nullopt;
    if (count) *count = n;
    return value;
}

std::optional<TDateTime> ScanDate(std::string_view text,
                                  const platform::TFormatSettings& settings) {
    text = TrimControls(text);
    int numbers[3] = {0, 0, 0};
    size_t yearDigits[3] = {0, 0, 0};
    int found = 0;
    size_t pos = 0;
    while (found < 3) {
        SkipBlanks(text, pos);
        const auto number = ReadNumber(text, pos, 4, &yearDigits[found]);
        if (!number) return std::nullopt;
        numbers[found++] = *number;
        SkipBlanks(text, pos);
        if (pos >= text.size() || text[pos] != settings.DateSeparator) break;
        ++pos;
    }
    if (pos != text.size() || found < 2) return std::nullopt;

    const std::string order = DateOrder(settings.ShortDateFormat);
    int year = 0;
    int month = 0;
    int day = 0;
    size_t digitsOfYear = 4;
    if (found == 3) {
        for (size_t k = 0; k < 3; ++k) {
            if (order[k] == 'd') day = numbers[k];
            if (order[k] == 'm') month = numbers[k];
            if (order[k] == 'y') {
                year = numbers[k];
                digitsOfYear = yearDigits[k];
            }
        }
    } else {
        // Two numbers: day and month in the pattern's order, this year.
        year = CurrentYear();
        const bool dayFirst = order.find('d') < order.find('m');
        day = dayFirst ? numbers[0] : numbers[1];
        month = dayFirst ? numbers[1] : numbers[0];
    }
    if (digitsOfYear <= 2) {
        const int current = CurrentYear();
        year += current - current % 100;
        if (year > current + 50) year -= 100;
        if (year <= current - 50) year += 100;
    }
    TDateTime result = 0;
    if (!TryEncodeDate(year, month, day, result)) return std::nullopt;
    return result;
}

// Reads an AM or PM marker at `pos` (the settings' strings, or "AM"/"PM"), any case.
std::optional<bool> ReadMarker(std::string_view text, size_t& pos,
                               const platform::TFormatSettings& settings) {
    const std::string_view rest = text.substr(pos);
    for (const auto& [marker, isPm] :
         {std::pair<std::string_view, bool>{settings.TimeAMString, false},
          {settings.TimePMString, true}, {"AM", false}, {"PM", true}}) {
        if (StartsWithNoCase(rest, marker)) {
            pos += marker.size();
            return isPm;
        }
    }
    return std::nullopt;
}

std::optional<TDateTime> ScanTime(std::string_view text,
                                  const platform::TFormatSettings& settings) {
    text = TrimControls(text);
    size_t pos = 0;
    std::optional<bool> pm = ReadMarker(text, pos, settings);
    SkipBlanks(text, pos);
    const auto hour = ReadNumber(text, pos, 2);
    if (!hour) return std::nullopt;
    int minute = 0;
    int second = 0;
    int ms = 0;
    bool hasMinutes = false;
    if (pos < text.size() && text[pos] == settings.TimeSeparator) {
        ++pos;
        const auto m = ReadNumber(text, pos, 2);
        if (!m) return std::nullopt;
        minute = *m;
        hasMinutes = true;
        if (pos < text.size() && text[pos] == settings.TimeSeparator) {
            ++pos;
            const auto s = ReadNumber(text, pos, 2);
            if (!s) return std::nullopt;
            second = *s;
            if (pos < text.size() &&
                (text[pos] == settings.DecimalSeparator || text[pos] == '.')) {
                ++pos;
                size_t count = 0;
                const auto z = ReadNumber(text, pos, 3, &count);
                if (!z) return std::nullopt;
                ms = *z * (count == 1 ? 100 : (count == 2 ? 10 : 1));
            }
        }
    }
    SkipBlanks(text, pos);
    if (!pm && pos < text.size()) pm = ReadMarker(text, pos, settings);
    SkipBlanks(text, pos);
    if (pos != text.size() || (!hasMinutes && !pm)) return std::nullopt;
    int h = *hour;
    if (pm) {
        if (h < 1 || h > 12) return std::nullopt;
        h %= 12;
        if (*pm) h += 12;
    }
    TDateTime result = 0;
    if (!TryEncodeTime(h, minute, second, ms, result)) return std::nullopt;
    return result;
}

}  // namespace

TDateTime TextToDate(std::string_view text, const platform::TFormatSettings& settings) {
    const auto value = ScanDate(text, settings);
    if (!value) throw EConvertError(Quoted(text) + " is not a valid date");
    return *value;
}

TDateTime TextToTime(std::string_view text, const platform::TFormatSettings& settings) {
    const auto value = ScanTime(text, settings);
    if (!value) throw EConvertError(Quoted(text) + " is not a valid time");
    return *value;
}

TDateTime TextToDateTime(std::string_view text, const platform::TFormatSettings& settings) {
    const std::string_view trimmed = TrimControls(text);
    if (const auto date = ScanDate(trimmed, settings)) return *date;
    // A date, a blank, then a time. Blanks may also stand around the date's separators, so
    // each blank in turn is tried as the split point.
    for (size_t blank = trimmed.find(' '); blank != std::string_view::npos;
         blank = trimmed.find(' ', blank + 1)) {
        const auto date = ScanDate(trimmed.substr(0, blank), settings);
        if (!date) continue;
        if (const auto time = ScanTime(trimmed.substr(blank + 1), settings)) {
            return ComposeDateTime(*date, *time);
        }
    }
    if (const auto time = ScanTime(trimmed, settings)) return *time;
    throw EConvertError(Quoted(text) + " is not a valid date and time");
}

}  // namespace ibclient

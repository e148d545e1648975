// The shared text conversions of field and column values: numbers, fixed-point values and
// date-times to text and back, shaped by the locale format settings. Every conversion is
// independent of the C library's locale; separators come from the settings passed in
// (the process-wide settings by default).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ibclient/DateTime.h"
#include "platform/FormatSettings.h"

namespace ibclient {

// ---- Numbers to text ----

// General number format: the value to `digits` significant digits (ties away from zero),
// trailing zeros dropped; fixed notation for magnitudes from 1E-4 up to, not including,
// 1E15 (for 15 digits: exponent -3 <= e <= 15 of 0.d1d2.. x 10^e), otherwise "d.dddE-x"
// without "+". Zero gives "0"; not-a-number and infinities give "NAN", "INF", "-INF".
std::string FloatToText(double value, int digits = 15,
                        const platform::TFormatSettings& settings = platform::FormatSettings());

// Fixed-point text of a signed 64-bit count of ten-thousandths: "12.5", "100", "-0.25", "0".
std::string CurrencyToText(int64_t value,
                           const platform::TFormatSettings& settings = platform::FormatSettings());

// The exact fixed-point text of value x 10^-decimals (decimals >= 0), trailing zeros of the
// fraction dropped: (123450, 4) -> "12.345", (-5, 8) -> "-0.00000005". Every 64-bit value
// has one, so a scaled integer column never needs a double on its way to text.
std::string ScaledToText(int64_t value, int decimals,
                         const platform::TFormatSettings& settings = platform::FormatSettings());

// Decimal integer text.
std::string IntToText(int64_t value);

// The double nearest to `value` written in fixed notation with `decimals` decimals and at
// most 15 significant digits (ties away from zero). Used by the column getters for scaled
// integers, with the magnitude of the scale as `decimals`.
double RoundToDecimals(double value, int decimals);

// ---- Fixed-point values and doubles ----

// The value times 10000 rounded to the nearest integer, ties to even: the count of
// ten-thousandths. Raises EConvertError "'%s' is not a valid currency value" for a value
// that is not finite or lies outside the 64-bit range.
int64_t DoubleToCurrency(double value);
// The count of ten-thousandths as the nearest double.
double CurrencyToDouble(int64_t value);

// ---- Date-times to text ----

// Formats a date-time by a pattern (d dd ddd dddd, m mm mmm mmmm, yy yyyy, h hh, n nn,
// s ss, z zzz, AMPM, "/" ":", quoted text; letters case-insensitive; m/mm after an hour
// element mean minutes; h/hh count 1..12 when the pattern holds AMPM).
std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const platform::TFormatSettings& settings = platform::FormatSettings());
// The short date pattern, with every year element of one or two letters widened to four, so
// that the server reads the text back as the same date in any century.
std::string DateToText(TDateTime value,
                       const platform::TFormatSettings& settings = platform::FormatSettings());
// The long time pattern.
std::string TimeToText(TDateTime value,
                       const platform::TFormatSettings& settings = platform::FormatSettings());
// The short date (four-digit year, as DateToText), then a blank and the long time unless
// hour, minute and second are all zero. Milliseconds never show.
std::string DateTimeToText(TDateTime value,
                           const platform::TFormatSettings& settings = platform::FormatSettings());

// ---- Text to values (each raises EConvertError on text it cannot read) ----
// Leading and trailing characters of code 32 or less are ignored.

// Optional sign, digits, the settings' decimal separator, optional exponent "E[+-]digits".
// "'%s' is not a valid floating point value".
double TextToFloat(std::string_view text,
                   const platform::TFormatSettings& settings = platform::FormatSettings());
// Optional sign and decimal digits. "'%s' is not a valid integer value".
// The runtime's integer text form, shared by settings values and parameter lines: optional
// leading blanks, an optional sign, then decimal digits, or hexadecimal digits after "$",
// "x", "X", "0x" or "0X". Nothing may follow the digits. The value carries the sign; callers
// apply their own range. nullopt for any other text or a magnitude above 2^32.
struct TIntegerText {
    int64_t Value = 0;
    bool Hexadecimal = false;
};
std::optional<TIntegerText> ParseIntegerText(std::string_view text);

int32_t TextToInt32(std::string_view text);
int64_t TextToInt64(std::string_view text);
// As TextToFloat, read exactly and rounded to four decimals (ties to even); the result is the
// count of ten-thousandths. "'%s' is not a valid floating point value".
int64_t TextToCurrency(std::string_view text,
                       const platform::TFormatSettings& settings = platform::FormatSettings());
// A date in the order of the short date pattern: day, month and year numbers separated by the
// date separator (a missing year means the current year; a year of one or two digits lies
// within 50 years of the current one). "'%s' is not a valid date".
TDateTime TextToDate(std::string_view text,
                     const platform::TFormatSettings& settings = platform::FormatSettings());
// A time "h:n[:s[.z]]" with the time separator and an optional AM/PM marker.
// "'%s' is not a valid time".
TDateTime TextToTime(std::string_view text,
                     const platform::TFormatSettings& settings = platform::FormatSettings());
// A date optionally followed by a time, or a time alone. "'%s' is not a valid date and time".
TDateTime TextToDateTime(std::string_view text,
                         const platform::TFormatSettings& settings = platform::FormatSettings());

}  // namespace ibclient

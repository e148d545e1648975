// Text forms of numbers, fixed-point values and date-times, and their parsers.
//
// Input: the first byte picks a check, the rest feeds it through FuzzedDataProvider.
// Properties that must hold:
// - any text: the parsers raise only EConvertError; TextToInt32 and TextToInt64 agree; the
//   currency reading lies within half a ten-thousandth of the float reading;
// - a finite double written with 17 digits reads back as the same double; one written with
//   15 digits reads back as a double that is written the same way again (normal magnitudes);
//   both with "." and with "," as decimal separator;
// - every count of ten-thousandths written by CurrencyToText reads back as itself, and every
//   count up to 2^51 survives the trip through a double;
// - any pattern formats any date-time of the calendar's range without failing; dates written
//   with four-digit years and times with seconds read back as the same date and second.
#include "fuzz/FuzzCheck.h"
#include "ibclient/DateTime.h"
#include "ibclient/Errors.h"
#include "ibclient/TextFormat.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

namespace {

using platform::TFormatSettings;

platform::TFormatSettings Settings(FuzzedDataProvider& input) {
    platform::TFormatSettings settings;
    if (input.ConsumeBool()) {
        settings.DecimalSeparator = ',';
        settings.DateSeparator = '.';
    }
    return settings;
}

std::string Bits(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return std::to_string(bits);
}

void ParseAnything(FuzzedDataProvider& input) {
    const platform::TFormatSettings settings = Settings(input);
    const std::string text = input.ConsumeRemainingBytesAsString();
    std::optional<double> asFloat;
    std::optional<int64_t> asCurrency;
    std::optional<int64_t> asInt64;
    std::optional<int32_t> asInt32;
    try { asFloat = ibclient::TextToFloat(text, settings); } catch (const ibclient::EConvertError&) {}
    try { asCurrency = ibclient::TextToCurrency(text, settings); } catch (const ibclient::EConvertError&) {}
    try { asInt64 = ibclient::TextToInt64(text); } catch (const ibclient::EConvertError&) {}
    try { asInt32 = ibclient::TextToInt32(text); } catch (const ibclient::EConvertError&) {}
    try { (void)ibclient::TextToDate(text, settings); } catch (const ibclient::EConvertError&) {}
    try { (void)ibclient::TextToTime(text, settings); } catch (const ibclient::EConvertError&) {}
    try { (void)ibclient::TextToDateTime(text, settings); } catch (const ibclient::EConvertError&) {}

    if (asInt32) {
        FUZZ_CHECK(asInt64 && *asInt64 == *asInt32, "Int32 and Int64 disagree on " + fuzzcheck::Shown(text));
    }
    if (asInt64) {
        FUZZ_CHECK(ibclient::TextToInt64(ibclient::IntToText(*asInt64)) == *asInt64, "integer text");
    }
    if (asFloat) {
        FUZZ_CHECK(!std::isnan(*asFloat), "NaN read from " + fuzzcheck::Shown(text));
    }
    if (asFloat && asCurrency && std::isfinite(*asFloat)) {
        const long double scaled = static_cast<long double>(*asFloat) * 10000.0L;
        const long double difference = std::fabs(scaled - static_cast<long double>(*asCurrency));
        FUZZ_CHECK(difference <= 0.5L + std::fabs(scaled) * 1e-15L,
                   fuzzcheck::Shown(text) + " reads as float " + ibclient::FloatToText(*asFloat, 17) +
                       " but as currency " + std::to_string(*asCurrency));
    }
}

void FloatRoundTrip(FuzzedDataProvider& input) {
    const platform::TFormatSettings settings = Settings(input);
    const auto value = input.ConsumeFloatingPoint<double>();
    const int digits = input.ConsumeIntegralInRange(-5, 40);
    const std::string any = ibclient::FloatToText(value, digits, settings);
    FUZZ_CHECK(!any.empty(), "empty text");
    if (!std::isfinite(value)) {
        return;
    }
    const std::string exact = ibclient::FloatToText(value, 17, settings);
    double back = 0;
    try {
        back = ibclient::TextToFloat(exact, settings);
    } catch (const ibclient::EConvertError&) {
        FUZZ_CHECK(false, "17-digit text " + fuzzcheck::Shown(exact) + " of " + Bits(value) + " unreadable");
    }
    FUZZ_CHECK(back == value, "17 digits: " + Bits(value) + " -> " + fuzzcheck::Shown(exact) +
                                  " -> " + Bits(back));

    const double magnitude = std::fabs(value);
    if (magnitude < std::numeric_limits<double>::min() || magnitude >= 1e308) {
        return; // 15 digits of a subnormal or of the largest doubles need not read back
    }
    const std::string text15 = ibclient::FloatToText(value, 15, settings);
    double back15 = 0;
    try {
        back15 = ibclient::TextToFloat(text15, settings);
    } catch (const ibclient::EConvertError&) {
        FUZZ_CHECK(false, "15-digit text " + fuzzcheck::Shown(text15) + " unreadable");
    }
    const std::string again = ibclient::FloatToText(back15, 15, settings);
    FUZZ_CHECK(again == text15, fuzzcheck::Shown(text15) + " read and written again as " +
                                    fuzzcheck::Shown(again));
}

void CurrencyRoundTrip(FuzzedDataProvider& input) {
    const platform::TFormatSettings settings = Settings(input);
    const auto count = input.ConsumeIntegral<int64_t>();
    const std::string text = ibclient::CurrencyToText(count, settings);
    int64_t back = 0;
    try {
        back = ibclient::TextToCurrency(text, settings);
    } catch (const ibclient::EConvertError&) {
        FUZZ_CHECK(false, "currency text " + fuzzcheck::Shown(text) + " unreadable");
    }
    FUZZ_CHECK(back == count, std::to_string(count) + " -> " + fuzzcheck::Shown(text) + " -> " +
                                  std::to_string(back));
    // A double resolves ten-thousandths (its spacing stays below 0.0001 with room for the
    // rounding of the division) for magnitudes below 2^38, that is counts up to 2^51.
    constexpr int64_t exactLimit = int64_t{1} << 51;
    if (count >= -exactLimit && count <= exactLimit) {
        const int64_t viaDouble = ibclient::DoubleToCurrency(ibclient::CurrencyToDouble(count));
        FUZZ_CHECK(viaDouble == count, std::to_string(count) + " via a double gives " +
                                           std::to_string(viaDouble));
    }
}

void DateTimeForms(FuzzedDataProvider& input) {
    platform::TFormatSettings settings = Settings(input);
    const int32_t day = input.ConsumeIntegralInRange<int32_t>(1, ibclient::MaxDayNumber);
    const int32_t msecs = input.ConsumeIntegralInRange<int32_t>(0, ibclient::MSecsPerDay - 1);
    const ibclient::TDateTime value =
        ibclient::TimeStampToDateTime(ibclient::TTimeStamp{msecs, day});
    const std::string pattern = input.ConsumeRandomLengthString(40);
    try {
        (void)ibclient::FormatDateTime(pattern, value, settings);
        (void)ibclient::DateTimeToText(value, settings);
    } catch (const ibclient::EConvertError&) {
        FUZZ_CHECK(false, "value of day " + std::to_string(day) + " could not be formatted");
    }

    // Four-digit years in the three usual orders read back as the same date.
    static const char* const patterns[] = {"dd/mm/yyyy", "m/d/yyyy", "yyyy/mm/dd"};
    settings.ShortDateFormat = patterns[input.ConsumeIntegralInRange(0, 2)];
    const ibclient::TDateParts date = ibclient::DayNumberToDate(day);
    const std::string dateText = ibclient::DateToText(value, settings);
    try {
        const ibclient::TDateParts read = ibclient::DecodeDate(ibclient::TextToDate(dateText, settings));
        FUZZ_CHECK(read == date, fuzzcheck::Shown(dateText) + " reads as another date");
    } catch (const ibclient::EConvertError&) {
        FUZZ_CHECK(false, "date text " + fuzzcheck::Shown(dateText) + " of " + settings.ShortDateFormat +
                              " unreadable");
    }

    // Times with seconds, on a 24-hour or a 12-hour clock, read back to the second.
    settings.LongTimeFormat = input.ConsumeBool() ? "hh:nn:ss" : "h:mm:ss AMPM";
    const ibclient::TDateTime time = ibclient::TimeStampToDateTime(
        ibclient::TTimeStamp{msecs, ibclient::DateDelta});
    const ibclient::TTimeParts parts = ibclient::DecodeTime(time);
    const std::string timeText = ibclient::TimeToText(time, settings);
    try {
        const ibclient::TTimeParts read = ibclient::DecodeTime(ibclient::TextToTime(timeText, settings));
        FUZZ_CHECK(read.Hour == parts.Hour && read.Minute == parts.Minute &&
                       read.Second == parts.Second && read.MilliSecond == 0,
                   fuzzcheck::Shown(timeText) + " reads as another time");
    } catch (const ibclient::EConvertError&) {
        FUZZ_CHECK(false, "time text " + fuzzcheck::Shown(timeText) + " unreadable");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    FuzzedDataProvider input(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        ParseAnything(input);
        break;
    case 1:
        FloatRoundTrip(input);
        break;
    case 2:
        CurrencyRoundTrip(input);
        break;
    default:
        DateTimeForms(input);
        break;
    }
    return 0;
}

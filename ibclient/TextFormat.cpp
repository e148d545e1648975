// The shared text conversions of numbers, fixed-point values and date-times.
#include "ibclient/TextFormat.h"

#include "ibclient/Errors.h"

namespace ibclient {

std::string FloatToText(double, int, const TFormatSettings&) { return {}; }
std::string CurrencyToText(int64_t, const TFormatSettings&) { return {}; }
std::string IntToText(int64_t value) { return std::to_string(value); }
double RoundToDecimals(double value, int) { return value; }
std::string FormatDateTime(std::string_view, TDateTime, const TFormatSettings&) { return {}; }
std::string DateToText(TDateTime, const TFormatSettings&) { return {}; }
std::string TimeToText(TDateTime, const TFormatSettings&) { return {}; }
std::string DateTimeToText(TDateTime, const TFormatSettings&) { return {}; }
double TextToFloat(std::string_view, const TFormatSettings&) { throw EConvertError("stub"); }
int32_t TextToInt32(std::string_view) { throw EConvertError("stub"); }
int64_t TextToInt64(std::string_view) { throw EConvertError("stub"); }
int64_t TextToCurrency(std::string_view, const TFormatSettings&) { throw EConvertError("stub"); }
TDateTime TextToDate(std::string_view, const TFormatSettings&) { throw EConvertError("stub"); }
TDateTime TextToTime(std::string_view, const TFormatSettings&) { throw EConvertError("stub"); }
TDateTime TextToDateTime(std::string_view, const TFormatSettings&) { throw EConvertError("stub"); }

}  // namespace ibclient

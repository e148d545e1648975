// Descriptor areas: sizing and initialising the XSQLDA record after a describe, unique column
// names, and the conversions between the raw values of each entry and the system's value
// types (getters for result columns, setters for parameters).
#include "ibclient/IBXSQLDA.h"

#include "ibclient/Binding.h"
#include "ibclient/BlobStream.h"
#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBSQL.h"
#include "ibclient/TextFormat.h"
#include "ibclient/XSQLDALayout.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <limits>
#include <type_traits>

namespace ibclient {

namespace {

static_assert(std::is_same_v<decltype(XSQLVAR::sqldata), ISC_SCHAR*>);
static_assert(std::is_same_v<decltype(XSQLVAR::sqlind), ISC_SHORT*>);
static_assert(sizeof(TQuad) == sizeof(ISC_QUAD));

// Names in a descriptor entry are at most 32 bytes with a 16-bit length.
constexpr std::size_t kEntryNameSize = sizeof(XSQLVAR::aliasname);
// The longest name the server accepts; unique names are cut to fit it.
constexpr std::size_t kMaxIdentifierLength = 31;

[[noreturn]] void RaiseInvalidConversion() {
    RaiseClientError(ceInvalidDataConversion);
}

// Runs a text conversion and turns the runtime's conversion error into client error 38.
template <class F> auto Converted(F&& convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (const EConvertError&) {
        RaiseInvalidConversion();
    }
}

std::string EntryName(const char* name, ISC_SHORT length) {
    const std::size_t n =
        std::min<std::size_t>(length > 0 ? static_cast<std::size_t>(length) : 0, kEntryNameSize);
    return std::string(name, n);
}

std::string Trimmed(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32)
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32)
        --last;
    return std::string(text.substr(first, last - first));
}

std::string UpperCased(std::string text) {
    // The C library's upper-casing follows the process locale (set from the system's
    // regional settings at start), so letters of the 8-bit code page are folded as well.
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// 10^exponent in extended precision (exact up to 10^27).
long double PowerOfTen(int exponent) {
    long double result = 1.0L;
    for (int i = 0; i < exponent; ++i)
        result *= 10.0L;
    return result;
}

double ScaleToDouble(int64_t value, int scale) {
    if (scale > 0)
        return static_cast<double>(static_cast<long double>(value) * PowerOfTen(scale));
    if (scale < 0)
        return static_cast<double>(static_cast<long double>(value) / PowerOfTen(-scale));
    return static_cast<double>(value);
}

// value x 10^exponent; client error 38 when the product leaves the 64-bit range.
int64_t CheckedScaleUp(int64_t value, int exponent) {
    int64_t result = value;
    for (int i = 0; i < exponent; ++i) {
        if (__builtin_mul_overflow(result, int64_t{10}, &result))
            RaiseInvalidConversion();
    }
    return result;
}

int64_t ScaleToInt64(int64_t value, int scale) {
    if (scale > 0)
        return CheckedScaleUp(value, scale);
    if (scale < 0) {
        // 10^19 no longer fits in 64 bits; every 64-bit value divided by it truncates to 0.
        if (scale < -18)
            return 0;
        return value / CheckedScaleUp(1, -scale);
    }
    return value;
}

int64_t ScaleToCurrency(int64_t value, int scale) {
    if (scale >= 0)
        return CheckedScaleUp(value, scale + 4);
    // The exact decimal text of value x 10^scale, read back as currency (rounded to four
    // decimals). Digits are taken from the magnitude so that the most negative value works.
    const uint64_t magnitude =
        value < 0 ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    const std::size_t decimals = static_cast<std::size_t>(-scale);
    if (digits.size() <= decimals)
        digits.insert(0, decimals + 1 - digits.size(), '0');
    std::string text = value < 0 ? "-" : "";
    text += digits.substr(0, digits.size() - decimals);
    text += platform::FormatSettings().DecimalSeparator;
    text += digits.substr(digits.size() - decimals);
    return Converted([&] { return TextToCurrency(text); });
}

// A double truncated toward zero; client error 38 outside the 64-bit range.
int64_t TruncToInt64(double value) {
    const double whole = std::trunc(value);
    if (!(whole >= -9223372036854775808.0 && whole < 9223372036854775808.0))
        RaiseInvalidConversion();
    return static_cast<int64_t>(whole);
}

// The low 32 bits of a 64-bit integer, read as signed.
int32_t Low32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::tm BrokenDown(TDateTime value) {
    const TDateParts date = DecodeDate(value);
    const TTimeParts time = DecodeTime(value);
    std::tm tm{};
    tm.tm_year = date.Year - 1900;
    tm.tm_mon = date.Month - 1;
    tm.tm_mday = date.Day;
    tm.tm_hour = time.Hour;
    tm.tm_min = time.Minute;
    tm.tm_sec = time.Second;
    return tm;
}

TDateTime EncodedDate(const std::tm& tm) {
    TDateTime date = 0;
    if (!TryEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, date))
        RaiseInvalidConversion();
    return date;
}

TDateTime EncodedTime(const std::tm& tm) {
    TDateTime time = 0;
    if (!TryEncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec, 0, time))
        RaiseInvalidConversion();
    return time;
}

} // namespace

// ---- Names ----

std::string NormalizeIdentifier(int dialect, std::string_view name) {
    std::string text = Trimmed(name);
    if (dialect == 1)
        return UpperCased(std::move(text));
    if (!text.empty() && text.front() == '"') {
        text = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
        std::string unquoted;
        for (std::size_t i = 0; i < text.size(); ++i) {
            unquoted += text[i];
            if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"')
                ++i;
        }
        return unquoted;
    }
    return UpperCased(std::move(text));
}

std::string QuoteIdentifierText(int dialect, std::string_view name) {
    if (dialect == 1)
        return UpperCased(Trimmed(name));
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    quoted += '"';
    return quoted;
}

// ---- TIBXSQLVAR: the entry ----

TIBXSQLVAR::TIBXSQLVAR(TIBXSQLDA& parent, int position) : parent_(parent), position_(position) {}

TIBXSQLVAR::~TIBXSQLVAR() = default;

TIBSQL* TIBXSQLVAR::Statement() const noexcept {
    return parent_.Statement();
}

void* TIBXSQLVAR::RawEntry() const noexcept {
    void* area = parent_.RawArea();
    if (area == nullptr)
        return nullptr;
    // Entries follow the header back to back; the record holds AllocatedCount of them.
    return reinterpret_cast<std::byte*>(area) + offsetof(XSQLDA, sqlvar) +
           static_cast<std::size_t>(position_) * sizeof(XSQLVAR);
}

namespace {
// Items exist only for allocated entries, so an item always has its entry.
XSQLVAR& Var(const TIBXSQLVAR& item) {
    return *XSQLVAROf(item);
}
} // namespace

std::int16_t TIBXSQLVAR::SqlType() const noexcept {
    return Var(*this).sqltype;
}
std::int16_t TIBXSQLVAR::SqlScale() const noexcept {
    return Var(*this).sqlscale;
}
std::int16_t TIBXSQLVAR::SqlSubType() const noexcept {
    return Var(*this).sqlsubtype;
}
std::int16_t TIBXSQLVAR::SqlLen() const noexcept {
    return Var(*this).sqllen;
}
std::string TIBXSQLVAR::SqlName() const {
    return EntryName(Var(*this).sqlname, Var(*this).sqlname_length);
}
std::string TIBXSQLVAR::RelName() const {
    return EntryName(Var(*this).relname, Var(*this).relname_length);
}
std::string TIBXSQLVAR::OwnName() const {
    return EntryName(Var(*this).ownname, Var(*this).ownname_length);
}
std::string TIBXSQLVAR::AliasName() const {
    return EntryName(Var(*this).aliasname, Var(*this).aliasname_length);
}

int TIBXSQLVAR::TypeCode() const noexcept {
    return SqlType() & ~1;
}
bool TIBXSQLVAR::AcceptsNull() const noexcept {
    return (SqlType() & 1) != 0;
}
bool TIBXSQLVAR::ValueIsNull() const noexcept {
    return AcceptsNull() && indicator_ != nullptr && *indicator_ == -1;
}
const std::byte* TIBXSQLVAR::GetDataPointer() const noexcept {
    return ValueIsNull() || data_.empty() ? nullptr : data_.data();
}

int TIBXSQLVAR::Dialect() const noexcept {
    return parent_.Dialect();
}

// ---- TIBXSQLVAR: raw values ----

namespace {

template <class T> T ReadAs(const std::vector<std::byte>& data) {
    T value{};
    std::memcpy(&value, data.data(), std::min(sizeof value, data.size()));
    return value;
}

} // namespace

std::string TIBXSQLVAR::RawText() const {
    const char* bytes = reinterpret_cast<const char*>(data_.data());
    if (TypeCode() == SQLVarying) {
        if (data_.size() < 2)
            return {};
        // The 2-byte length prefix, bounded by the buffer in case the server's length
        // and ours ever disagree.
        const auto length = ClientApi().isc_vax_integer(bytes, 2);
        const std::size_t n = std::clamp<std::size_t>(
            length > 0 ? static_cast<std::size_t>(length) : 0, 0, data_.size() - 2);
        return std::string(bytes + 2, n);
    }
    const std::size_t n =
        std::min<std::size_t>(SqlLen() > 0 ? static_cast<std::size_t>(SqlLen()) : 0, data_.size());
    return std::string(bytes, n);
}

namespace {

// The integer of a 16-, 32- or 64-bit entry.
int64_t IntegerOf(int typeCode, const std::vector<std::byte>& data) {
    switch (typeCode) {
    case SQLShort:
        return ReadAs<int16_t>(data);
    case SQLLong:
        return ReadAs<int32_t>(data);
    default:
        return ReadAs<int64_t>(data);
    }
}

bool IsIntegerType(int typeCode) {
    return typeCode == SQLShort || typeCode == SQLLong || typeCode == SQLInt64;
}
bool IsFloatType(int typeCode) {
    return typeCode == SQLDouble || typeCode == SQLFloat || typeCode == SQLDFloat;
}
bool IsTextType(int typeCode) {
    return typeCode == SQLText || typeCode == SQLVarying;
}

// A boolean entry's value: any byte other than 0 is true.
bool BooleanOf(const std::vector<std::byte>& data) {
    return !data.empty() && data[0] != std::byte{0};
}

} // namespace

// ---- TIBXSQLVAR: getters ----

double TIBXSQLVAR::GetDouble() const {
    if (ValueIsNull())
        return 0;
    const int type = TypeCode();
    double value = 0;
    if (IsTextType(type)) {
        value = Converted([&] { return TextToFloat(RawText()); });
    } else if (type == SQLDouble || type == SQLDFloat) {
        value = ReadAs<double>(data_);
    } else if (type == SQLFloat) {
        value = ReadAs<float>(data_);
    } else if (IsIntegerType(type)) {
        value = ScaleToDouble(IntegerOf(type, data_), SqlScale());
    } else if (type == SQLBoolean) {
        value = BooleanOf(data_) ? 1 : 0;
    } else if (type == SQLNull) {
        return 0;
    } else {
        RaiseInvalidConversion();
    }
    // A scaled value is the double nearest to its decimal text with as many decimals as the
    // scale says, so 123.45 reads as 123.45 and not as the nearest quotient. Only a negative
    // scale counts decimals: the server describes a floating literal (1e-5), and columns made
    // from one, with a positive scale that is the literal's length.
    if (SqlScale() < 0)
        value = RoundToDecimals(value, std::abs(SqlScale()));
    return value;
}

std::int64_t TIBXSQLVAR::GetInt64() const {
    if (ValueIsNull())
        return 0;
    const int type = TypeCode();
    if (IsTextType(type))
        return Converted([&] { return TextToInt64(RawText()); });
    if (IsFloatType(type))
        return TruncToInt64(GetDouble());
    if (IsIntegerType(type))
        return ScaleToInt64(IntegerOf(type, data_), SqlScale());
    if (type == SQLBoolean)
        return BooleanOf(data_) ? 1 : 0;
    if (type == SQLNull)
        return 0;
    RaiseInvalidConversion();
}

std::int32_t TIBXSQLVAR::GetInt32() const {
    if (ValueIsNull())
        return 0;
    const int type = TypeCode();
    if (IsTextType(type))
        return Converted([&] { return TextToInt32(RawText()); });
    if (IsFloatType(type))
        return Low32(TruncToInt64(GetDouble()));
    if (IsIntegerType(type)) {
        const int64_t value = IntegerOf(type, data_);
        // Unscaled integers keep every bit; scaled ones go through the double quotient.
        if (SqlScale() == 0)
            return Low32(value);
        return Low32(TruncToInt64(ScaleToDouble(value, SqlScale())));
    }
    if (type == SQLBoolean)
        return BooleanOf(data_) ? 1 : 0;
    if (type == SQLNull)
        return 0;
    RaiseInvalidConversion();
}

std::int64_t TIBXSQLVAR::GetCurrency() const {
    if (ValueIsNull())
        return 0;
    const int type = TypeCode();
    // An integer column is exact in every dialect: a dialect-1 statement on a dialect-3
    // database still gets 64-bit integers, which a double cannot carry.
    if (IsIntegerType(type))
        return ScaleToCurrency(IntegerOf(type, data_), SqlScale());
    if (type == SQLBoolean)
        return BooleanOf(data_) ? 10000 : 0;
    if (type == SQLNull)
        return 0;
    if (Dialect() < 3)
        return Converted([&] { return DoubleToCurrency(GetDouble()); });
    if (IsTextType(type))
        return Converted([&] { return TextToCurrency(RawText()); });
    if (IsFloatType(type))
        return CheckedScaleUp(TruncToInt64(GetDouble()), 4);
    RaiseInvalidConversion();
}

std::int64_t TIBXSQLVAR::GetUnscaledInteger() const {
    if (ValueIsNull())
        return 0;
    const int type = TypeCode();
    if (!IsIntegerType(type))
        RaiseInvalidConversion();
    return IntegerOf(type, data_);
}

TDateTime TIBXSQLVAR::GetDateTime() const {
    if (ValueIsNull())
        return 0;
    std::tm tm{};
    switch (TypeCode()) {
    case SQLTimestamp: {
        const auto stamp = ReadAs<ISC_QUAD>(data_);
        ClientApi().isc_decode_date(&stamp, &tm);
        return ComposeDateTime(EncodedDate(tm), EncodedTime(tm));
    }
    case SQLTypeDate: {
        const auto date = ReadAs<ISC_DATE>(data_);
        ClientApi().isc_decode_sql_date(&date, &tm);
        return EncodedDate(tm);
    }
    case SQLTypeTime: {
        const auto time = ReadAs<ISC_TIME>(data_);
        ClientApi().isc_decode_sql_time(&time, &tm);
        return EncodedTime(tm);
    }
    case SQLText:
    case SQLVarying:
        return Converted([&] { return TextToDate(RawText()); });
    default:
        RaiseInvalidConversion();
    }
}

TQuad TIBXSQLVAR::GetQuad() const {
    if (ValueIsNull())
        return {};
    const int type = TypeCode();
    if (type != SQLBlob && type != SQLArray && type != SQLQuad)
        RaiseInvalidConversion();
    return ReadAs<TQuad>(data_);
}

std::string TIBXSQLVAR::GetText() const {
    if (ValueIsNull())
        return {};
    const int type = TypeCode();
    switch (type) {
    case SQLText:
    case SQLVarying:
        return RawText();
    case SQLDouble:
    case SQLFloat:
    case SQLDFloat:
        return FloatToText(GetDouble());
    case SQLShort:
    case SQLLong:
    case SQLInt64:
        if (SqlScale() == 0)
            return IntToText(type == SQLInt64 ? GetInt64() : GetInt32());
        if (SqlScale() < 0)
            return ScaledToText(IntegerOf(type, data_), -SqlScale());
        return CurrencyToText(GetCurrency());
    case SQLTimestamp:
        return DateTimeToText(GetDateTime());
    case SQLTypeTime:
        return TimeToText(GetDateTime());
    // Dialect 1 shows a date with its (empty) time part like a timestamp; dialects 2
    // and 3 show the date alone.
    case SQLTypeDate:
        return Dialect() == 1 ? DateTimeToText(GetDateTime()) : DateToText(GetDateTime());
    case SQLBlob:
        return SaveBlob();
    case SQLArray:
        return "(Array)";
    // The words the server reads as boolean literals, so the text can be pasted into SQL.
    case SQLBoolean:
        return BooleanOf(data_) ? "TRUE" : "FALSE";
    case SQLNull:
        return {};
    default:
        RaiseInvalidConversion();
    }
}

std::string TIBXSQLVAR::GetTrimmedText() const {
    std::string text = GetText();
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.pop_back();
    return text;
}

// ---- TIBXSQLVAR: setters ----

std::vector<TIBXSQLVAR*> TIBXSQLVAR::SameNamed() {
    std::vector<TIBXSQLVAR*> items;
    if (!columnName_.empty()) {
        const auto& names = parent_.Names();
        const int count = std::min<int>(parent_.ItemCount(), static_cast<int>(names.size()));
        for (int i = 0; i < count; ++i) {
            if (names[static_cast<std::size_t>(i)] == columnName_)
                items.push_back(&parent_.ItemAt(i));
        }
    }
    if (std::find(items.begin(), items.end(), this) == items.end())
        items.push_back(this);
    return items;
}

void TIBXSQLVAR::ResizeData(std::size_t size) {
    data_.assign(size, std::byte{0});
    Var(*this).sqldata = data_.empty() ? nullptr : reinterpret_cast<ISC_SCHAR*>(data_.data());
}

void TIBXSQLVAR::SetIndicator(bool allocate) {
    if (allocate) {
        indicator_ = std::make_unique<std::int16_t>(0);
    } else {
        indicator_.reset();
    }
    Var(*this).sqlind = indicator_.get();
}

void TIBXSQLVAR::Retype(int typeCode, int scale, int length, std::size_t size) {
    XSQLVAR& var = Var(*this);
    var.sqltype = static_cast<ISC_SHORT>(typeCode | (var.sqltype & 1));
    var.sqlscale = static_cast<ISC_SHORT>(scale);
    var.sqllen = static_cast<ISC_SHORT>(length);
    ResizeData(size);
}

void TIBXSQLVAR::StoreBytes(const void* bytes, std::size_t count) {
    std::memcpy(data_.data(), bytes, std::min(count, data_.size()));
    modified_ = true;
}

namespace {
// Clears the null state of an item that accepts null, before a value is stored.
void ClearNull(TIBXSQLVAR& item) {
    if (item.AcceptsNull())
        item.SetNull(false);
}
} // namespace

void TIBXSQLVAR::SetDouble(double value) {
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        item->Retype(SQLDouble, 0, sizeof value, sizeof value);
        item->StoreBytes(&value, sizeof value);
    }
}

void TIBXSQLVAR::SetInt16(std::int16_t value) {
    if (TypeCode() == SQLBoolean) {
        SetBoolean(value != 0);
        return;
    }
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        item->Retype(SQLShort, 0, sizeof value, sizeof value);
        item->StoreBytes(&value, sizeof value);
    }
}

void TIBXSQLVAR::SetBoolean(bool value) {
    const std::uint8_t byte = value ? 1 : 0;
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        item->Retype(SQLBoolean, 0, sizeof byte, sizeof byte);
        item->StoreBytes(&byte, sizeof byte);
    }
}

void TIBXSQLVAR::SetInt32(std::int32_t value) {
    // The server converts no number to a boolean; a boolean parameter takes 0 as false and
    // any other integer as true.
    if (TypeCode() == SQLBoolean) {
        SetBoolean(value != 0);
        return;
    }
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        item->Retype(SQLLong, 0, sizeof value, sizeof value);
        item->StoreBytes(&value, sizeof value);
    }
}

void TIBXSQLVAR::SetInt64(std::int64_t value) {
    if (TypeCode() == SQLBoolean) {
        SetBoolean(value != 0);
        return;
    }
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        item->Retype(SQLInt64, 0, sizeof value, sizeof value);
        item->StoreBytes(&value, sizeof value);
    }
}

void TIBXSQLVAR::SetCurrency(std::int64_t value) {
    if (Dialect() < 3) {
        SetDouble(CurrencyToDouble(value));
        return;
    }
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        item->Retype(SQLInt64, -4, sizeof value, sizeof value);
        item->StoreBytes(&value, sizeof value);
    }
}

void TIBXSQLVAR::SetDateTime(TDateTime value) {
    const std::tm tm = BrokenDown(value);
    ISC_QUAD stamp{};
    ClientApi().isc_encode_date(&tm, &stamp);
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        item->Retype(SQLTimestamp, item->SqlScale(), sizeof stamp, sizeof stamp);
        item->StoreBytes(&stamp, sizeof stamp);
    }
}

void TIBXSQLVAR::SetDate(TDateTime value) {
    if (Dialect() < 3) {
        SetDateTime(value);
        return;
    }
    const std::tm tm = BrokenDown(value);
    ISC_DATE date{};
    ClientApi().isc_encode_sql_date(&tm, &date);
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        item->Retype(SQLTypeDate, item->SqlScale(), sizeof date, sizeof date);
        item->StoreBytes(&date, sizeof date);
    }
}

void TIBXSQLVAR::SetTime(TDateTime value) {
    if (Dialect() < 3) {
        SetDateTime(value);
        return;
    }
    const std::tm tm = BrokenDown(value);
    ISC_TIME time{};
    ClientApi().isc_encode_sql_time(&tm, &time);
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        item->Retype(SQLTypeTime, item->SqlScale(), sizeof time, sizeof time);
        item->StoreBytes(&time, sizeof time);
    }
}

void TIBXSQLVAR::SetQuad(TQuad value) {
    const int type = TypeCode();
    if (type != SQLBlob && type != SQLArray)
        RaiseInvalidConversion();
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        item->Retype(item->TypeCode(), item->SqlScale(), sizeof value, sizeof value);
        item->StoreBytes(&value, sizeof value);
    }
}

void TIBXSQLVAR::StoreText(std::string_view value) {
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        const std::string sqlName = item->SqlName();
        if (sqlName == "DB_KEY" || sqlName == "RDB$DB_KEY") {
            // A key keeps its type and buffer; its announced length is taken from the text,
            // and a shorter text leaves the remaining bytes zero.
            std::fill(item->data_.begin(), item->data_.end(), std::byte{0});
            item->StoreBytes(
                value.data(),
                std::min<std::size_t>(value.size(),
                                      static_cast<std::size_t>(std::max<int>(item->SqlLen(), 0))));
            continue;
        }
        const std::size_t maxLength =
            item->maxTextLength_ > 0
                ? static_cast<std::size_t>(item->maxTextLength_)
                : static_cast<std::size_t>(std::numeric_limits<ISC_SHORT>::max());
        if (value.size() > maxLength) {
            // The entry's length is 16 bits wide, so a text that does not fit it is refused
            // even where the server announced no limit.
            RaiseClientError(ceStringTooLarge,
                             {std::to_string(value.size()), std::to_string(maxLength)});
        }
        item->Retype(SQLText, item->SqlScale(), static_cast<int>(value.size()), value.size() + 1);
        item->StoreBytes(value.data(), value.size());
    }
}

void TIBXSQLVAR::SetText(std::string_view value) {
    const int type = TypeCode();
    if (IsTextType(type)) {
        StoreText(value);
    } else if (type == SQLBlob) {
        LoadBlob(value);
    } else if (value.empty()) {
        SetNull(true);
    } else if (type == SQLTimestamp || type == SQLTypeTime || type == SQLTypeDate) {
        SetDateTime(TextToDateTime(value));
    } else {
        StoreText(value);
    }
}

void TIBXSQLVAR::SetBytes(std::span<const std::byte> block) {
    if (block.data() == nullptr) {
        SetNull(true);
        return;
    }
    ClearNull(*this);
    for (TIBXSQLVAR* item : SameNamed()) {
        XSQLVAR& var = Var(*item);
        var.sqltype = static_cast<ISC_SHORT>(SQLText | (var.sqltype & 1));
        // The announced length's worth of bytes; what the block lacks stays zero.
        std::fill(item->data_.begin(), item->data_.end(), std::byte{0});
        const std::size_t length = std::min<std::size_t>(
            static_cast<std::size_t>(std::max<int>(var.sqllen, 0)), block.size());
        item->StoreBytes(block.data(), length);
    }
}

void TIBXSQLVAR::SetVariant(const TVariant& value) {
    struct Visitor {
        TIBXSQLVAR& item;
        void operator()(std::monostate) const { item.SetNull(true); }
        void operator()(bool v) const {
            if (item.TypeCode() == SQLBoolean)
                item.SetBoolean(v);
            else
                item.SetInt32(v ? 1 : 0);
        }
        void operator()(std::uint8_t v) const { item.SetInt32(v); }
        void operator()(std::int16_t v) const { item.SetInt32(v); }
        void operator()(std::int32_t v) const { item.SetInt32(v); }
        void operator()(std::int64_t v) const { item.SetInt64(v); }
        void operator()(float v) const { item.SetDouble(v); }
        void operator()(double v) const { item.SetDouble(v); }
        void operator()(TVarCurrency v) const { item.SetCurrency(v.Raw); }
        void operator()(TVarDateTime v) const { item.SetDateTime(v.Value); }
        void operator()(const std::string& v) const { item.SetText(v); }
    };
    std::visit(Visitor{*this}, value);
}

void TIBXSQLVAR::SetNull(bool value) {
    if (value) {
        if (!AcceptsNull())
            SetAcceptsNull(true);
        for (TIBXSQLVAR* item : SameNamed()) {
            if (item->indicator_)
                *item->indicator_ = -1;
            item->modified_ = true;
        }
    } else if (AcceptsNull()) {
        for (TIBXSQLVAR* item : SameNamed()) {
            if (item->indicator_)
                *item->indicator_ = 0;
            item->modified_ = true;
        }
    }
}

void TIBXSQLVAR::SetAcceptsNull(bool value) {
    for (TIBXSQLVAR* item : SameNamed()) {
        if (item->AcceptsNull() == value)
            continue;
        XSQLVAR& var = Var(*item);
        var.sqltype = static_cast<ISC_SHORT>(value ? (var.sqltype | 1) : (var.sqltype & ~1));
        item->SetIndicator(value);
    }
}

void TIBXSQLVAR::LoadBlob(std::string_view content) {
    TIBSQL* statement = Statement();
    if (statement == nullptr)
        RaiseClientError(ceDatabaseNotAssigned);
    SetQuad(CreateBlob(statement->DBHandle(), statement->TRHandle(), content));
}

std::string TIBXSQLVAR::SaveBlob() const {
    const TQuad id = GetQuad();
    if (id == TQuad{})
        return {};
    TIBSQL* statement = Statement();
    if (statement == nullptr)
        RaiseClientError(ceDatabaseNotAssigned);
    return ReadBlob(statement->DBHandle(), statement->TRHandle(), id);
}

// ---- TIBXSQLDA ----

TIBXSQLDA::TIBXSQLDA(TIBSQL* statement) : statement_(statement) {}

// Items go first (their buffers), then the record.
TIBXSQLDA::~TIBXSQLDA() {
    items_.clear();
}

int TIBXSQLDA::Dialect() const noexcept {
    if (statement_ != nullptr && statement_->Database() != nullptr) {
        return statement_->Database()->SQLDialect();
    }
    return 3;
}

void TIBXSQLDA::SetItemCount(int count) {
    if (count < 0)
        RaiseClientError(ceXSQLDAIndexOutOfRange);
    names_.clear();
    count_ = count;
    if (count == 0) {
        // Record, entries and buffers stay for the next preparation.
        singleTableName_.clear();
        return;
    }
    if (count > AllocatedCount()) {
        // Growing keeps the existing entries (their data and indicator pointers refer to the
        // items' own buffers, which do not move) and zeroes the new ones.
        record_.resize(XSQLDALength(count), std::byte{0});
        XSQLDAOf(*this)->version = SQLDA_VERSION1;
        for (int i = AllocatedCount(); i < count; ++i) {
            items_.push_back(std::make_unique<TIBXSQLVAR>(*this, i));
        }
    }
    XSQLDA* area = XSQLDAOf(*this);
    area->sqln = static_cast<ISC_SHORT>(count);
    area->sqld = static_cast<ISC_SHORT>(count);
}

TIBXSQLVAR& TIBXSQLDA::ItemAt(int index) const {
    if (index < 0 || index >= count_)
        RaiseClientError(ceXSQLDAIndexOutOfRange);
    return *items_[static_cast<std::size_t>(index)];
}

TIBXSQLVAR* TIBXSQLDA::FindByName(std::string_view name) const {
    const std::string normalized = NormalizeIdentifier(Dialect(), name);
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (names_[i] == normalized)
            return items_[i].get();
    }
    return nullptr;
}

TIBXSQLVAR& TIBXSQLDA::ItemByName(std::string_view name) const {
    TIBXSQLVAR* item = FindByName(name);
    if (item == nullptr)
        RaiseClientError(ceFieldNotFound, {std::string(name)});
    return *item;
}

void TIBXSQLDA::AssignName(std::string_view name, int index) {
    if (index < 0 || index >= AllocatedCount())
        RaiseClientError(ceXSQLDAIndexOutOfRange);
    const auto position = static_cast<std::size_t>(index);
    if (names_.size() <= position)
        names_.resize(position + 1);
    names_[position] = NormalizeIdentifier(Dialect(), name);
    items_[position]->columnName_ = names_[position];
    items_[position]->position_ = index;
}

void TIBXSQLDA::InitializeItems() {
    if (!HasRecord())
        return;
    const bool assignNames = names_.empty();
    singleTableName_.clear();
    bool tablesDiffer = false;
    for (int i = 0; i < count_; ++i) {
        TIBXSQLVAR& item = *items_[static_cast<std::size_t>(i)];
        XSQLVAR& var = *XSQLVAROf(item);

        // Expressions have no table and do not count.
        const std::string table = item.RelName();
        if (!tablesDiffer && !table.empty()) {
            if (singleTableName_.empty()) {
                singleTableName_ = table;
            } else if (singleTableName_ != table) {
                singleTableName_.clear();
                tablesDiffer = true;
            }
        }

        if (assignNames) {
            const std::string alias = item.AliasName();
            const std::string base = alias.empty() ? "F_" : alias;
            int number = alias.empty() ? 1 : 0;
            std::string name = number == 0 ? base : base + "1";
            while (FindByName(name) != nullptr) {
                ++number;
                const std::string digits = std::to_string(number);
                std::string prefix = base;
                if (prefix.size() + digits.size() > kMaxIdentifierLength) {
                    prefix.resize(kMaxIdentifierLength - digits.size());
                }
                name = prefix + digits;
            }
            const std::size_t length = std::min(name.size(), kEntryNameSize);
            std::memset(var.aliasname, 0, kEntryNameSize);
            std::memcpy(var.aliasname, name.data(), length);
            var.aliasname_length = static_cast<ISC_SHORT>(length);
            AssignName(name, i);
        }

        const int type = item.TypeCode();
        item.maxTextLength_ = IsTextType(type) ? var.sqllen : std::int16_t{0};

        const std::size_t length = var.sqllen > 0 ? static_cast<std::size_t>(var.sqllen) : 0;
        std::size_t size = 0;
        switch (type) {
        case SQLVarying:
            size = length + 2;
            break;
        case SQLText:
        case SQLDouble:
        case SQLFloat:
        case SQLLong:
        case SQLShort:
        case SQLTimestamp:
        case SQLBlob:
        case SQLDFloat:
        case SQLArray:
        case SQLQuad:
        case SQLTypeTime:
        case SQLTypeDate:
        case SQLInt64:
        case SQLBoolean:
        case SQLNull: // only its null indicator carries anything
            size = std::max<std::size_t>(length, 1);
            break;
        default:
            RaiseClientError(ceUnknownSQLDataType, {std::to_string(type)});
        }
        item.ResizeData(size);
        item.SetIndicator((var.sqltype & 1) != 0);
    }
}

} // namespace ibclient

// Field definitions, the field list, and each field class's null test and text form: the
// value is read from the dataset's current row and formatted by the shared text conversions.
#include "ibclient/Fields.h"

#include <cstring>

#include "ibclient/DateTime.h"
#include "ibclient/Errors.h"
#include "ibclient/IBCustomDataSet.h"
#include "ibclient/TextFormat.h"

namespace ibclient {

namespace {

char AsciiUpper(char c) noexcept {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    }
    return true;
}

void RaiseListIndexError(int index) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

// ---- TFieldDefs and TFields ----

const TFieldDef& TFieldDefs::operator[](int index) const {
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    return defs_[static_cast<std::size_t>(index)];
}

TFieldDef& TFieldDefs::Add(TFieldDef def) {
    defs_.push_back(std::move(def));
    return defs_.back();
}

int TFieldDefs::IndexOf(std::string_view name) const noexcept {
    for (std::size_t i = 0; i < defs_.size(); ++i) {
        if (SameName(defs_[i].Name, name))
            return static_cast<int>(i);
    }
    return -1;
}

TField* TFields::operator[](int index) const {
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    return fields_[static_cast<std::size_t>(index)].get();
}

TField* TFields::FindField(std::string_view name) const noexcept {
    for (const auto& field : fields_) {
        if (SameName(field->FieldName(), name))
            return field.get();
    }
    return nullptr;
}

TField& TFields::Add(std::unique_ptr<TField> field) {
    fields_.push_back(std::move(field));
    return *fields_.back();
}

// ---- TField ----

bool TField::IsNull() const {
    return !ReadValue(nullptr);
}

bool TField::ReadValue(void* dest) const {
    return dataSet_.ReadFieldValue(*this, dest);
}

std::string TIBStringField::AsString() const {
    std::string buffer(static_cast<std::size_t>(Size()) + 1, '\0');
    if (!ReadValue(buffer.data()))
        return {};
    // The text ends at the first zero byte (an embedded zero ends it early).
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

std::string TSmallintField::AsString() const {
    std::int16_t value = 0;
    return ReadValue(&value) ? IntToText(value) : std::string{};
}

std::string TIntegerField::AsString() const {
    std::int32_t value = 0;
    return ReadValue(&value) ? IntToText(value) : std::string{};
}

std::string TLargeintField::AsString() const {
    std::int64_t value = 0;
    return ReadValue(&value) ? IntToText(value) : std::string{};
}

std::string TBooleanField::AsString() const {
    std::int16_t value = 0;
    if (!ReadValue(&value))
        return {};
    return value != 0 ? "TRUE" : "FALSE";
}

std::string TFloatField::AsString() const {
    if (decimals_ > 0) {
        std::int64_t unscaled = 0;
        return ReadValue(&unscaled) ? ScaledToText(unscaled, decimals_) : std::string{};
    }
    double value = 0;
    return ReadValue(&value) ? FloatToText(value, 15) : std::string{};
}

std::string TIBBCDField::AsString() const {
    std::int64_t value = 0;
    if (!ReadValue(&value))
        return {};
    // A positive scale (no decimals) leaves a count of ten-thousandths in the row.
    return Size() > 0 ? ScaledToText(value, Size()) : CurrencyToText(value);
}

// The row holds dates and times in their native forms; the text starts from the date-time
// value (days since 1899-12-30, time of day as the fraction).

std::string TDateField::AsString() const {
    std::int32_t dayNumber = 0;
    if (!ReadValue(&dayNumber))
        return {};
    return DateToText(TimeStampToDateTime(TTimeStamp{0, dayNumber}));
}

std::string TTimeField::AsString() const {
    std::int32_t milliseconds = 0;
    if (!ReadValue(&milliseconds))
        return {};
    return TimeToText(TimeStampToDateTime(TTimeStamp{milliseconds, DateDelta}));
}

std::string TDateTimeField::AsString() const {
    double milliseconds = 0;
    if (!ReadValue(&milliseconds))
        return {};
    return DateTimeToText(TimeStampToDateTime(MSecsToTimeStamp(milliseconds)));
}

std::string TBlobField::AsString() const {
    // The null test comes first: a NULL blob has no content to open.
    if (IsNull())
        return {};
    const std::unique_ptr<TIBDSBlobStream> stream = DataSet().OpenFieldBlob(*this);
    std::string content(static_cast<std::size_t>(stream->Size()), '\0');
    content.resize(stream->Read(content.data(), content.size()));
    return content;
}

}  // namespace ibclient

// Field definitions and field objects of a dataset: the field type enumeration, the attributes
// and kinds of a field, TFieldDef/TFieldDefs (one definition per result column that gets a
// field), and TField with the classes the column mapping produces. A field holds no value of
// its own: it asks its dataset for the bytes of its column in the current row and turns them
// into text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ibclient {

class TIBCustomDataSet;

// The field types, numbered from 0 in this order; callers compare DataType with the numbers
// (the runner tests for 1, ftString).
enum TFieldType : int {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftADT,
    ftArray,
    ftReference,
    ftDataSet,
    ftOraBlob,
    ftOraClob,
    ftVariant,
    ftInterface,
    ftIDispatch,
    ftGuid,
    ftTimeStamp,
    ftFMTBcd,
};

// Attributes of a field definition (bits 0 to 5 of TFieldAttributes, in this order).
enum TFieldAttribute : std::uint8_t {
    faHiddenCol,
    faReadonly,
    faRequired,
    faLink,
    faUnNamed,
    faFixed
};

// A set of TFieldAttribute values.
class TFieldAttributes {
public:
    constexpr TFieldAttributes() = default;
    constexpr TFieldAttributes(std::initializer_list<TFieldAttribute> attributes) {
        for (const TFieldAttribute a : attributes) {
            Include(a);
        }
    }
    constexpr bool Contains(TFieldAttribute a) const noexcept { return (bits_ & Bit(a)) != 0; }
    constexpr void Include(TFieldAttribute a) noexcept {
        bits_ = static_cast<std::uint8_t>(bits_ | Bit(a));
    }
    constexpr void Exclude(TFieldAttribute a) noexcept {
        bits_ = static_cast<std::uint8_t>(bits_ & ~Bit(a));
    }
    constexpr std::uint8_t Bits() const noexcept { return bits_; }
    friend constexpr bool operator==(TFieldAttributes, TFieldAttributes) = default;

private:
    static constexpr std::uint8_t Bit(TFieldAttribute a) noexcept {
        return static_cast<std::uint8_t>(1u << a);
    }
    std::uint8_t bits_ = 0;
};

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

// One result column that gets a field.
struct TFieldDef {
    std::string Name;  // the column's alias name
    TFieldType DataType = ftUnknown;
    int Size = 0;
    int Precision = 0;
    TFieldAttributes Attributes;
    int FieldNo = 0;                 // 1-based position of the column in the column area
    bool InternalCalcField = false;  // a computed table column
};

// The definitions of a dataset, in column order.
class TFieldDefs {
public:
    int Count() const noexcept { return static_cast<int>(defs_.size()); }
    // EListError "List index out of bounds (%d)" outside 0..Count-1.
    const TFieldDef& operator[](int index) const;
    TFieldDef& Add(TFieldDef def);
    void Clear() noexcept { defs_.clear(); }
    // Index of the definition named `name` (ASCII case-insensitive), or -1.
    int IndexOf(std::string_view name) const noexcept;

private:
    std::vector<TFieldDef> defs_;
};

// A field of a dataset: the column of one definition, read from the dataset's current row.
class TField {
public:
    virtual ~TField() = default;
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    TIBCustomDataSet& DataSet() const noexcept { return dataSet_; }
    const std::string& FieldName() const noexcept { return fieldName_; }
    TFieldType DataType() const noexcept { return dataType_; }
    int Size() const noexcept { return size_; }
    bool Required() const noexcept { return required_; }
    bool ReadOnly() const noexcept { return readOnly_; }
    TFieldKind FieldKind() const noexcept { return fieldKind_; }
    // "RELATION.ALIAS" for a column of a table; empty otherwise.
    const std::string& Origin() const noexcept { return origin_; }
    // 1-based index of the field's definition while the dataset is open; 0 when unbound.
    int FieldNo() const noexcept { return fieldNo_; }

    // True when the dataset has no current row or the column is NULL in it.
    bool IsNull() const;
    // The value as text; empty when IsNull.
    virtual std::string AsString() const = 0;
    // Bytes of the value a row read hands over (0 for blob fields, read through streams).
    virtual int DataSize() const noexcept = 0;

protected:
    TField(TIBCustomDataSet& dataSet, TFieldType dataType)
        : dataSet_(dataSet), dataType_(dataType) {}
    // Copies the value of the current row into `dest` (DataSize bytes; none: only the null
    // test); false when there is no value.
    bool ReadValue(void* dest) const;

private:
    friend class TIBCustomDataSet;  // sets up and binds the fields it creates

    TIBCustomDataSet& dataSet_;
    std::string fieldName_;
    TFieldType dataType_;
    int size_ = 0;
    bool required_ = false;
    bool readOnly_ = false;
    TFieldKind fieldKind_ = fkData;
    std::string origin_;
    int fieldNo_ = 0;
    int blobIndex_ = -1;  // entry in the row's blob stream cache (blob fields only)
};

// CHAR and VARCHAR columns; Size is the declared length in bytes, without upper limit.
class TIBStringField : public TField {
public:
    explicit TIBStringField(TIBCustomDataSet& dataSet) : TField(dataSet, ftString) {}
    // A CHAR column: the value is read blank-padded to Size.
    bool FixedChar() const noexcept { return fixedChar_; }
    // Transliteration of the text is the identity in this system; the flag starts set.
    bool Transliterate() const noexcept { return transliterate_; }
    // The characters up to the first zero byte, untrimmed.
    std::string AsString() const override;
    int DataSize() const noexcept override { return Size() + 1; }

private:
    friend class TIBCustomDataSet;
    bool fixedChar_ = false;
    bool transliterate_ = true;
};

class TSmallintField : public TField {
public:
    explicit TSmallintField(TIBCustomDataSet& dataSet) : TField(dataSet, ftSmallint) {}
    std::string AsString() const override;
    int DataSize() const noexcept override { return 2; }
};

class TIntegerField : public TField {
public:
    explicit TIntegerField(TIBCustomDataSet& dataSet) : TField(dataSet, ftInteger) {}
    std::string AsString() const override;
    int DataSize() const noexcept override { return 4; }
};

class TLargeintField : public TField {
public:
    explicit TLargeintField(TIBCustomDataSet& dataSet) : TField(dataSet, ftLargeint) {}
    std::string AsString() const override;
    int DataSize() const noexcept override { return 8; }
};

// BOOLEAN: the row holds 1 or 0 in two bytes; the text is "TRUE" or "FALSE", the words the
// server reads back as the same value.
class TBooleanField : public TField {
public:
    explicit TBooleanField(TIBCustomDataSet& dataSet) : TField(dataSet, ftBoolean) {}
    std::string AsString() const override;
    int DataSize() const noexcept override { return 2; }
};

// DOUBLE, FLOAT and integers with more than four decimals. A floating column's row value is
// a double, shown in the general number format; an integer column's is the stored integer,
// shown as its exact fixed-point text with Decimals places.
class TFloatField : public TField {
public:
    explicit TFloatField(TIBCustomDataSet& dataSet) : TField(dataSet, ftFloat) {}
    // The decimals of an integer column; 0 for a floating one.
    int Decimals() const noexcept { return decimals_; }
    std::string AsString() const override;
    int DataSize() const noexcept override { return 8; }

private:
    friend class TIBCustomDataSet;
    int decimals_ = 0;
};

// Integers with one to four decimals; the row value is the stored integer, Size the number
// of decimals and Precision the digits of the stored integer type. The text is the exact
// fixed-point value.
class TIBBCDField : public TField {
public:
    explicit TIBBCDField(TIBCustomDataSet& dataSet) : TField(dataSet, ftBCD) {}
    int Precision() const noexcept { return precision_; }
    std::string AsString() const override;
    int DataSize() const noexcept override { return 8; }

private:
    friend class TIBCustomDataSet;
    int precision_ = 0;
};

// DATE (dialect 3): the row holds the day number (0001-01-01 = day 1).
class TDateField : public TField {
public:
    explicit TDateField(TIBCustomDataSet& dataSet) : TField(dataSet, ftDate) {}
    std::string AsString() const override;
    int DataSize() const noexcept override { return 4; }
};

// TIME: the row holds the milliseconds since midnight.
class TTimeField : public TField {
public:
    explicit TTimeField(TIBCustomDataSet& dataSet) : TField(dataSet, ftTime) {}
    std::string AsString() const override;
    int DataSize() const noexcept override { return 4; }
};

// TIMESTAMP: the row holds day number x 86400000 + milliseconds as a double.
class TDateTimeField : public TField {
public:
    explicit TDateTimeField(TIBCustomDataSet& dataSet) : TField(dataSet, ftDateTime) {}
    std::string AsString() const override;
    int DataSize() const noexcept override { return 8; }
};

// BLOB columns: the content is read through the dataset's blob stream.
class TBlobField : public TField {
public:
    explicit TBlobField(TIBCustomDataSet& dataSet) : TField(dataSet, ftBlob) {}
    // The content's bytes, unconverted.
    std::string AsString() const override;
    int DataSize() const noexcept override { return 0; }

protected:
    TBlobField(TIBCustomDataSet& dataSet, TFieldType dataType) : TField(dataSet, dataType) {}
};

// Text blobs (subtype 1); read like any other blob.
class TMemoField : public TBlobField {
public:
    explicit TMemoField(TIBCustomDataSet& dataSet) : TBlobField(dataSet, ftMemo) {}
};

// The fields of a dataset in definition order; owns them.
class TFields {
public:
    int Count() const noexcept { return static_cast<int>(fields_.size()); }
    // EListError "List index out of bounds (%d)" outside 0..Count-1.
    TField* operator[](int index) const;
    // The field named `name` (ASCII case-insensitive), or null.
    TField* FindField(std::string_view name) const noexcept;
    TField& Add(std::unique_ptr<TField> field);
    void Clear() noexcept { fields_.clear(); }
    auto begin() const noexcept { return fields_.begin(); }
    auto end() const noexcept { return fields_.end(); }

private:
    std::vector<std::unique_ptr<TField>> fields_;
};

// Raises EListError "List index out of bounds (%d)".
[[noreturn]] void RaiseListIndexError(int index);

// ASCII-only case-insensitive comparison of names.
bool SameName(std::string_view a, std::string_view b) noexcept;

}  // namespace ibclient

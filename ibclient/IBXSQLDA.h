// Descriptor areas of dynamic SQL: TIBXSQLDA owns one XSQLDA record of the client library
// (a header followed by one XSQLVAR entry per parameter or result column) and one TIBXSQLVAR
// per entry. Each TIBXSQLVAR keeps its entry's value buffer and null indicator and converts
// between the raw values the server exchanges and the system's value types: text, double,
// currency (64-bit count of ten-thousandths), 16/32/64-bit integers and date-time.
//
// The record's layout comes from ibase.h, which this header keeps out of its users; the
// sources that hand records to the client library include ibclient/XSQLDALayout.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ibclient/DateTime.h"

namespace ibclient {

class TIBSQL;
class TIBXSQLDA;

// SQL type codes of the descriptor entries (lowest bit cleared; set means nullable).
enum SQLTypeCode : int {
    SQLVarying = 448,
    SQLText = 452,
    SQLDouble = 480,
    SQLFloat = 482,
    SQLLong = 496,
    SQLShort = 500,
    SQLTimestamp = 510,
    SQLBlob = 520,
    SQLDFloat = 530,
    SQLArray = 540,
    SQLQuad = 550,
    SQLTypeTime = 560,
    SQLTypeDate = 570,
    SQLInt64 = 580,
    SQLBoolean = 32764, // one byte, 0 or 1
    SQLNull = 32766,    // a parameter whose type the statement leaves open ("? IS NULL")
};

// An 8-byte blob, array or quad identifier (ISC_QUAD); two zero words mean none.
struct TQuad {
    std::int32_t High = 0;
    std::uint32_t Low = 0;
    friend bool operator==(const TQuad&, const TQuad&) = default;
};

// The value kinds SetVariant accepts. A currency is a 64-bit count of ten-thousandths and a
// date-time a TDateTime; both are wrapped so that they stay apart from integers and doubles.
struct TVarCurrency {
    std::int64_t Raw = 0;
};
struct TVarDateTime {
    TDateTime Value = 0;
};
using TVariant = std::variant<std::monostate, // null / empty
                              bool, std::uint8_t, std::int16_t, std::int32_t, std::int64_t, float,
                              double, TVarCurrency, TVarDateTime, std::string>;

// Trims blanks and control characters; dialect 1 upper-cases, other dialects strip the
// double quotes of a quoted name (undoubling inner ones) and upper-case any other name.
std::string NormalizeIdentifier(int dialect, std::string_view name);
// The name as it is written into SQL text: dialect 1 trimmed and upper-cased, otherwise in
// double quotes with inner double quotes doubled.
std::string QuoteIdentifierText(int dialect, std::string_view name);

class TIBXSQLVAR {
  public:
    TIBXSQLVAR(TIBXSQLDA& parent, int position);
    ~TIBXSQLVAR();
    TIBXSQLVAR(const TIBXSQLVAR&) = delete;
    TIBXSQLVAR& operator=(const TIBXSQLVAR&) = delete;

    TIBXSQLDA& Parent() const noexcept { return parent_; }
    TIBSQL* Statement() const noexcept;
    int Position() const noexcept { return position_; }
    // The normalised name recorded for this position (AssignName).
    const std::string& ColumnName() const noexcept { return columnName_; }
    // Set by every setter.
    bool Modified() const noexcept { return modified_; }
    void SetModified(bool value) noexcept { modified_ = value; }
    // The announced length for text types, 0 for all others; refreshed by InitializeItems.
    std::int16_t MaxTextLength() const noexcept { return maxTextLength_; }

    // ---- The descriptor entry ----
    // The XSQLVAR entry of this item inside the parent's record (an XSQLVAR*); null while
    // the area has no record. ibclient/XSQLDALayout.h gives it its type.
    void* RawEntry() const noexcept;
    std::int16_t SqlType() const noexcept; // with the nullable bit
    std::int16_t SqlScale() const noexcept;
    std::int16_t SqlSubType() const noexcept;
    std::int16_t SqlLen() const noexcept;
    std::string SqlName() const; // the column's own name
    std::string RelName() const; // its table's name; empty for an expression
    std::string OwnName() const;
    std::string AliasName() const; // the alias (made unique by InitializeItems)

    // The type code with the lowest bit cleared.
    int TypeCode() const noexcept;
    // The lowest bit of the type code.
    bool AcceptsNull() const noexcept;
    // AcceptsNull and the indicator holds -1.
    bool ValueIsNull() const noexcept;
    // The value buffer, or null when ValueIsNull.
    const std::byte* GetDataPointer() const noexcept;
    // The value buffer and its size, whatever the null state.
    std::byte* Data() noexcept { return data_.empty() ? nullptr : data_.data(); }
    std::size_t DataSize() const noexcept { return data_.size(); }

    // ---- Getters: a null value gives the type's zero value; an unsupported type (or text
    // that does not parse) raises client error 38 "Invalid data conversion". ----
    std::string GetText() const;
    // GetText without trailing blanks and control characters.
    std::string GetTrimmedText() const;
    double GetDouble() const;
    // Count of ten-thousandths.
    std::int64_t GetCurrency() const;
    std::int32_t GetInt32() const;
    std::int64_t GetInt64() const;
    TDateTime GetDateTime() const;
    // The stored integer of a SMALLINT, INTEGER or BIGINT entry, its scale not applied.
    std::int64_t GetUnscaledInteger() const;
    TQuad GetQuad() const;

    // ---- Setters (parameters): each changes this item and every item of the area recorded
    // under the same name, and sets Modified. ----
    void SetText(std::string_view value);
    void SetDouble(double value);
    void SetCurrency(std::int64_t value);
    // A boolean entry keeps its type: the value is stored as one byte, 1 or 0. Any other
    // entry becomes a boolean one.
    void SetBoolean(bool value);
    void SetInt16(std::int16_t value);
    void SetInt32(std::int32_t value);
    void SetInt64(std::int64_t value);
    void SetDate(TDateTime value);
    void SetTime(TDateTime value);
    void SetDateTime(TDateTime value);
    void SetQuad(TQuad value);
    // Marks the items as fixed text and copies their announced length from `block` (bytes
    // past the block's end are zero). No block (null data) sets the null state.
    void SetBytes(std::span<const std::byte> block);
    void SetVariant(const TVariant& value);
    void SetNull(bool value);
    void SetAcceptsNull(bool value);

    // Writes `content` into a new blob of the statement's database and transaction and
    // stores its identifier with SetQuad.
    void LoadBlob(std::string_view content);
    // The whole content of the blob named by GetQuad, read in the statement's database and
    // transaction (empty for a null value).
    std::string SaveBlob() const;

  private:
    friend class TIBXSQLDA;

    int Dialect() const noexcept;
    // Items of the area recorded under this item's name (this item included).
    std::vector<TIBXSQLVAR*> SameNamed();
    // New type code (nullable bit kept), scale, length and a zeroed buffer of `size` bytes.
    void Retype(int typeCode, int scale, int length, std::size_t size);
    void StoreBytes(const void* bytes, std::size_t count);
    void StoreText(std::string_view value);
    void ResizeData(std::size_t size);
    void SetIndicator(bool allocate);
    std::string RawText() const;

    TIBXSQLDA& parent_;
    int position_;
    bool modified_ = false;
    std::string columnName_;
    std::int16_t maxTextLength_ = 0;
    std::vector<std::byte> data_;             // value buffer (sqldata points here)
    std::unique_ptr<std::int16_t> indicator_; // null indicator (sqlind points here)
};

class TIBXSQLDA {
  public:
    // `statement` gives the database (dialect, handles); it may be null for a free-standing
    // area, which then works in dialect 3 and cannot reach blobs.
    explicit TIBXSQLDA(TIBSQL* statement);
    ~TIBXSQLDA();
    TIBXSQLDA(const TIBXSQLDA&) = delete;
    TIBXSQLDA& operator=(const TIBXSQLDA&) = delete;

    TIBSQL* Statement() const noexcept { return statement_; }
    // The SQL dialect of the statement's database (3 without one).
    int Dialect() const noexcept;

    int ItemCount() const noexcept { return count_; }
    // Sizes the area: the record and the item objects only grow; 0 keeps them for reuse.
    void SetItemCount(int count);
    // Number of item objects created so far.
    int AllocatedCount() const noexcept { return static_cast<int>(items_.size()); }

    // Client error 26 "XSQLDA index out of range" outside 0..ItemCount-1.
    TIBXSQLVAR& ItemAt(int index) const;
    TIBXSQLVAR& operator[](int index) const { return ItemAt(index); }
    // The item recorded under the normalised name (first match), or null.
    TIBXSQLVAR* FindByName(std::string_view name) const;
    // As FindByName; client error 46 "Field "%s" not found" with the name as passed.
    TIBXSQLVAR& ItemByName(std::string_view name) const;
    // Records the normalised name for position `index` and gives the item that name.
    void AssignName(std::string_view name, int index);
    // The recorded names by position.
    const std::vector<std::string>& Names() const noexcept { return names_; }

    // After a describe: single-table name, unique names (when none are recorded yet), text
    // limits, value buffers and indicators. Client error 35 for an unknown type.
    void InitializeItems();

    // True once a record exists (after the first non-zero ItemCount).
    bool HasRecord() const noexcept { return !record_.empty(); }
    // The XSQLDA record to hand to the client library (an XSQLDA*), or null.
    void* RawArea() noexcept { return record_.empty() ? nullptr : record_.data(); }
    const void* RawArea() const noexcept { return record_.empty() ? nullptr : record_.data(); }

    // The one table all columns come from (expressions aside), or empty.
    const std::string& SingleTableName() const noexcept { return singleTableName_; }

  private:
    TIBSQL* statement_;
    int count_ = 0;
    std::vector<std::byte> record_; // the XSQLDA record, sized for AllocatedCount entries
    std::vector<std::unique_ptr<TIBXSQLVAR>> items_;
    std::vector<std::string> names_;
    std::string singleTableName_;
};

} // namespace ibclient

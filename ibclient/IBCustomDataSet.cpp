// TIBCustomDataSet: field definitions from the column area, default fields, the row buffer
// layout and row copies, the row cache, the row requests, opening and closing, field value
// reads and blob streams, and the transaction and disconnect notifications.
#include "ibclient/IBCustomDataSet.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "ibclient/Binding.h"
#include "ibclient/DateTime.h"
#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBTransaction.h"
#include "ibclient/Schema.h"

namespace ibclient {

namespace {

// The alias that marks a column as the row's database key: it gets no slot and no field.
constexpr std::string_view kDbKeyAlias = "INTERNAL_DBKEY";

// Bookmark flags of a row header.
constexpr std::uint8_t kBookmarkCurrent = 0;
constexpr std::uint8_t kBookmarkBeforeFirst = 1;
constexpr std::uint8_t kBookmarkAfterLast = 2;
constexpr std::uint8_t kUpdateDeleted = 3;
constexpr std::uint32_t kNoSavedPosition = 0xFFFFFFFFu;

// The head of every row buffer. Buffers are plain bytes at arbitrary offsets, so headers and
// slot descriptors are always copied in and out with memcpy, never addressed in place.
struct TRowHeader {
    std::uint8_t BookmarkFlag = 0;
    std::int16_t ColumnCount = 0;
    std::int32_t RowNumber = 0;
    std::uint8_t CachedUpdateStatus = 0;
    std::uint8_t UpdateStatus = 0;
    std::uint32_t SavedPosition = 0;
    std::array<std::byte, 8> DbKey{};
};

// One per column of the column area, after the header.
struct TSlotDescriptor {
    std::int16_t Type = 0;
    std::int16_t Scale = 0;
    std::uint8_t Nullable = 0;
    std::uint8_t IsNull = 0;
    std::int16_t Size = 0;
    std::int16_t ValueLength = 0;
    std::int32_t Offset = 0;
};

template <class T> T LoadAt(const std::byte* p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <class T> void StoreAt(std::byte* p, const T& value) noexcept {
    std::memcpy(p, &value, sizeof value);
}

constexpr std::size_t DescriptorOffset(int column) noexcept {
    return sizeof(TRowHeader) + static_cast<std::size_t>(column) * sizeof(TSlotDescriptor);
}

TRowHeader LoadHeader(const std::byte* buffer) noexcept {
    return LoadAt<TRowHeader>(buffer);
}

void SetBookmarkFlag(std::vector<std::byte>& buffer, std::uint8_t flag) noexcept {
    TRowHeader header = LoadHeader(buffer.data());
    header.BookmarkFlag = flag;
    StoreAt(buffer.data(), header);
}

// Field type, Size and Precision of a column, by its type code (null bit cleared) and scale.
struct TColumnMapping {
    TFieldType DataType = ftUnknown;
    int Size = 0;
    int Precision = 0;
};

TColumnMapping MapColumn(int typeCode, int scale, int subType, int length) {
    switch (typeCode) {
    case SQLVarying:
    case SQLText:
        return {ftString, length, 0};
    case SQLShort:
        return scale == 0 ? TColumnMapping{ftSmallint, 0, 0} : TColumnMapping{ftBCD, -scale, 4};
    case SQLLong:
        if (scale == 0)
            return {ftInteger, 0, 0};
        return scale >= -4 ? TColumnMapping{ftBCD, -scale, 9} : TColumnMapping{ftFloat, 0, 0};
    case SQLInt64:
        if (scale == 0)
            return {ftLargeint, 0, 0};
        return scale >= -4 ? TColumnMapping{ftBCD, -scale, 18} : TColumnMapping{ftFloat, 0, 0};
    case SQLDouble:
    case SQLFloat:
        return {ftFloat, 0, 0};
    case SQLTimestamp:
        return {ftDateTime, 0, 0};
    case SQLTypeTime:
        return {ftTime, 0, 0};
    case SQLTypeDate:
        return {ftDate, 0, 0};
    case SQLBoolean:
        return {ftBoolean, 0, 0};
    case SQLBlob:
        return {subType == 1 ? ftMemo : ftBlob, 8, 0};
    case SQLArray:
        return {ftUnknown, 8, 0};
    default:  // D_FLOAT and every other code
        return {ftUnknown, 0, 0};
    }
}

// Bytes of a column's slot in the row buffer.
int SlotSize(int typeCode, int scale, int length) noexcept {
    switch (typeCode) {
    case SQLVarying:
    case SQLText:
        return length;
    case SQLShort:
    case SQLLong:
        return scale == 0 ? 4 : 8;
    case SQLBoolean:
        return 2;
    case SQLInt64:
    case SQLDouble:
    case SQLFloat:
    case SQLDFloat:
    case SQLTimestamp:
    case SQLTypeDate:
    case SQLTypeTime:
        return 8;
    default:  // blob and array identifiers and any other code: the declared length
        return length;
    }
}

std::string Trimmed(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::unique_ptr<TField> NewField(TIBCustomDataSet& dataSet, TFieldType type) {
    switch (type) {
    case ftString:
        return std::make_unique<TIBStringField>(dataSet);
    case ftSmallint:
        return std::make_unique<TSmallintField>(dataSet);
    case ftInteger:
        return std::make_unique<TIntegerField>(dataSet);
    case ftLargeint:
        return std::make_unique<TLargeintField>(dataSet);
    case ftBoolean:
        return std::make_unique<TBooleanField>(dataSet);
    case ftFloat:
        return std::make_unique<TFloatField>(dataSet);
    case ftBCD:
        return std::make_unique<TIBBCDField>(dataSet);
    case ftDate:
        return std::make_unique<TDateField>(dataSet);
    case ftTime:
        return std::make_unique<TTimeField>(dataSet);
    case ftDateTime:
        return std::make_unique<TDateTimeField>(dataSet);
    case ftBlob:
        return std::make_unique<TBlobField>(dataSet);
    case ftMemo:
        return std::make_unique<TMemoField>(dataSet);
    default:
        return nullptr;
    }
}

bool IsBlobType(TFieldType type) noexcept {
    return type == ftBlob || type == ftMemo;
}

}  // namespace

// ---- TIBDSBlobStream ----

TIBDSBlobStream::TIBDSBlobStream(const TField& field, TIBBlobStream& blobStream)
    : field_(field), blobStream_(blobStream) {
    blobStream_.Seek(0, TSeekOrigin::Beginning);
}

void TIBDSBlobStream::Write(const void* /*buffer*/, std::size_t /*count*/) {
    RaiseClientError(ceNotEditing);
}

// ---- Construction ----

TIBCustomDataSet::TIBCustomDataSet() : base_(this, TIBOwnerKind::DataSet) {
    RequireClientLibrary();
    for (int i = 0; i < 5; ++i) {
        auto statement = std::make_unique<TIBSQL>();
        statement->SetGoToFirstRecordOnExecute(false);
        statement->OnSQLChanging = [this] { OnSQLChanging(); };
        statements_.push_back(std::move(statement));
    }
    base_.BeforeTransactionEnd = [this] { OnTransactionEnding(); };
    base_.AfterTransactionEnd = [this] {
        if (AfterTransactionEnd)
            AfterTransactionEnd();
    };
    base_.TransactionFree = [this] {
        if (TransactionFree)
            TransactionFree();
    };
    base_.BeforeDatabaseDisconnect = [this] { OnDatabaseDisconnecting(); };
    base_.AfterDatabaseDisconnect = [this] {
        if (AfterDatabaseDisconnect)
            AfterDatabaseDisconnect();
    };
    base_.DatabaseFree = [this] {
        if (DatabaseFree)
            DatabaseFree();
    };
}

TIBCustomDataSet::~TIBCustomDataSet() {
    try {
        Close();
    } catch (...) {
        // Closing the cursor failed on the server; everything of ours is released anyway.
    }
}

// ---- Binding and options ----

void TIBCustomDataSet::SetDatabase(TIBDatabase* database) {
    if (database == Database())
        return;
    RequireClosed();
    base_.AttachDatabase(database);
    for (const auto& statement : statements_)
        statement->SetDatabase(database);
}

void TIBCustomDataSet::SetTransaction(TIBTransaction* transaction) {
    if (transaction == Transaction())
        return;
    RequireClosed();
    base_.AttachTransaction(transaction);
    for (const auto& statement : statements_)
        statement->SetTransaction(transaction);
}

void TIBCustomDataSet::SetUniDirectional(bool value) {
    RequireClosed();
    uniDirectional_ = value;
}

void TIBCustomDataSet::RequireClosed() const {
    if (Active() || open_)
        RaiseClientError(ceDatasetOpen);
}

// ---- Opening and closing ----

void TIBCustomDataSet::SetActive(bool value) {
    if (value == Active())
        return;
    if (value) {
        OpenDataSet();
    } else {
        CloseDataSet();
    }
}

void TIBCustomDataSet::OpenDataSet() {
    defaultFields_ = fields_.Count() == 0;
    openComplete_ = false;
    try {
        InternalOpen();
        openComplete_ = true;
        SetUpWindow();
    } catch (...) {
        // A failure once the cursor is open (the first fetch) leaves the dataset open without
        // a current row; an earlier failure leaves it closed.
        if (openComplete_) {
            state_ = dsBrowse;
        } else {
            state_ = dsInactive;
            try {
                CloseCursor();
            } catch (...) {
                // The original error is the one worth reporting.
            }
        }
        throw;
    }
    state_ = dsBrowse;
}

void TIBCustomDataSet::CloseDataSet() {
    state_ = dsInactive;
    CloseCursor();
}

void TIBCustomDataSet::CloseCursor() {
    openComplete_ = false;
    activeBuffer_.clear();
    spareBuffer_.clear();
    hasCurrentRow_ = false;
    bof_ = false;
    eof_ = false;
    std::exception_ptr error;
    try {
        DataSetClose();
    } catch (...) {
        error = std::current_exception();
    }
    defaultFields_ = false;
    if (error)
        std::rethrow_exception(error);
}

void TIBCustomDataSet::DataSetClose() {
    // The statement's cursor may fail to close on the server; the rest is released all the
    // same and the error passes on afterwards.
    std::exception_ptr error;
    try {
        SelectStatement().CloseCursor();
    } catch (...) {
        error = std::current_exception();
    }
    blobStreams_.clear();
    modelBuffer_ = {};
    currentRow_ = -1;
    open_ = false;
    fetchedRows_ = 0;
    deletedRows_ = 0;
    recordSize_ = 0;
    calcFieldsOffset_ = 0;
    blobCacheOffset_ = 0;
    rowBufferSize_ = 0;
    chunkSize_ = 0;
    rowCache_ = {};
    columns_.clear();
    UnbindFields();
    if (defaultFields_)
        fields_.Clear();
    if (error)
        std::rethrow_exception(error);
}

void TIBCustomDataSet::ActivateConnection() {
    if (Database() == nullptr)
        RaiseClientError(ceDatabaseNotAssigned);
    if (Transaction() == nullptr)
        RaiseClientError(ceTransactionNotAssigned);
    if (!Database()->Connected())
        Database()->Open();
}

bool TIBCustomDataSet::ActivateTransaction() {
    if (Transaction() == nullptr)
        RaiseClientError(ceTransactionNotAssigned);
    if (Transaction()->Active())
        return false;
    Transaction()->Start();
    return true;
}

void TIBCustomDataSet::InternalPrepare() {
    if (prepared_)
        return;
    TIBSQL& select = SelectStatement();
    if (Trimmed(select.SQL().Text()).empty())
        RaiseClientError(ceEmptySQLStatement);
    ActivateConnection();
    // A transaction started here stays active: no transaction of this system stops on its own.
    ActivateTransaction();
    base_.RequireDatabase();
    base_.RequireTransaction();
    if (!select.Prepared()) {
        select.SetParamCheck(paramCheck_);
        select.PrepareStatement();
    }
    prepared_ = true;
    try {
        BuildFieldDefinitions();
    } catch (...) {
        // A failed schema question would otherwise leave a partial field list for the next
        // opening; the definitions are built again instead (the statement stays prepared).
        fieldDefs_.Clear();
        prepared_ = false;
        throw;
    }
}

void TIBCustomDataSet::InternalUnPrepare() {
    if (!prepared_)
        return;
    RequireClosed();
    fieldDefs_.Clear();
    prepared_ = false;
}

void TIBCustomDataSet::DataSetOpen() {
    ActivateConnection();
    ActivateTransaction();
    TIBSQL& select = SelectStatement();
    if (select.SQL().Empty())
        RaiseClientError(ceEmptyQuery);
    if (!prepared_)
        InternalPrepare();
    // Only a plain select has rows to read; anything else (a select for update opens no
    // cursor) is refused before it runs.
    if (select.StatementType() != SQLSelect) {
        RaiseClientError(ceNotASelectQuery, {std::to_string(select.StatementType())});
    }
    if (defaultFields_)
        CreateDefaultFields();
    BindFields();
    currentRow_ = -1;
    select.RunStatement();
    open_ = select.Open();

    const int columnCount = select.CurrentRow().ItemCount();
    modelBuffer_.assign(DescriptorOffset(columnCount), std::byte{0});
    LayoutRowBuffer();
    calcFieldsOffset_ = static_cast<std::size_t>(recordSize_);
    blobCacheOffset_ = calcFieldsOffset_;  // no calculated fields in this system
    rowBufferSize_ =
        blobCacheOffset_ + static_cast<std::size_t>(blobFieldCount_) * sizeof(TIBBlobStream*);
    chunkSize_ = rowBufferSize_ * static_cast<std::size_t>(uniDirectional_ ? 2 : bufferChunks_);
    rowCache_.assign(chunkSize_, std::byte{0});
    modelBuffer_.resize(rowBufferSize_, std::byte{0});
}

void TIBCustomDataSet::SetUpWindow() {
    activeBuffer_ = modelBuffer_;
    spareBuffer_ = modelBuffer_;
    hasCurrentRow_ = false;
    bof_ = true;
    eof_ = false;
    if (GetRecord(TGetMode::Next, activeBuffer_) == TGetResult::Ok) {
        hasCurrentRow_ = true;
    } else {
        eof_ = true;
    }
}

// ---- Field definitions and fields ----

void TIBCustomDataSet::BuildFieldDefinitions() {
    fieldDefs_.Clear();
    TIBXSQLDA& columns = SelectStatement().CurrentRow();
    const int count = columns.ItemCount();
    if (columnMap_.size() < static_cast<std::size_t>(count))
        columnMap_.resize(static_cast<std::size_t>(count));
    for (int p = 1; p <= count; ++p) {
        const TIBXSQLVAR& item = columns.ItemAt(p - 1);
        const std::string alias = item.AliasName();
        const std::string relation = item.RelName();
        const std::string column = item.SqlName();
        const TColumnMapping mapping =
            MapColumn(item.TypeCode(), item.SqlScale(), item.SqlSubType(), item.SqlLen());
        if (mapping.DataType == ftUnknown || alias == kDbKeyAlias)
            continue;

        columnMap_[static_cast<std::size_t>(fieldDefs_.Count())] = p;
        TFieldDef def;
        def.Name = alias;
        def.FieldNo = p;
        def.DataType = mapping.DataType;
        def.Size = mapping.Size;
        def.Precision = mapping.Precision;
        if (!item.AcceptsNull())
            def.Attributes.Include(faRequired);
        // A computed table column is read-only (and so never required).
        if (!relation.empty() && !column.empty() && IsComputedColumn(relation, column)) {
            def.Attributes = TFieldAttributes{faReadonly};
            def.InternalCalcField = true;
        }
        if (item.TypeCode() == SQLText)
            def.Attributes.Include(faFixed);
        fieldDefs_.Add(std::move(def));
    }
}

bool TIBCustomDataSet::IsComputedColumn(const std::string& relation, const std::string& column) {
    return Database()->Schema().IsComputedField(relation, column);
}

void TIBCustomDataSet::CreateDefaultFields() {
    for (int i = 0; i < fieldDefs_.Count(); ++i) {
        const TFieldDef& def = fieldDefs_[i];
        if (def.DataType == ftUnknown || def.DataType == ftADT || def.DataType == ftArray ||
            def.DataType == ftReference || def.DataType == ftDataSet ||
            def.Attributes.Contains(faHiddenCol)) {
            continue;
        }
        std::unique_ptr<TField> field = NewField(*this, def.DataType);
        if (!field)
            throw EDatabaseError("Field '" + def.Name + "' is of an unknown type");
        field->size_ = def.Size;
        field->fieldName_ = def.Name;
        field->required_ = def.Attributes.Contains(faRequired);
        field->readOnly_ = def.Attributes.Contains(faReadonly);
        if (auto* bcd = dynamic_cast<TIBBCDField*>(field.get()))
            bcd->precision_ = def.Precision;
        if (auto* text = dynamic_cast<TIBStringField*>(field.get()))
            text->fixedChar_ = def.Attributes.Contains(faFixed);
        if (auto* number = dynamic_cast<TFloatField*>(field.get())) {
            const TIBXSQLVAR& item = SelectStatement().CurrentRow().ItemAt(def.FieldNo - 1);
            const int type = item.TypeCode();
            if (type == SQLShort || type == SQLLong || type == SQLInt64)
                number->decimals_ = -item.SqlScale();
        }
        field->fieldKind_ = def.InternalCalcField ? fkInternalCalc : fkData;
        fields_.Add(std::move(field));
    }
    const TIBXSQLDA& columns = SelectStatement().CurrentRow();
    for (int i = 0; i < columns.ItemCount(); ++i) {
        const TIBXSQLVAR& item = columns.ItemAt(i);
        const std::string alias = item.AliasName();
        const std::string relation = item.RelName();
        if (alias.empty() || relation.empty())
            continue;
        if (TField* field = fields_.FindField(alias))
            field->origin_ = relation + "." + alias;
    }
}

void TIBCustomDataSet::BindFields() {
    // Every field of this system comes from a definition of the same name, in order.
    blobFieldCount_ = 0;
    for (const auto& field : fields_) {
        const int index = fieldDefs_.IndexOf(field->FieldName());
        if (index < 0)
            throw EDatabaseError("Field '" + field->FieldName() + "' not found");
        field->fieldNo_ = index + 1;
        if (IsBlobType(field->DataType())) {
            field->blobIndex_ = blobFieldCount_++;
            field->size_ = fieldDefs_[index].Size;
        }
    }
}

void TIBCustomDataSet::UnbindFields() noexcept {
    for (const auto& field : fields_) {
        field->fieldNo_ = 0;
        field->blobIndex_ = -1;
    }
    blobFieldCount_ = 0;
}

// ---- Row buffers ----

void TIBCustomDataSet::LayoutRowBuffer() {
    const TIBXSQLDA& columns = SelectStatement().CurrentRow();
    const int count = columns.ItemCount();
    TRowHeader header;
    header.BookmarkFlag = kBookmarkCurrent;
    header.ColumnCount = static_cast<std::int16_t>(count);
    header.RowNumber = -1;
    header.SavedPosition = kNoSavedPosition;
    StoreAt(modelBuffer_.data(), header);

    columns_.assign(static_cast<std::size_t>(count), TColumnSlot{});
    std::size_t running = DescriptorOffset(count);
    for (int i = 0; i < count; ++i) {
        const TIBXSQLVAR& item = columns.ItemAt(i);
        TColumnSlot& slot = columns_[static_cast<std::size_t>(i)];
        slot.TypeCode = item.TypeCode();
        slot.Scale = item.SqlScale();
        slot.Length = item.SqlLen();
        if (item.AliasName() == kDbKeyAlias) {
            slot.DbKey = true;  // its descriptor stays empty
            continue;
        }
        slot.SlotSize = SlotSize(slot.TypeCode, slot.Scale, slot.Length);
        slot.Offset = static_cast<int>(running);
        TSlotDescriptor descriptor;
        descriptor.Type = static_cast<std::int16_t>(slot.TypeCode);
        descriptor.Scale = static_cast<std::int16_t>(slot.Scale);
        descriptor.Nullable = item.AcceptsNull() ? 1 : 0;
        descriptor.IsNull = 1;
        descriptor.Size = static_cast<std::int16_t>(slot.SlotSize);
        descriptor.ValueLength =
            slot.TypeCode == SQLText ? static_cast<std::int16_t>(slot.Length) : std::int16_t{0};
        descriptor.Offset = slot.Offset;
        StoreAt(modelBuffer_.data() + DescriptorOffset(i), descriptor);
        running += static_cast<std::size_t>(slot.SlotSize);
    }
    recordSize_ = static_cast<int>(running);
    modelBuffer_.resize(running, std::byte{0});
}

void TIBCustomDataSet::CopyRowToBuffer(int row, std::vector<std::byte>& buffer) {
    std::byte* const data = buffer.data();
    std::memset(data + blobCacheOffset_, 0,
                static_cast<std::size_t>(blobFieldCount_) * sizeof(TIBBlobStream*));

    TIBXSQLDA& columns = SelectStatement().CurrentRow();
    TRowHeader header;
    header.BookmarkFlag = kBookmarkCurrent;
    header.ColumnCount = static_cast<std::int16_t>(columns_.size());
    header.RowNumber = row;
    header.SavedPosition = kNoSavedPosition;

    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const TColumnSlot& slot = columns_[i];
        TIBXSQLVAR& item = columns.ItemAt(static_cast<int>(i));
        if (slot.DbKey) {
            if (slot.Length <= 8) {
                std::memcpy(header.DbKey.data(), item.Data(),
                            std::min<std::size_t>(8, item.DataSize()));
            }
            continue;
        }
        TSlotDescriptor descriptor =
            LoadAt<TSlotDescriptor>(data + DescriptorOffset(static_cast<int>(i)));
        const bool isNull = item.ValueIsNull();
        descriptor.IsNull = isNull ? 1 : 0;
        descriptor.ValueLength = 0;
        std::byte* const target = data + slot.Offset;
        switch (slot.TypeCode) {
        case SQLVarying: {
            // The 2-byte length prefix is little-endian, as isc_vax_integer reads it. A
            // length beyond the declared one cannot come from the server; it is clamped so
            // that a slot is never overrun.
            const std::byte* source = item.Data();
            int length = 0;
            if (!isNull && source != nullptr) {
                length = std::to_integer<int>(source[0]) | (std::to_integer<int>(source[1]) << 8);
                length = std::clamp(length, 0, slot.SlotSize);
                std::memcpy(target, source + 2, static_cast<std::size_t>(length));
            }
            descriptor.ValueLength = static_cast<std::int16_t>(length);
            break;
        }
        case SQLText:
            descriptor.ValueLength = static_cast<std::int16_t>(slot.Length);
            if (isNull || item.Data() == nullptr) {
                std::memset(target, 0, static_cast<std::size_t>(slot.SlotSize));
            } else {
                std::memcpy(target, item.Data(),
                            std::min<std::size_t>(static_cast<std::size_t>(slot.SlotSize),
                                                  item.DataSize()));
            }
            break;
        case SQLShort:
        case SQLLong:
        case SQLInt64:
            if (slot.Scale == 0) {
                if (slot.TypeCode == SQLInt64) {
                    StoreAt(target, item.GetInt64());
                } else {
                    StoreAt(target, item.GetInt32());
                }
            } else if (slot.Scale < 0) {
                // The stored integer itself, which the BCD or float field turns into its
                // exact text with the column's scale: a count of ten-thousandths would
                // overflow for NUMERIC(18,2) values beyond 922337203685477.58.
                StoreAt(target, item.GetUnscaledInteger());
            } else {
                StoreAt(target, item.GetCurrency());
            }
            break;
        case SQLDouble:
        case SQLFloat:
        case SQLDFloat:
            StoreAt(target, item.GetDouble());
            break;
        case SQLBoolean:
            StoreAt(target, static_cast<std::int16_t>(item.GetInt32()));
            break;
        case SQLTimestamp:
            StoreAt(target, TimeStampToMSecs(DateTimeToTimeStamp(item.GetDateTime())));
            break;
        case SQLTypeDate:
            StoreAt(target, DateTimeToTimeStamp(item.GetDateTime()).Date);
            std::memset(target + 4, 0, 4);
            break;
        case SQLTypeTime:
            StoreAt(target, DateTimeToTimeStamp(item.GetDateTime()).Time);
            std::memset(target + 4, 0, 4);
            break;
        default: {
            // Blob and array identifiers as the server sent them. A NULL column's buffer
            // may still hold an earlier row's identifier; the slot gets zeros instead, so
            // that no stale blob can be read through it.
            const std::size_t size = static_cast<std::size_t>(slot.SlotSize);
            std::memset(target, 0, size);
            if (!isNull && item.Data() != nullptr)
                std::memcpy(target, item.Data(), std::min(size, item.DataSize()));
            break;
        }
        }
        StoreAt(data + DescriptorOffset(static_cast<int>(i)), descriptor);
    }
    StoreAt(data, header);
}

// ---- The row cache ----

std::size_t TIBCustomDataSet::CachePosition(int row) const noexcept {
    const int slot = uniDirectional_ ? row % 2 : row;
    return static_cast<std::size_t>(slot) * rowBufferSize_;
}

void TIBCustomDataSet::WriteRecordCache(int row, const std::vector<std::byte>& buffer) {
    const std::size_t position = CachePosition(row);
    if (position >= rowCache_.size()) {
        // The cache grows by whole chunks. Its capacity at least doubles whenever it runs
        // out, so each cached row is moved a bounded number of times however long the result.
        std::size_t size = rowCache_.size();
        while (position >= size)
            size += chunkSize_;
        if (size > rowCache_.capacity())
            rowCache_.reserve(std::max(size, 2 * rowCache_.capacity()));
        rowCache_.resize(size, std::byte{0});
    }
    std::memcpy(rowCache_.data() + position, buffer.data(), rowBufferSize_);
}

bool TIBCustomDataSet::ReadRecordCache(int row, std::vector<std::byte>& buffer) const {
    const std::size_t position = CachePosition(row);
    if (position + rowBufferSize_ > rowCache_.size())
        return false;
    // With UniDirectional the cache keeps only the last two rows; an older row is gone.
    if (LoadHeader(rowCache_.data() + position).RowNumber != row)
        return false;
    std::memcpy(buffer.data(), rowCache_.data() + position, rowBufferSize_);
    return true;
}

TIBCustomDataSet::TGetResult TIBCustomDataSet::GetRecord(TGetMode mode,
                                                         std::vector<std::byte>& buffer) {
    TGetResult result = TGetResult::Error;
    TIBSQL& select = SelectStatement();
    if (mode == TGetMode::Next) {
        if (currentRow_ == fetchedRows_) {
            result = TGetResult::AfterLast;
        } else if (currentRow_ == fetchedRows_ - 1) {
            if (!select.AtEnd()) {
                select.FetchNext();
                ++currentRow_;
            }
            if (select.AtEnd()) {
                result = TGetResult::AfterLast;
            } else {
                // A row that cannot be copied (a timestamp out of range) raises before it is
                // counted, so the fetched count never includes a row missing from the cache.
                CopyRowToBuffer(currentRow_, buffer);
                WriteRecordCache(currentRow_, buffer);
                ++fetchedRows_;
                result = TGetResult::Ok;
            }
        } else if (currentRow_ < fetchedRows_ - 1) {
            ++currentRow_;
            result = ReadRecordCache(currentRow_, buffer) ? TGetResult::Ok : TGetResult::Error;
        }
    } else {
        if (currentRow_ == 0) {
            currentRow_ = -1;
            result = TGetResult::BeforeFirst;
        } else if (currentRow_ > 0 && currentRow_ <= fetchedRows_) {
            --currentRow_;
            result = ReadRecordCache(currentRow_, buffer) ? TGetResult::Ok : TGetResult::Error;
        } else if (currentRow_ == -1) {
            result = TGetResult::BeforeFirst;
        }
    }
    if (result == TGetResult::Ok) {
        SetBookmarkFlag(buffer, kBookmarkCurrent);
    } else {
        buffer = modelBuffer_;
        SetBookmarkFlag(buffer, result == TGetResult::BeforeFirst ? kBookmarkBeforeFirst
                                                                  : kBookmarkAfterLast);
    }
    return result;
}

bool TIBCustomDataSet::Next() {
    if (!Active() || !hasCurrentRow_)
        return false;
    currentRow_ = LoadHeader(activeBuffer_.data()).RowNumber;
    if (GetRecord(TGetMode::Next, spareBuffer_) == TGetResult::Ok) {
        std::swap(activeBuffer_, spareBuffer_);
        bof_ = false;
        eof_ = false;
        return true;
    }
    eof_ = true;
    return false;
}

bool TIBCustomDataSet::Prior() {
    if (!Active() || !hasCurrentRow_)
        return false;
    currentRow_ = LoadHeader(activeBuffer_.data()).RowNumber;
    if (GetRecord(TGetMode::Prior, spareBuffer_) == TGetResult::Ok) {
        std::swap(activeBuffer_, spareBuffer_);
        bof_ = false;
        eof_ = false;
        return true;
    }
    bof_ = true;
    return false;
}

int TIBCustomDataSet::CurrentRowNumber() const noexcept {
    const std::byte* buffer = CurrentRowBuffer();
    return buffer != nullptr ? LoadHeader(buffer).RowNumber : -1;
}

const std::byte* TIBCustomDataSet::CurrentRowBuffer() const noexcept {
    return state_ == dsBrowse && hasCurrentRow_ ? activeBuffer_.data() : nullptr;
}

// ---- Field values ----

bool TIBCustomDataSet::ReadFieldValue(const TField& field, void* dest) const {
    const std::byte* const buffer = CurrentRowBuffer();
    if (buffer == nullptr)
        return false;
    const TRowHeader header = LoadHeader(buffer);
    if (header.CachedUpdateStatus == 0 && header.UpdateStatus == kUpdateDeleted)
        return false;
    // Calculated fields (negative numbers) do not occur in this system.
    if (field.FieldNo() <= 0)
        return false;
    const std::size_t index = static_cast<std::size_t>(field.FieldNo() - 1);
    if (index >= columnMap_.size())
        return false;
    const int position = columnMap_[index];
    if (position <= 0 || position > header.ColumnCount)
        return false;

    const TSlotDescriptor descriptor =
        LoadAt<TSlotDescriptor>(buffer + DescriptorOffset(position - 1));
    const bool hasValue = descriptor.IsNull == 0;
    if (!hasValue || dest == nullptr)
        return hasValue;

    const std::byte* const slot = buffer + descriptor.Offset;
    auto* const out = static_cast<std::byte*>(dest);
    if (descriptor.Type == SQLText || descriptor.Type == SQLVarying) {
        if (field.Size() < descriptor.ValueLength) {
            RaiseClientError(ceFieldSizeMismatch, {field.FieldName()});
        }
        const auto* text = dynamic_cast<const TIBStringField*>(&field);
        const bool fixed = text != nullptr && text->FixedChar();
        if (fixed)
            std::memset(out, ' ', static_cast<std::size_t>(field.Size()));
        std::memcpy(out, slot, static_cast<std::size_t>(descriptor.ValueLength));
        out[fixed ? field.Size() : descriptor.ValueLength] = std::byte{0};
        return true;
    }
    if (field.DataType() == ftSmallint) {
        // The low half of the 4-byte slot.
        StoreAt(out, static_cast<std::int16_t>(LoadAt<std::int32_t>(slot)));
        return true;
    }
    const std::size_t size = std::min(static_cast<std::size_t>(field.DataSize()),
                                      static_cast<std::size_t>(descriptor.Size));
    std::memcpy(out, slot, size);
    return true;
}

std::unique_ptr<TIBDSBlobStream> TIBCustomDataSet::OpenFieldBlob(const TField& field) {
    TIBBlobStream* stream = nullptr;
    if (hasCurrentRow_ && state_ == dsBrowse && field.blobIndex_ >= 0 && field.FieldNo() > 0) {
        std::byte* const entry =
            activeBuffer_.data() + blobCacheOffset_ +
            static_cast<std::size_t>(field.blobIndex_) * sizeof(TIBBlobStream*);
        stream = LoadAt<TIBBlobStream*>(entry);
        if (stream == nullptr) {
            auto created = std::make_unique<TIBBlobStream>();
            created->SetDatabase(Database());
            created->SetTransaction(Transaction());
            const int position = columnMap_[static_cast<std::size_t>(field.FieldNo() - 1)];
            const auto descriptor =
                LoadAt<TSlotDescriptor>(activeBuffer_.data() + DescriptorOffset(position - 1));
            TQuad id;
            std::memcpy(&id, activeBuffer_.data() + descriptor.Offset, sizeof id);
            created->SetBlobID(id);
            stream = created.get();
            blobStreams_.push_back(std::move(created));
            StoreAt(entry, stream);
            // The same row finds its stream again after moving away and back.
            WriteRecordCache(LoadHeader(activeBuffer_.data()).RowNumber, activeBuffer_);
        }
    } else {
        blobStreams_.push_back(std::make_unique<TIBBlobStream>());
        stream = blobStreams_.back().get();
    }
    return std::make_unique<TIBDSBlobStream>(field, *stream);
}

// ---- Notifications ----

void TIBCustomDataSet::OnTransactionEnding() {
    if (Active())
        Close();
    for (const auto& statement : statements_)
        statement->ReleaseHandle();
    prepared_ = false;
    if (BeforeTransactionEnd)
        BeforeTransactionEnd();
}

void TIBCustomDataSet::OnDatabaseDisconnecting() {
    if (Active())
        Close();
    prepared_ = false;
    if (BeforeDatabaseDisconnect)
        BeforeDatabaseDisconnect();
}

void TIBCustomDataSet::OnSQLChanging() {
    if (open_)
        DataSetClose();
    if (prepared_)
        InternalUnPrepare();
    fieldDefs_.Clear();
}

}  // namespace ibclient

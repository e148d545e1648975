// TIBCustomDataSet: a result set over one select statement. It turns the statement's column
// area into field definitions and fields, lays out one fixed-size row buffer per row, copies
// every fetched row into a row cache that grows by whole chunks, keeps the current row, and
// answers each field's request for its value (blob fields through a blob stream).
// TIBDSBlobStream is the read stream a blob field gets over the dataset's blob stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "ibclient/BlobStream.h"
#include "ibclient/Fields.h"
#include "ibclient/IBBase.h"
#include "ibclient/IBSQL.h"

namespace ibclient {

class TIBDatabase;
class TIBTransaction;

// The states a dataset reaches in this system (it is never edited).
enum TDataSetState { dsInactive, dsBrowse };

// A blob field's read stream over a blob stream of its dataset. Writing is refused: the
// dataset is never in an editing state.
class TIBDSBlobStream {
public:
    // Moves the blob stream to position 0, which loads the blob's content.
    TIBDSBlobStream(const TField& field, TIBBlobStream& blobStream);
    TIBDSBlobStream(const TIBDSBlobStream&) = delete;
    TIBDSBlobStream& operator=(const TIBDSBlobStream&) = delete;

    const TField& Field() const noexcept { return field_; }
    std::int64_t Size() { return blobStream_.Size(); }
    std::int64_t Position() const noexcept { return blobStream_.Position(); }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) {
        return blobStream_.Seek(offset, origin);
    }
    std::size_t Read(void* buffer, std::size_t count) { return blobStream_.Read(buffer, count); }
    // Client error 47 "Not in edit mode".
    [[noreturn]] void Write(const void* buffer, std::size_t count);

private:
    const TField& field_;
    TIBBlobStream& blobStream_;
};

class TIBCustomDataSet {
public:
    // Loads the client library (client error 1 when it is missing) and creates the five
    // internal statements: the select statement and four editing statements that stay empty.
    TIBCustomDataSet();
    // Closes an open dataset (errors swallowed) and leaves its database and transaction.
    virtual ~TIBCustomDataSet();
    TIBCustomDataSet(const TIBCustomDataSet&) = delete;
    TIBCustomDataSet& operator=(const TIBCustomDataSet&) = delete;

    // ---- Binding ----
    TIBBase& Base() noexcept { return base_; }
    TIBDatabase* Database() const noexcept { return base_.Database(); }
    TIBTransaction* Transaction() const noexcept { return base_.Transaction(); }
    // The current value: nothing. Otherwise client error 33 "Dataset open" while active, else
    // the dataset and then its five statements are bound.
    void SetDatabase(TIBDatabase* database);
    void SetTransaction(TIBTransaction* transaction);

    // ---- Options ----
    // Rows per chunk of the row cache (default 1000); 0 or less stores 1000.
    int BufferChunks() const noexcept { return bufferChunks_; }
    void SetBufferChunks(int rows) noexcept { bufferChunks_ = rows > 0 ? rows : 1000; }
    // Keep only two rows in the row cache; client error 33 while active.
    bool UniDirectional() const noexcept { return uniDirectional_; }
    void SetUniDirectional(bool value);
    // Whether the select statement scans its text for parameter markers (default true).
    bool ParamCheck() const noexcept { return paramCheck_; }
    void SetParamCheck(bool value) noexcept { paramCheck_ = value; }

    // ---- State ----
    bool Active() const noexcept { return state_ != dsInactive; }
    // Opens or closes; writing the current value does nothing.
    void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    TDataSetState State() const noexcept { return state_; }

    // ---- Definitions and fields ----
    const TFieldDefs& FieldDefs() const noexcept { return fieldDefs_; }
    const TFields& Fields() const noexcept { return fields_; }
    TField* FindField(std::string_view name) const noexcept { return fields_.FindField(name); }

    // ---- Rows ----
    // Rows fetched into the row cache so far (1 right after opening a non-empty result).
    int FetchedRowCount() const noexcept { return fetchedRows_ - deletedRows_; }
    // Moves to the next row, fetching it from the server when it is not cached; false (and
    // Eof) when there is none.
    bool Next();
    // Moves to the previous cached row; false (and Bof) when there is none.
    bool Prior();
    bool Eof() const noexcept { return eof_; }
    bool Bof() const noexcept { return bof_; }
    // 0-based row number of the current row; -1 without one.
    int CurrentRowNumber() const noexcept;

    // ---- Field values ----
    // Copies the value of `field`'s column in the current row into `dest` (none: only the
    // null test) and tells whether there is a value. Text columns receive the characters and
    // a zero byte (blank-padded to Size for a fixed-character field, so `dest` needs Size + 1
    // bytes); other columns the field's DataSize bytes. Client error 117 when a text value is
    // longer than the field's Size.
    bool ReadFieldValue(const TField& field, void* dest) const;
    // A read stream over the blob of `field` in the current row. The underlying blob stream is
    // kept per row and field until the dataset closes, so reading again needs no server call.
    std::unique_ptr<TIBDSBlobStream> OpenFieldBlob(const TField& field);

    // The select statement (read-only: its text comes from the dataset's owner).
    const TIBSQL& SelectSQL() const noexcept { return *statements_[0]; }

    // ---- Events (called at the end of the matching notification; never set by the runner) ----
    std::function<void()> BeforeTransactionEnd;
    std::function<void()> AfterTransactionEnd;
    std::function<void()> TransactionFree;
    std::function<void()> BeforeDatabaseDisconnect;
    std::function<void()> AfterDatabaseDisconnect;
    std::function<void()> DatabaseFree;

protected:
    // The open below the general dataset level; TIBQuery adds its preparation and parameters.
    virtual void InternalOpen() { DataSetOpen(); }

    // Client errors 24/25 without database or transaction; connects a closed database.
    void ActivateConnection();
    // Client error 25 without transaction; starts an inactive one. True when started here.
    bool ActivateTransaction();
    // Prepares the select statement and builds the field definitions (when not prepared).
    void InternalPrepare();
    // Drops the field definitions and the prepared flag (client error 33 while open).
    void InternalUnPrepare();
    // Runs the select and sets up the row cache (preparing first when needed).
    void DataSetOpen();
    // Client error 33 "Dataset open" while active or while the cursor is open.
    void RequireClosed() const;
    // The dataset-level prepared flag: the select is prepared and the definitions built.
    bool DataSetPrepared() const noexcept { return prepared_; }
    TIBSQL& SelectStatement() noexcept { return *statements_[0]; }

private:
    // One row request on the row cache and its result.
    enum class TGetMode { Next, Prior };
    enum class TGetResult { Ok, BeforeFirst, AfterLast, Error };

    // What the layout pass records per column of the column area.
    struct TColumnSlot {
        int TypeCode = 0;  // SQL type without the null bit
        int Scale = 0;
        int Length = 0;      // declared length
        bool DbKey = false;  // the "INTERNAL_DBKEY" column: no slot
        int SlotSize = 0;
        int Offset = 0;  // of the slot from the start of the row buffer
    };

    void OpenDataSet();
    void CloseDataSet();
    void CloseCursor();
    void DataSetClose();
    void SetUpWindow();
    void BuildFieldDefinitions();
    void CreateDefaultFields();
    void BindFields();
    void UnbindFields() noexcept;
    void LayoutRowBuffer();
    void CopyRowToBuffer(int row, std::vector<std::byte>& buffer);
    TGetResult GetRecord(TGetMode mode, std::vector<std::byte>& buffer);
    std::size_t CachePosition(int row) const noexcept;
    void WriteRecordCache(int row, const std::vector<std::byte>& buffer);
    bool ReadRecordCache(int row, std::vector<std::byte>& buffer) const;
    const std::byte* CurrentRowBuffer() const noexcept;
    bool IsComputedColumn(const std::string& relation, const std::string& column);

    void OnTransactionEnding();
    void OnDatabaseDisconnecting();
    void OnSQLChanging();

    TIBBase base_;
    std::vector<std::unique_ptr<TIBSQL>> statements_;  // select, then four editing statements

    int bufferChunks_ = 1000;
    bool uniDirectional_ = false;
    bool paramCheck_ = true;

    TDataSetState state_ = dsInactive;
    bool prepared_ = false;  // dataset level
    bool open_ = false;      // the select's cursor is open
    bool openComplete_ = false;
    bool defaultFields_ = false;  // the fields were created here and die at close

    TFieldDefs fieldDefs_;
    TFields fields_;
    std::vector<std::int32_t> columnMap_;  // definition index -> 1-based column position
    int blobFieldCount_ = 0;

    // Layout of one opening.
    std::vector<TColumnSlot> columns_;
    int recordSize_ = 0;
    std::size_t calcFieldsOffset_ = 0;
    std::size_t blobCacheOffset_ = 0;
    std::size_t rowBufferSize_ = 0;
    std::vector<std::byte> modelBuffer_;

    // The row cache: row n at CachePosition(n); its size grows by whole chunks.
    std::vector<std::byte> rowCache_;
    std::size_t chunkSize_ = 0;
    std::int32_t fetchedRows_ = 0;
    std::int32_t deletedRows_ = 0;
    std::int32_t currentRow_ = -1;  // the cursor of the row requests; -1 before the first row

    // The current row and a spare buffer the next request is read into.
    std::vector<std::byte> activeBuffer_;
    std::vector<std::byte> spareBuffer_;
    bool hasCurrentRow_ = false;
    bool bof_ = false;
    bool eof_ = false;

    // Blob streams opened by fields; the row buffers point at them until the dataset closes.
    std::vector<std::unique_ptr<TIBBlobStream>> blobStreams_;
};

}  // namespace ibclient

// TIBSQL: one SQL statement at a time, run through the dynamic SQL calls of the client
// library on the bound database inside the bound transaction. It owns the server statement,
// classifies it by the type the server reports, describes its parameters and result columns
// into two descriptor areas, executes it as its type requires and, for a select, keeps a
// cursor from which rows are fetched one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ibclient/Handles.h"
#include "ibclient/IBBase.h"
#include "ibclient/IBXSQLDA.h"

namespace ibclient {

class TIBDatabase;
class TIBTransaction;

// The server statement handle (isc_stmt_handle): 32 bits, 0 meaning none.
using StmtHandle = std::uint32_t;

// Statement types as the server reports them (isc_info_sql_stmt_type).
enum TIBSQLType : std::uint8_t {
    SQLUnknown = 0,
    SQLSelect = 1,
    SQLInsert = 2,
    SQLUpdate = 3,
    SQLDelete = 4,
    SQLDDL = 5,
    SQLGetSegment = 6,
    SQLPutSegment = 7,
    SQLExecProcedure = 8,
    SQLStartTransaction = 9,
    SQLCommit = 10,
    SQLRollback = 11,
    SQLSelectForUpdate = 12,
    SQLSetGenerator = 13,
};

// Splits a text into lines at CR, LF or CR LF (a final line break adds no empty line).
std::vector<std::string> SplitLines(std::string_view text);
// Joins lines, each followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// The statement text as a list of lines. Every change first calls the owner's handler (the
// statement drops its server statement there), even when the new text equals the old.
class TSQLText {
  public:
    explicit TSQLText(std::function<void()> onChanging) : onChanging_(std::move(onChanging)) {}
    TSQLText(const TSQLText&) = delete;
    TSQLText& operator=(const TSQLText&) = delete;

    const std::vector<std::string>& Lines() const noexcept { return lines_; }
    std::size_t Count() const noexcept { return lines_.size(); }
    bool Empty() const noexcept { return lines_.empty(); }
    const std::string& operator[](std::size_t index) const { return lines_.at(index); }

    // The lines joined, each followed by CR LF.
    std::string Text() const { return JoinLines(lines_); }
    // Replaces the lines by `text` split at line breaks; the handler runs once.
    void SetText(std::string_view text);
    // Replaces the lines; the handler runs once.
    void Assign(std::vector<std::string> lines);
    void Add(std::string line);
    void Insert(std::size_t index, std::string line);
    void Set(std::size_t index, std::string line);
    void Delete(std::size_t index);
    // Empties the list (the handler runs only when there was a line).
    void Clear();

  private:
    void Changing() const;

    std::vector<std::string> lines_;
    std::function<void()> onChanging_;
};

// The text handed to the server after the parameter scan: markers (":name", "?name") become
// "?", and the names in order of appearance.
struct TParsedSQL {
    std::string Text;
    std::vector<std::string> Names;
};
// Scans `sql` for parameter markers outside string literals, quoted identifiers and /* */
// comments. Raises client error 55 "SQL Parse Error:" with "EOF in comment detected",
// "EOF in string detected" or "Parameter name expected".
TParsedSQL ParseSQLParameters(std::string_view sql);

class TIBSQL {
  public:
    // `name` is the component name that starts the cursor name. Loads the client library
    // (client error 1 when it is missing).
    explicit TIBSQL(std::string name = {});
    // Created with a database or transaction owner: bound to it.
    explicit TIBSQL(TIBDatabase& owner, std::string name = {});
    explicit TIBSQL(TIBTransaction& owner, std::string name = {});
    // Closes an open cursor and drops the server statement (errors swallowed), then leaves
    // the database's and transaction's lists.
    ~TIBSQL();
    TIBSQL(const TIBSQL&) = delete;
    TIBSQL& operator=(const TIBSQL&) = delete;

    // ---- Binding ----
    TIBBase& Base() noexcept { return base_; }
    TIBDatabase* Database() const noexcept { return base_.Database(); }
    // Also attaches the database's default transaction when none is bound.
    void SetDatabase(TIBDatabase* database) { base_.AttachDatabase(database); }
    TIBTransaction* Transaction() const noexcept { return base_.Transaction(); }
    // Also attaches the transaction's default database when none is bound.
    void SetTransaction(TIBTransaction* transaction) { base_.AttachTransaction(transaction); }
    // The binding's handles: client errors 24/15 and 25/18 when they are not usable.
    DbHandle* DBHandle() { return base_.DatabaseHandle(); }
    TrHandle* TRHandle() { return base_.TransactionHandle(); }
    // The server statement handle (0 when none).
    StmtHandle* Handle() noexcept { return handle_.Address(); }

    // ---- Text ----
    TSQLText& SQL() noexcept { return sql_; }
    const TSQLText& SQL() const noexcept { return sql_; }
    // Assigns another list: nothing happens when the joined texts are equal.
    void SetSQL(const std::vector<std::string>& lines);
    // The text handed to the server by the last preparation (lines).
    const std::vector<std::string>& ProcessedSQL() const noexcept { return processedSQL_; }
    // Fired before every change of the text, before the server statement is dropped.
    std::function<void()> OnSQLChanging;

    // Whether preparation scans the text for parameter markers (default true).
    bool ParamCheck() const noexcept { return paramCheck_; }
    void SetParamCheck(bool value) noexcept { paramCheck_ = value; }
    // Whether RunStatement of a select fetches the first row (default true).
    bool GoToFirstRecordOnExecute() const noexcept { return goToFirstRecordOnExecute_; }
    void SetGoToFirstRecordOnExecute(bool value) noexcept { goToFirstRecordOnExecute_ = value; }
    // The component name followed by 8 pseudo-random digits; fixed at creation.
    const std::string& CursorName() const noexcept { return cursorName_; }
    const std::string& Name() const noexcept { return name_; }

    // ---- Life cycle ----
    // Prepares the text when not prepared: allocates, prepares in the database's dialect,
    // learns the type, describes parameters and columns. "IBSQL Open", the binding checks,
    // "Empty query", "Not permitted" (types 6, 7, 9), "Unknown error", server errors; any
    // failure after the checks drops the server statement.
    void PrepareStatement();
    // Prepares when needed, then executes by type: a select opens its cursor (and fetches
    // the first row when GoToFirstRecordOnExecute), an execute procedure fills CurrentRow.
    void RunStatement();
    // The next row of the open cursor in CurrentRow, or null at the end. "IBSQL Closed"
    // without an open cursor; a failed fetch closes the cursor and raises.
    TIBXSQLDA* FetchNext();
    // Closes an open select cursor; always resets the row state. The statement stays prepared.
    void CloseCursor();
    // Drops the server statement and unprepares (the areas keep their buffers for reuse).
    void ReleaseHandle();

    // ---- State ----
    std::uint8_t StatementType() const noexcept { return statementType_; }
    bool Prepared() const noexcept { return prepared_; }
    bool Open() const noexcept { return open_; }
    // True at the end of the rows or when no cursor is open.
    bool AtEnd() const noexcept { return atEnd_ || !open_; }
    // True while no row has been fetched since the cursor opened.
    bool AtStart() const noexcept { return atStart_; }
    // Rows fetched since the cursor was opened.
    std::int32_t RecordCount() const noexcept { return recordCount_; }

    // ---- Areas ----
    // The parameter area; reading it prepares the statement first.
    TIBXSQLDA& Parameters();
    // The column area; after a fetch it holds the row's values.
    TIBXSQLDA& CurrentRow() noexcept { return currentRow_; }
    // Client error 46 "Field "%s" not found" (the index in decimal) when out of range.
    TIBXSQLVAR& ColumnAt(int index);
    // Position of the column the name finds, or -1.
    int ColumnIndexOf(std::string_view name) const;
    // The column area's single-table name for a prepared select; else empty.
    std::string SingleTableName() const;
    // Rows inserted, updated or deleted by the last execution of an insert, update or
    // delete; -1 for other statements and when not prepared.
    int AffectedRowCount();

  private:
    void Init(std::string name);
    void SQLChanging();
    void OnBeforeDatabaseDisconnect();
    void OnBeforeTransactionEnd();
    void RequireNotOpen() const;
    void RequireOpen() const;
    void RequireStatement();
    void ParseParameters();
    void DescribeParameters(unsigned short dialect);
    void DescribeColumns(unsigned short dialect);
    void ExecuteProcedure(unsigned short dialect);
    void OpenCursor(unsigned short dialect);
    unsigned short Dialect() const;
    void* InputArea() noexcept;
    void ResetRowState() noexcept;

    TIBBase base_;
    std::string name_;
    TSQLText sql_;
    std::vector<std::string> processedSQL_;
    TIBXSQLDA parameters_;
    TIBXSQLDA currentRow_;
    TStatementHandle handle_;
    std::uint8_t statementType_ = SQLUnknown;
    bool prepared_ = false;
    bool open_ = false;
    bool atEnd_ = false;
    bool atStart_ = false;
    std::int32_t recordCount_ = 0;
    std::string cursorName_;
    bool paramCheck_ = true;
    bool goToFirstRecordOnExecute_ = true;
};

} // namespace ibclient

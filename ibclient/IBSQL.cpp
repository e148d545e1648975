// TIBSQL: preparing a statement text on the bound database, classifying it by the server's
// type code, describing its parameters and columns, executing it by type, fetching rows from
// a select cursor, and the parameter-marker scan of statement texts.
#include "ibclient/IBSQL.h"

#include "ibclient/Binding.h"
#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBTransaction.h"
#include "ibclient/XSQLDALayout.h"

#include <array>
#include <limits>
#include <random>
#include <type_traits>

namespace ibclient {

static_assert(std::is_same_v<StmtHandle, isc_stmt_handle>);
static_assert(std::is_same_v<DbHandle, isc_db_handle>);
static_assert(std::is_same_v<TrHandle, isc_tr_handle>);

namespace {

// Status codes the statement recognises.
constexpr StatusEntry kInvalidRequest = 335544327;       // isc_bad_req_handle
constexpr StatusEntry kUnpreparedStatement = 335544711;  // isc_unprepared_stmt
constexpr StatusEntry kBadStatementHandle = 335544485; // isc_bad_stmt_handle
constexpr StatusEntry kInvalidCursor = 335544572;      // isc_dsql_cursor_err
constexpr StatusEntry kCursorCloseError = 335544577;   // isc_dsql_cursor_close_err
constexpr StatusEntry kEndOfCursor = 100;              // isc_dsql_fetch: no more rows

// Decimal renderings of random non-negative integers, cut to 8 characters.
std::string RandomDigits() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> distribution(0, std::numeric_limits<int>::max());
    std::string digits;
    while (digits.size() < 8)
        digits += std::to_string(distribution(generator));
    digits.resize(8);
    return digits;
}

[[noreturn]] void RaiseParseError(const char* detail) {
    RaiseClientError(ceSQLParseError, {detail});
}

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$';
}

} // namespace

// ---- Lines ----

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TSQLText::Changing() const {
    if (onChanging_)
        onChanging_();
}

void TSQLText::SetText(std::string_view text) {
    Changing();
    lines_ = SplitLines(text);
}

void TSQLText::Assign(std::vector<std::string> lines) {
    Changing();
    lines_ = std::move(lines);
}

void TSQLText::Add(std::string line) {
    Changing();
    lines_.push_back(std::move(line));
}

void TSQLText::Insert(std::size_t index, std::string line) {
    if (index > lines_.size())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    Changing();
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
}

void TSQLText::Set(std::size_t index, std::string line) {
    if (index >= lines_.size())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    Changing();
    lines_[index] = std::move(line);
}

void TSQLText::Delete(std::size_t index) {
    if (index >= lines_.size())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    Changing();
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TSQLText::Clear() {
    if (lines_.empty())
        return;
    Changing();
    lines_.clear();
}

// ---- Parameter markers ----

TParsedSQL ParseSQLParameters(std::string_view sql) {
    enum class State { Default, Comment, Quote, Parameter, QuotedParameter };
    TParsedSQL result;
    std::string& out = result.Text;
    State state = State::Default;
    char quote = 0;
    std::string name;
    const std::size_t n = sql.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = sql[i];
        const char next = i + 1 < n ? sql[i + 1] : '\0';
        // Records the name; the character after its end is copied at once, unexamined.
        const auto endName = [&] {
            result.Names.push_back(name);
            if (next != '\0')
                out += next;
            ++i;
            state = State::Default;
        };
        switch (state) {
        case State::Default:
            if (c == '\'' || c == '"') {
                out += c;
                quote = c;
                state = State::Quote;
            } else if (c == ':' || c == '?') {
                out += '?';
                name.clear();
                state = State::Parameter;
            } else if (c == '/' && next == '*') {
                out += "/*";
                ++i;
                state = State::Comment;
            } else {
                out += c;
            }
            break;
        case State::Comment:
            if (next == '\0')
                RaiseParseError("EOF in comment detected");
            // The slash after the asterisk is handled (and copied) by the default state.
            if (c == '*' && next == '/')
                state = State::Default;
            out += c;
            break;
        case State::Quote:
            if (next == '\0')
                RaiseParseError("EOF in string detected");
            if (c == quote && next == quote) {
                out += c;
                out += next;
                ++i;
            } else {
                out += c;
                if (c == quote)
                    state = State::Default;
            }
            break;
        case State::Parameter:
            if (name.empty() && c == '"') {
                state = State::QuotedParameter;
            } else if (IsNameChar(c)) {
                name += c;
                if (!IsNameChar(next))
                    endName();
            } else {
                RaiseParseError("Parameter name expected");
            }
            break;
        case State::QuotedParameter:
            if (c == '"') {
                endName();  // the closing quote itself is dropped
            } else {
                name += c;
            }
            break;
        }
    }
    // A marker at the very end has no name; an unterminated quoted name no end.
    if (state == State::Parameter)
        RaiseParseError("Parameter name expected");
    if (state == State::QuotedParameter)
        RaiseParseError("EOF in string detected");
    return result;
}

// ---- Creation and destruction ----

TIBSQL::TIBSQL(std::string name)
    : base_(this, TIBOwnerKind::Statement), sql_([this] { SQLChanging(); }), parameters_(this),
      currentRow_(this) {
    Init(std::move(name));
}

TIBSQL::TIBSQL(TIBDatabase& owner, std::string name) : TIBSQL(std::move(name)) {
    SetDatabase(&owner);
}

TIBSQL::TIBSQL(TIBTransaction& owner, std::string name) : TIBSQL(std::move(name)) {
    SetTransaction(&owner);
}

void TIBSQL::Init(std::string name) {
    RequireClientLibrary();
    base_.BeforeDatabaseDisconnect = [this] { OnBeforeDatabaseDisconnect(); };
    base_.BeforeTransactionEnd = [this] { OnBeforeTransactionEnd(); };
    name_ = std::move(name);
    cursorName_ = name_ + RandomDigits();
}

TIBSQL::~TIBSQL() {
    try {
        if (open_)
            CloseCursor();
    } catch (...) { // NOLINT(bugprone-empty-catch): destructors never throw
    }
    try {
        if (handle_.Held())
            ReleaseHandle();
    } catch (...) { // NOLINT(bugprone-empty-catch)
    }
}

// ---- Notifications ----

void TIBSQL::SQLChanging() {
    if (OnSQLChanging)
        OnSQLChanging();
    if (handle_.Held())
        ReleaseHandle();
}

void TIBSQL::OnBeforeTransactionEnd() {
    if (open_)
        CloseCursor();
}

void TIBSQL::OnBeforeDatabaseDisconnect() {
    if (!handle_.Held())
        return;
    // The handle belongs to the attachment that goes away: it is released even when closing
    // the cursor fails, or the next RunStatement would use it instead of preparing again.
    try {
        CloseCursor();
    } catch (...) {
        try {
            ReleaseHandle();
        } catch (...) { // NOLINT(bugprone-empty-catch): the close's error is the one reported
        }
        throw;
    }
    ReleaseHandle();
}

void TIBSQL::SetSQL(const std::vector<std::string>& lines) {
    if (JoinLines(lines) == sql_.Text())
        return;
    sql_.Assign(lines);
}

// ---- Checks ----

void TIBSQL::RequireNotOpen() const {
    if (open_)
        RaiseClientError(ceSQLOpen);
}

void TIBSQL::RequireOpen() const {
    if (!open_)
        RaiseClientError(ceSQLClosed);
}

void TIBSQL::RequireStatement() {
    base_.RequireTransaction();
    if (!handle_.Held())
        RaiseClientError(ceInvalidStatementHandle);
}

unsigned short TIBSQL::Dialect() const {
    const TIBDatabase* database = Database();
    return static_cast<unsigned short>(database != nullptr ? database->SQLDialect() : 3);
}

void* TIBSQL::InputArea() noexcept {
    // An area without items (never scanned, or a text without markers) passes no record; a
    // record kept from an earlier text would describe buffers of that text.
    return parameters_.ItemCount() > 0 ? parameters_.RawArea() : nullptr;
}

void TIBSQL::ResetRowState() noexcept {
    atEnd_ = false;
    atStart_ = false;
    open_ = false;
    recordCount_ = 0;
}

// ---- Preparation ----

void TIBSQL::ParseParameters() {
    TParsedSQL parsed = ParseSQLParameters(sql_.Text());
    parameters_.SetItemCount(static_cast<int>(parsed.Names.size()));
    for (std::size_t i = 0; i < parsed.Names.size(); ++i) {
        parameters_.AssignName(parsed.Names[i], static_cast<int>(i));
    }
    processedSQL_ = SplitLines(parsed.Text);
}

void TIBSQL::DescribeParameters(unsigned short dialect) {
    if (parameters_.HasRecord()) {
        const StatusEntry result = ClientApi().isc_dsql_describe_bind(
            StatusVector(), Handle(), dialect, XSQLDAOf(parameters_));
        if (result > 0)
            RaiseStatusError();
    }
    parameters_.InitializeItems();
}

void TIBSQL::DescribeColumns(unsigned short dialect) {
    const auto& api = ClientApi();
    currentRow_.SetItemCount(1);
    CheckStatus(api.isc_dsql_describe(StatusVector(), Handle(), dialect, XSQLDAOf(currentRow_)),
                true);
    const XSQLDA* area = XSQLDAOf(currentRow_);
    if (area->sqld > area->sqln) {
        currentRow_.SetItemCount(area->sqld);
        CheckStatus(api.isc_dsql_describe(StatusVector(), Handle(), dialect, XSQLDAOf(currentRow_)),
                    true);
    } else if (area->sqld == 0) {
        currentRow_.SetItemCount(0);
    }
    currentRow_.InitializeItems();
}

void TIBSQL::PrepareStatement() {
    RequireNotOpen();
    base_.RequireDatabase();
    base_.RequireTransaction();
    if (prepared_)
        return;
    if (sql_.Empty())
        RaiseClientError(ceEmptyQuery);
    if (paramCheck_) {
        ParseParameters();
    } else {
        processedSQL_ = sql_.Lines();
    }
    if (processedSQL_.empty())
        RaiseClientError(ceEmptyQuery);

    const std::string text = JoinLines(processedSQL_);
    // The prepare hands the text over zero-terminated: a NUL byte would silently cut off
    // everything after it (a WHERE clause, say), so such a text is refused before it is sent.
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos)
        RaiseClientError(ceNulInSQLText, {std::to_string(nul + 1)});

    const auto& api = ClientApi();
    const unsigned short dialect = Dialect();
    try {
        CheckStatus(api.isc_dsql_alloc_statement2(StatusVector(), DBHandle(), Handle()), true);
        CheckStatus(api.isc_dsql_prepare(StatusVector(), TRHandle(), Handle(), 0, text.c_str(),
                                         dialect, nullptr),
                    true);

        const char typeItem = isc_info_sql_stmt_type;
        std::array<char, 8> reply{};
        CheckStatus(api.isc_dsql_sql_info(StatusVector(), Handle(), 1, &typeItem,
                                          static_cast<short>(reply.size()), reply.data()),
                    true);
        if (reply[0] != isc_info_sql_stmt_type)
            RaiseClientError(ceUnknownError);
        const ISC_LONG length = api.isc_vax_integer(&reply[1], 2);
        if (length < 1 || length > 4)
            RaiseClientError(ceUnknownError);
        statementType_ = static_cast<std::uint8_t>(
            api.isc_vax_integer(&reply[3], static_cast<short>(length)) & 0xFF);

        switch (statementType_) {
        case SQLGetSegment:
        case SQLPutSegment:
        case SQLStartTransaction:
            ReleaseHandle();
            RaiseClientError(ceNotPermitted);
        case SQLSelect:
        case SQLExecProcedure:
        case SQLSelectForUpdate:
            DescribeParameters(dialect);
            DescribeColumns(dialect);
            break;
        case SQLInsert:
        case SQLUpdate:
        case SQLDelete:
        case SQLDDL:
        case SQLCommit:
        case SQLRollback:
        case SQLSetGenerator:
            DescribeParameters(dialect);
            break;
        default:
            break;
        }
        prepared_ = true;
    } catch (...) {
        if (handle_.Held()) {
            try {
                ReleaseHandle();
            } catch (...) { // NOLINT(bugprone-empty-catch): the preparation's error goes on
            }
        }
        throw;
    }
}

// ---- Execution ----

void TIBSQL::OpenCursor(unsigned short dialect) {
    const auto& api = ClientApi();
    CheckStatus(api.isc_dsql_execute2(StatusVector(), TRHandle(), Handle(), dialect,
                                      static_cast<XSQLDA*>(InputArea()), nullptr),
                true);
    if (api.isc_dsql_set_cursor_name(StatusVector(), Handle(), cursorName_.c_str(), 0) > 0) {
        // The server opened the cursor already: close it again, so that the statement is
        // not left with a server cursor that it does not know of.
        try {
            RaiseStatusError();
        } catch (...) {
            api.isc_dsql_free_statement(StatusVector(), Handle(), DSQL_close);
            throw;
        }
    }
    open_ = true;
    atStart_ = true;
    atEnd_ = false;
    recordCount_ = 0;
    if (goToFirstRecordOnExecute_)
        FetchNext();
}

void TIBSQL::ExecuteProcedure(unsigned short dialect) {
    const auto& api = ClientApi();
    auto* input = static_cast<XSQLDA*>(InputArea());
    auto* output = currentRow_.ItemCount() > 0 ? XSQLDAOf(currentRow_) : nullptr;
    const StatusEntry result =
        api.isc_dsql_execute2(StatusVector(), TRHandle(), Handle(), dialect, input, output);
    if (result == 0)
        return;
    // Only a call that the server refused to start, because it no longer knows the prepared
    // request, is prepared on the same handle and run once more. Any other failure came from
    // running the procedure or block, and running it again would repeat its work (a
    // generator advanced, a row written in an autonomous transaction) before failing the same
    // way. Firebird 3 keeps running the version of a procedure that the statement was
    // prepared with, even after ALTER, DROP or RECREATE from any attachment, so there the
    // second call never happens.
    if (!StatusVectorContains({kInvalidRequest, kUnpreparedStatement}))
        RaiseStatusError();
    const std::string text = JoinLines(processedSQL_);
    api.isc_dsql_prepare(StatusVector(), TRHandle(), Handle(), 0, text.c_str(), dialect, nullptr);
    CheckStatus(api.isc_dsql_execute2(StatusVector(), TRHandle(), Handle(), dialect, input, output),
                true);
}

void TIBSQL::RunStatement() {
    RequireNotOpen();
    if (!prepared_)
        PrepareStatement();
    RequireStatement();
    const unsigned short dialect = Dialect();
    switch (statementType_) {
    case SQLSelect:
        OpenCursor(dialect);
        break;
    case SQLExecProcedure:
        ExecuteProcedure(dialect);
        break;
    default:
        CheckStatus(ClientApi().isc_dsql_execute(StatusVector(), TRHandle(), Handle(), dialect,
                                                 static_cast<XSQLDA*>(InputArea())),
                    true);
        break;
    }
}

TIBXSQLDA* TIBSQL::FetchNext() {
    if (atEnd_)
        return nullptr;
    RequireOpen();
    const StatusEntry result =
        ClientApi().isc_dsql_fetch(StatusVector(), Handle(), Dialect(), XSQLDAOf(currentRow_));
    if (result == kEndOfCursor || (result != 0 && StatusVectorContains({kInvalidCursor}))) {
        atEnd_ = true;
        return nullptr;
    }
    if (result > 0) {
        // The message is composed before the cursor is closed: the close's own call would
        // overwrite the status vector.
        try {
            RaiseStatusError();
        } catch (...) {
            try {
                CloseCursor();
            } catch (...) { // NOLINT(bugprone-empty-catch): the fetch error goes on
            }
            throw;
        }
    }
    ++recordCount_;
    atStart_ = false;
    return &currentRow_;
}

void TIBSQL::CloseCursor() {
    const bool closeServerCursor = handle_.Held() && statementType_ == SQLSelect && open_;
    ResetRowState();
    if (!closeServerCursor)
        return;
    const StatusEntry result =
        ClientApi().isc_dsql_free_statement(StatusVector(), Handle(), DSQL_close);
    if (StatusVector()[0] == 1 && result > 0 &&
        !StatusVectorContains({kBadStatementHandle, kCursorCloseError})) {
        RaiseStatusError();
    }
}

void TIBSQL::ReleaseHandle() {
    currentRow_.SetItemCount(0);
    parameters_.SetItemCount(0);
    // Dropping the server statement also ends its cursor.
    ResetRowState();
    prepared_ = false;
    if (!handle_.Held())
        return;
    const StatusEntry result =
        ClientApi().isc_dsql_free_statement(StatusVector(), Handle(), DSQL_drop);
    const bool failed = StatusVector()[0] == 1 && result > 0 && result != kBadStatementHandle;
    handle_.Forget();
    if (failed)
        RaiseStatusError();
}

// ---- Areas and results ----

TIBXSQLDA& TIBSQL::Parameters() {
    if (!prepared_)
        PrepareStatement();
    return parameters_;
}

TIBXSQLVAR& TIBSQL::ColumnAt(int index) {
    if (index < 0 || index >= currentRow_.ItemCount()) {
        RaiseClientError(ceFieldNotFound, {std::to_string(index)});
    }
    return currentRow_.ItemAt(index);
}

int TIBSQL::ColumnIndexOf(std::string_view name) const {
    const TIBXSQLVAR* item = currentRow_.FindByName(name);
    return item != nullptr ? item->Position() : -1;
}

std::string TIBSQL::SingleTableName() const {
    return prepared_ && statementType_ == SQLSelect ? currentRow_.SingleTableName() : std::string();
}

int TIBSQL::AffectedRowCount() {
    if (!prepared_)
        return -1;
    const auto& api = ClientApi();
    const char item = isc_info_sql_records;
    std::array<char, 1049> reply{};
    if (api.isc_dsql_sql_info(StatusVector(), Handle(), 1, &item, static_cast<short>(reply.size()),
                              reply.data()) > 0) {
        RaiseStatusError();
    }
    if (reply[0] != isc_info_sql_records)
        return -1;
    // The reply holds one cluster per count (item byte, 2-byte length, value); they are
    // looked up by item rather than by position.
    const std::size_t length = static_cast<std::size_t>(api.isc_vax_integer(&reply[1], 2));
    const std::size_t end = std::min(reply.size(), 3 + length);
    int inserted = -1;
    int updated = -1;
    int deleted = -1;
    for (std::size_t p = 3; p + 3 <= end && reply[p] != isc_info_end;) {
        const char countItem = reply[p];
        const auto valueLength = static_cast<std::size_t>(api.isc_vax_integer(&reply[p + 1], 2));
        if (valueLength > 4 || p + 3 + valueLength > end)
            break;
        const int value = api.isc_vax_integer(&reply[p + 3], static_cast<short>(valueLength));
        if (countItem == isc_info_req_insert_count)
            inserted = value;
        if (countItem == isc_info_req_update_count)
            updated = value;
        if (countItem == isc_info_req_delete_count)
            deleted = value;
        p += 3 + valueLength;
    }
    switch (statementType_) {
    case SQLUpdate:
        return updated;
    case SQLDelete:
        return deleted;
    case SQLInsert:
        return inserted;
    default:
        return -1;
    }
}

} // namespace ibclient

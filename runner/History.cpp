// The history table: the rule for its name, creating and checking it before the script, and
// the look-ups and rows of the statements.
#include "runner/History.h"

#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBSQL.h"
#include "ibclient/IBTransaction.h"
#include "ibclient/IBXSQLDA.h"
#include "ibclient/TextFormat.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "runner/ConnectionParams.h"
#include "runner/RunnerContext.h"
#include "runner/ScriptText.h"

#include <algorithm>
#include <climits>

namespace runner {

namespace {

constexpr int32_t kErrorLevel = 1;
constexpr int32_t kProgressLevel = 5;
// The longest script file name a row keeps (the column's length); longer ones are cut.
constexpr std::size_t kMaxScriptFileLength = 255;
// The longest text that goes to the server as a string parameter, which the server turns into
// the blob itself; a longer one is written as a blob first (more calls of the client library).
constexpr std::size_t kMaxTextParameterLength = 32765;

bool IsAsciiLetter(char c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The statement that `sql` runs in `transaction`, text as given. Parameter markers (":H") are
// looked for only when `parameters` is set: the other texts hold none.
std::unique_ptr<ibclient::TIBSQL> Statement(ibclient::TIBTransaction& transaction,
                                            const std::string& sql, bool parameters) {
    auto statement = std::make_unique<ibclient::TIBSQL>();
    statement->SetTransaction(&transaction);
    statement->SetParamCheck(parameters);
    statement->SQL().SetText(sql);
    return statement;
}

// Closes the cursor of a look-up on every way out of it.
class CursorClose {
public:
    explicit CursorClose(ibclient::TIBSQL& statement) : statement_(statement) {}
    ~CursorClose() {
        try {
            statement_.CloseCursor();
        } catch (...) {
            // The error that left the look-up is the one to report.
        }
    }
    CursorClose(const CursorClose&) = delete;
    CursorClose& operator=(const CursorClose&) = delete;

private:
    ibclient::TIBSQL& statement_;
};

// The last path component of `path`, in the connection character set, cut to the column.
std::string ScriptFileName(const std::string& path) {
    std::string name = DecodeScript(path.substr(platform::ExtractFilePath(path).size())).Text;
    name.resize(std::min(name.size(), kMaxScriptFileLength));
    return name;
}

}  // namespace

bool IsHistoryTableName(std::string_view name) noexcept {
    if (name.empty() || name.size() > kMaxHistoryTableNameLength || !IsAsciiLetter(name[0])) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '$';
    });
}

THistory::THistory(ibclient::TIBTransaction& transaction) : transaction_(transaction) {}

THistory::~THistory() = default;

void THistory::Prepare(const RunnerContext& context) {
    const std::string select = "SELECT STATEMENT_TEXT, APPLIED_AT FROM " + table_ +
                               " WHERE STATEMENT_HASH = :H AND OCCURRENCE = :N";
    lookup_ = Statement(transaction_, select, true);
    const std::string insert = "INSERT INTO " + table_ +
                               " (STATEMENT_HASH, OCCURRENCE, FIRST_LINE, SCRIPT_FILE, "
                               "APPLIED_AT, STATEMENT_TEXT) VALUES (:H, :N, :L, :F, "
                               "CURRENT_TIMESTAMP, ";
    record_ = Statement(transaction_,
                        insert + "CAST(:T AS VARCHAR(" + std::to_string(kMaxTextParameterLength) +
                            ") CHARACTER SET WIN1251))",
                        true);
    recordLong_ = Statement(transaction_, insert + ":T)", true);
    // Read committed without record versions, waiting: a row written by a transaction that
    // has not ended yet (a commit the server is still finishing) is waited for, not passed
    // over, however long the statements' own lock waits may take.
    settleTransaction_ = std::make_unique<ibclient::TIBTransaction>();
    settleTransaction_->SetDefaultDatabase(transaction_.DefaultDatabase());
    std::string params = "read_committed,no_rec_version,wait,read";
    if (const std::string lockTimeout = LockTimeoutParam(context.Settings); !lockTimeout.empty()) {
        params += "," + lockTimeout;
    }
    settleTransaction_->Params().SetCommaText(params);
    settleLookup_ = Statement(*settleTransaction_, select, true);
}

bool THistory::Open(RunnerContext& context) {
    const std::string& name = context.Settings.HistoryTable;
    if (name.empty()) {
        return true;
    }
    try {
        if (!IsHistoryTableName(name)) {
            throw ibclient::Exception("'" + name +
                                      "' is no table name: a letter, then letters, digits, _ or "
                                      "$, at most " +
                                      std::to_string(kMaxHistoryTableNameLength));
        }
        table_ = platform::AsciiUpperCase(name);
        Prepare(context);

        // The name is a checked identifier, so it can stand in the texts as it is.
        const auto exists = Statement(
            transaction_,
            "SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = '" + table_ + "'", false);
        exists->RunStatement();
        const bool missing = exists->CurrentRow()[0].GetInt32() == 0;
        exists->CloseCursor();
        if (missing) {
            // The script's texts are Windows-1251, the connection's character set: the columns
            // keep them byte for byte whatever the database's own character set is. The unique
            // key makes a second row of the same statement impossible: a transaction that tries
            // waits for the one holding it and then fails instead of applying it twice.
            Statement(transaction_,
                      "CREATE TABLE " + table_ +
                          " (STATEMENT_HASH CHAR(16) CHARACTER SET ASCII NOT NULL, "
                          "OCCURRENCE INTEGER NOT NULL, FIRST_LINE INTEGER, "
                          "SCRIPT_FILE VARCHAR(255) CHARACTER SET WIN1251, APPLIED_AT TIMESTAMP, "
                          "STATEMENT_TEXT BLOB SUB_TYPE TEXT CHARACTER SET WIN1251)",
                      false)
                ->RunStatement();
            Statement(transaction_,
                      "CREATE UNIQUE INDEX " + table_ + "_KEY ON " + table_ +
                          " (STATEMENT_HASH, OCCURRENCE)",
                      false)
                ->RunStatement();
            transaction_.Commit();
            transaction_.Start();
            context.LogMessage(kProgressLevel, " history table " + table_ +
                                                   " created in database " +
                                                   context.Database->DatabaseName());
        }
        // Written and read once, then undone: a table that this user may not write, or that
        // is not a history table, fails here rather than at every statement.
        const TStatementKey probe{"", platform::HexHash(""), 0};
        Record(context, probe);
        std::string appliedAt;
        Find(*lookup_, probe, appliedAt);
        transaction_.Rollback();
        transaction_.Start();
        ReadAppliedKeys();
        return true;
    } catch (const std::exception& e) {
        context.ErrorFlag = true;
        context.LogMessage(kErrorLevel, " error: history table " + name +
                                            " cannot be created or written in database " +
                                            context.Database->DatabaseName() +
                                            "\r\nerror message: " + e.what());
        if (transaction_.Active()) {
            try {
                transaction_.Rollback();
            } catch (...) {
                // The database is closed next, which drops what is left.
            }
        }
        return false;
    }
}

void THistory::ReadAppliedKeys() {
    const auto keys =
        Statement(transaction_, "SELECT STATEMENT_HASH, OCCURRENCE FROM " + table_, false);
    keys->RunStatement();
    const CursorClose closing(*keys);
    for (bool row = !keys->AtEnd(); row; row = keys->FetchNext() != nullptr) {
        appliedKeys_.insert(keys->CurrentRow()[0].GetText() + ":" +
                            std::to_string(keys->CurrentRow()[1].GetInt32()));
    }
}

TStatementKey THistory::NextKey(std::string_view trimmed) {
    if (!Enabled()) {
        return {};
    }
    auto found = occurrences_.find(trimmed);
    if (found == occurrences_.end()) {
        found = occurrences_.emplace(std::string(trimmed), 0).first;
    }
    return TStatementKey{std::string(trimmed), platform::HexHash(trimmed), ++found->second};
}

bool THistory::Find(ibclient::TIBSQL& lookup, const TStatementKey& key, std::string& appliedAt) {
    ibclient::TIBXSQLDA& parameters = lookup.Parameters();
    parameters.ItemByName("H").SetText(key.Hash);
    parameters.ItemByName("N").SetInt32(key.Occurrence);
    lookup.RunStatement();
    const CursorClose closing(lookup);
    // The key is unique: one row at most. A row of another text with the same hash and
    // occurrence (64-bit hashes make that all but impossible) is not this statement's; the
    // statement then fails on the key instead of being skipped.
    if (lookup.AtEnd() || lookup.CurrentRow()[0].GetText() != key.Text) {
        return false;
    }
    appliedAt =
        ibclient::FormatDateTime("dd-mm-yyyy hh:nn:ss", lookup.CurrentRow()[1].GetDateTime());
    return true;
}

bool THistory::SkipApplied(const RunnerContext& context, const TStatementKey& key,
                           const std::string& statement) {
    std::string appliedAt;
    if (!Enabled() || !appliedKeys_.contains(key.Hash + ":" + std::to_string(key.Occurrence)) ||
        !Find(*lookup_, key, appliedAt)) {
        return false;
    }
    context.LogMessage(kProgressLevel,
                       " skip SQL, applied " + appliedAt + ": \r\n" + statement + "\r\n");
    return true;
}

void THistory::Record(const RunnerContext& context, const TStatementKey& key) {
    if (!Enabled()) {
        return;
    }
    ibclient::TIBSQL& record = key.Text.size() <= kMaxTextParameterLength ? *record_ : *recordLong_;
    ibclient::TIBXSQLDA& parameters = record.Parameters();
    parameters.ItemByName("H").SetText(key.Hash);
    parameters.ItemByName("N").SetInt32(key.Occurrence);
    parameters.ItemByName("L").SetInt32(
        static_cast<int32_t>(std::min<std::size_t>(context.StatementLine, INT32_MAX)));
    parameters.ItemByName("F").SetText(ScriptFileName(context.ScriptPath));
    parameters.ItemByName("T").SetText(key.Text);
    record.RunStatement();
}

bool THistory::SettledAfterFailure(const RunnerContext& context, const TStatementKey& key,
                                   const std::string& statement, const std::string& error,
                                   bool commitInDoubt) {
    if (!Enabled()) {
        if (commitInDoubt) {
            context.LogMessage(kProgressLevel,
                               " commit in doubt: without a history table the SQL runs again "
                               "and may be applied twice: \r\n" +
                                   statement + "\r\nerror message: " + error + "\r\n");
        }
        return false;
    }
    settleTransaction_->Start();
    std::string appliedAt;
    bool found = false;
    try {
        found = Find(*settleLookup_, key, appliedAt);
        settleTransaction_->Commit();
    } catch (...) {
        if (settleTransaction_->Active()) {
            settleTransaction_->FinishTransaction(ibclient::TARollback, true);
        }
        throw;
    }
    if (found) {
        context.LogMessage(kProgressLevel, " SQL applied " + appliedAt +
                                               " before the error, not run again: \r\n" +
                                               statement + "\r\nerror message: " + error + "\r\n");
    }
    return found;
}

}  // namespace runner

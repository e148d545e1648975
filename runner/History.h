// The history table: one row per statement of the script that the runner has applied to a
// database, written in the statement's own transaction before its commit, so that the row
// exists exactly when the statement was committed. Before a statement runs, its row says it
// was applied already (it is skipped); after a failure, the row says whether the failed
// attempt was committed after all (a commit whose answer was lost with the connection).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace ibclient {
class TIBSQL;
class TIBTransaction;
}  // namespace ibclient

namespace runner {

struct RunnerContext;

// The longest name the history table may have: its unique index is named after it with
// "_KEY", within the server's 31 characters.
constexpr std::size_t kMaxHistoryTableNameLength = 27;

// True when `name` can name the history table: a letter, then letters, digits, "_" or "$",
// at most kMaxHistoryTableNameLength in all. Such a name can only stand for itself in a
// statement (the connection's SQL dialect 1 knows no quoted names), so it is pasted as it is;
// the server reads it in upper case.
bool IsHistoryTableName(std::string_view name) noexcept;

// What identifies a statement of the script: its text as written (trimmed, before variables
// are substituted) and the how-manieth statement of that same text it is in the script. A
// hash of the text finds the row; the text decides whether it is the statement's.
struct TStatementKey {
    std::string Text;
    // The text's 64-bit FNV-1a hash in 16 hexadecimal digits.
    std::string Hash;
    // 1 for the first statement with this text, 2 for the second, and so on.
    int32_t Occurrence = 0;
};

// The history of one database's script run. Without a HistoryTable in the settings every
// operation does nothing and finds nothing, and the run is what it was without one.
class THistory {
public:
    // Works through `transaction`, the runner's transaction object, and its database.
    explicit THistory(ibclient::TIBTransaction& transaction);
    ~THistory();
    THistory(const THistory&) = delete;
    THistory& operator=(const THistory&) = delete;

    // Before the script: creates the table when it is missing (in a transaction of its own,
    // committed), and checks that it can be read and written (a row written and rolled back).
    // False when it cannot: ErrorFlag is set, a level-1 entry says why, no transaction is left
    // active, and the script must not run. The runner's transaction must be active on entry;
    // it is active again after a success.
    bool Open(RunnerContext& context);

    // The key of the next statement whose trimmed text is `trimmed`; counts its occurrence.
    TStatementKey NextKey(std::string_view trimmed);

    // True when the row of `key` shows the statement applied (the keys of the rows are read
    // once, when the table is opened; a row with this key is read in the runner's active
    // transaction); the level-5 entry then says when, and the statement must not run.
    bool SkipApplied(const RunnerContext& context, const TStatementKey& key,
                     const std::string& statement);

    // Writes the row of `key` in the runner's active transaction, before the statement runs.
    void Record(const RunnerContext& context, const TStatementKey& key);

    // After the attempt failed with `error` and the connection was opened again: true when
    // the row of `key` shows that the failed attempt was committed all the same (logged at
    // level 5; the statement is not run again). Looks in a transaction of its own that waits
    // for a transaction still holding the row, so that a commit that the server is still
    // finishing is seen. The runner's transaction is left as it was. Without a history table
    // a commit in doubt (`commitInDoubt`) is logged as one that may run twice.
    bool SettledAfterFailure(const RunnerContext& context, const TStatementKey& key,
                             const std::string& statement, const std::string& error,
                             bool commitInDoubt);

private:
    bool Enabled() const noexcept { return !table_.empty(); }
    void Prepare(const RunnerContext& context);
    void ReadAppliedKeys();
    // Whether a row of `key` is visible through `lookup`; its APPLIED_AT in `appliedAt`.
    static bool Find(ibclient::TIBSQL& lookup, const TStatementKey& key, std::string& appliedAt);

    ibclient::TIBTransaction& transaction_;
    // The table's name in upper case, as the server keeps it; empty without a history table.
    std::string table_;
    std::map<std::string, int32_t, std::less<>> occurrences_;
    // The hash and occurrence ("HASH:N") of every row the table held when it was opened: a
    // statement of no row here is not looked up.
    std::set<std::string> appliedKeys_;
    // Declared before the statements, so that they leave its list before it goes.
    std::unique_ptr<ibclient::TIBTransaction> settleTransaction_;
    std::unique_ptr<ibclient::TIBSQL> lookup_;
    std::unique_ptr<ibclient::TIBSQL> settleLookup_;
    // The row of a statement whose text fits a string parameter, and of a longer one.
    std::unique_ptr<ibclient::TIBSQL> record_;
    std::unique_ptr<ibclient::TIBSQL> recordLong_;
};

}  // namespace runner

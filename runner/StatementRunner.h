// The statement runner: executes one statement of the upgrade script in its own transaction,
// with one rollback-reconnect-retry when it fails, and hands VAR declarations to the script
// variables. Also the objects one script run works with.
#pragma once

#include "runner/History.h"
#include "runner/ScriptVariables.h"

#include <memory>
#include <optional>
#include <string>

namespace ibclient {
class TIBQuery;
class TIBSQL;
class TIBTransaction;
}  // namespace ibclient

namespace runner {

struct RunnerContext;

// The objects of one script run (one database): the statement object that executes the SQL
// statements, the variable list and the query object that computes SELECT-valued
// declarations, and the history of the statements. Created in that order; released history
// and variable list first, then the statement object, then the query object, also when the
// creation fails half-way.
class TScriptRun {
public:
    // Creates the objects and binds the statement object (with ParamCheck off), the query
    // object and the history to `transaction`, and so to its default database.
    explicit TScriptRun(ibclient::TIBTransaction& transaction);
    ~TScriptRun();
    TScriptRun(const TScriptRun&) = delete;
    TScriptRun& operator=(const TScriptRun&) = delete;

    ibclient::TIBSQL& Statement() noexcept { return *statement_; }
    ibclient::TIBQuery& Query() noexcept { return *query_; }
    TScriptVariables& Variables() noexcept { return *variables_; }
    THistory& History() noexcept { return *history_; }

private:
    // Declared in reverse order of release: members are destroyed from the last one up.
    std::unique_ptr<ibclient::TIBQuery> query_;
    std::unique_ptr<ibclient::TIBSQL> statement_;
    std::unique_ptr<TScriptVariables> variables_;
    std::unique_ptr<THistory> history_;
};

// Handles one collected statement (lines joined by CR LF, untrimmed). A declaration goes to
// RunDeclaration; a blank statement does nothing; a statement that the history shows applied
// is skipped (logged at level 5); any other statement is logged at level 5 (and the text sent
// at level 6), recorded in the history, executed and committed, and on failure rolled back and
// the connection reopened; unless the history then shows that the failed attempt was committed
// after all, the statement is run once more. When the retry fails too, ErrorFlag is set and
// the first error's message is logged at level 1. A new transaction is started after every SQL
// statement. Raises on a malformed declaration, a failing declaration query, a failing
// rollback after a failed retry and a failing start of the next transaction.
void ExecuteStatement(RunnerContext& context, TScriptRun& run, const std::string& statement);

// Records a statement that did not run: sets ErrorFlag, counts it in FailedStatements, logs
// the level-1 " error: there was an error during execution SQL: " entry with the statement,
// `message` and the statement's location (StatementLocation), and notifies.
void ReportFailedStatement(RunnerContext& context, const std::string& statement,
                           const std::string& message);

// The value of a SELECT-valued declaration: opens `query` with `sql` and returns the text of
// the first field of the first row; a CHAR/VARCHAR value is quoted (QuoteStringValue, NULL
// giving ''), a NULL of any other type is "NULL", a text BLOB is quoted like a VARCHAR and
// any other BLOB is a hexadecimal literal (HexLiteral). nullopt when the query gives no row.
// The query is left open. Its errors propagate.
std::optional<std::string> EvaluateSelect(ibclient::TIBQuery& query, const std::string& sql);

}  // namespace runner

// The statement runner: one statement of the upgrade script, executed and committed on its
// own, with one retry on a fresh connection; VAR declarations go to the script variables.
#include "runner/StatementRunner.h"

#include "ibclient/Errors.h"
#include "ibclient/Fields.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBQuery.h"
#include "ibclient/IBSQL.h"
#include "ibclient/IBTransaction.h"
#include "platform/Text.h"
#include "runner/CompileError.h"
#include "runner/Connection.h"
#include "runner/DeclarationRunner.h"
#include "runner/RunnerContext.h"
#include "runner/StatementLog.h"
#include "runner/Watchdog.h"

namespace runner {

namespace {

constexpr int32_t kErrorLevel = 1;
constexpr int32_t kProgressLevel = 5;

// The second attempt after a failed first one: roll back, reopen the connection (a dead
// attachment is dropped, and a server that went away is waited for), start a transaction,
// run the statement again and commit. The disconnect has unprepared the
// statement, so it is prepared anew on the new attachment from the text it already holds.
// With a history table, the statement's row is looked for on the new connection first: found,
// the failed attempt was committed after all (its commit's answer was lost), and the
// statement is not run again. True when it succeeded or was found so; any error, whatever its
// kind, counts as a failed retry.
bool Retry(RunnerContext& context, ibclient::TIBSQL& sql, THistory& history,
           const TStatementKey& key, const std::string& statement, const std::string& error,
           bool commitInDoubt) noexcept {
    ibclient::TIBTransaction& transaction = *context.Transaction;
    try {
        try {
            EndConnection(context, false);
        } catch (...) {
            // The broken connection the retry is there to heal refuses the rollback and the
            // detach; it has been dropped, and the reconnect attaches anew.
        }
        Reconnect(context);
        if (Guarded(context, kTheHistoryLookup, [&] {
                return history.SettledAfterFailure(context, key, statement, error, commitInDoubt);
            })) {
            return true;
        }
        Guarded(context, kStartingATransaction, [&] { transaction.Start(); });
        Guarded(context, kTheStatement, [&] {
            history.Record(context, key);
            sql.RunStatement();
        });
        Guarded(context, kTheCommit, [&] { transaction.Commit(); });
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

TScriptRun::TScriptRun(ibclient::TIBTransaction& transaction) {
    statement_ = std::make_unique<ibclient::TIBSQL>();
    variables_ = std::make_unique<TScriptVariables>();
    query_ = std::make_unique<ibclient::TIBQuery>();
    statement_->SetTransaction(&transaction);
    statement_->SetParamCheck(false);
    query_->SetTransaction(&transaction);
    history_ = std::make_unique<THistory>(transaction);
}

TScriptRun::~TScriptRun() {
    history_.reset();
    variables_.reset();
    statement_.reset();
    query_.reset();
}

std::optional<std::string> EvaluateSelect(ibclient::TIBQuery& query, const std::string& sql) {
    query.SetActive(false);
    query.SetSQLText(sql);
    query.SetActive(true);
    if (query.FetchedRowCount() <= 0) {
        return std::nullopt;
    }
    // The first column that has a field; a result without any raises "List index out of
    // bounds (0)", which ends the run like any failing declaration query.
    const ibclient::TField& field = *query.Fields()[0];
    if (field.DataType() == ibclient::ftString) {
        // Inner quotation marks doubled: the pasted literal stands for exactly the stored
        // text, and a value read from a table cannot change the statement it is pasted into.
        return QuoteStringValue(field.AsString());
    }
    if (field.IsNull()) {
        return std::string("NULL");
    }
    // BLOB values are literals too: a text pasted bare would become SQL (a "--" in it would
    // comment out the rest of the statement).
    if (field.DataType() == ibclient::ftMemo) {
        return QuoteStringValue(field.AsString());
    }
    if (field.DataType() == ibclient::ftBlob) {
        return HexLiteral(field.AsString());
    }
    return field.AsString();
}

void ReportFailedStatement(RunnerContext& context, const std::string& statement,
                           const std::string& message) {
    context.ErrorFlag = true;
    ++context.FailedStatements;
    context.LogMessage(kErrorLevel, " error: there was an error during execution SQL: \r\n" +
                                        statement + "\r\n" + "error message: " + message + "\r\n" +
                                        StatementLocation(context));
    context.Notify("There was an error during execution SQL: ");
    context.Notify(statement);
    context.Notify("\r\n");
    context.Notify(message);
    context.Notify("\r\n");
}

void ExecuteStatement(RunnerContext& context, TScriptRun& run, const std::string& statement) {
    ThrowIfInterrupted(context);
    const std::string trimmed(platform::Trim(statement));
    if (IsDeclaration(trimmed)) {
        RunDeclaration(context, run, statement, trimmed);
        return;
    }
    if (trimmed.empty()) {
        return;
    }

    THistory& history = run.History();
    const TStatementKey key = history.NextKey(trimmed);
    ibclient::TIBSQL& sql = run.Statement();
    ibclient::TIBTransaction& transaction = *context.Transaction;
    sql.CloseCursor();
    // The statement as written, not trimmed: leading blanks and inner line breaks reach the
    // server as they stand in the script.
    const std::string executed = SubstituteVariables(statement, run.Variables());
    sql.SQL().SetText(executed);

    std::optional<std::string> firstError;
    bool retry = true;
    bool commitInDoubt = false;
    try {
        if (Guarded(context, kTheHistoryLookup,
                    [&] { return history.SkipApplied(context, key, statement); })) {
            return;
        }
        // The log shows the statement as written, with its @name references.
        context.LogMessage(kProgressLevel, " execute SQL: \r\n" + statement + "\r\n");
        LogSentStatement(context, executed);
        Guarded(context, kTheStatement, [&] {
            history.Record(context, key);
            sql.RunStatement();
        });
        Guarded(context, kTheCommit, [&] { transaction.Commit(); });
    } catch (const EStatementTimeout& e) {
        // Not run again: a second run would take as long, and after a cut commit its work may
        // be in the database already.
        firstError = e.Message();
        retry = false;
    } catch (const ibclient::Exception& e) {
        firstError = FailureMessage(context, executed, e);
        commitInDoubt = dynamic_cast<const ibclient::EIBCommitInDoubt*>(&e) != nullptr;
    }

    if (firstError &&
        !(retry && Retry(context, sql, history, key, statement, *firstError, commitInDoubt))) {
        // An interruption during the retry is no failure of the statement.
        ThrowIfInterrupted(context);
        // The first attempt's message: the retry's own failure (often the same error, or a
        // consequence of the reconnect) says less about what is wrong with the statement.
        ReportFailedStatement(context, statement, *firstError);
        // No transaction may stay open with the failed statement's work in it. When the
        // reconnect failed, or a time-out dropped the connection, there is no transaction, and
        // the error here ends the script run.
        transaction.Rollback();
    }
    Guarded(context, kStartingATransaction, [&] { transaction.Start(); });
}

}  // namespace runner

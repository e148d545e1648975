// A VAR declaration run against the database, its work committed at once.
#include "runner/DeclarationRunner.h"

#include "ibclient/IBQuery.h"
#include "ibclient/IBTransaction.h"
#include "runner/RunnerContext.h"
#include "runner/StatementLog.h"
#include "runner/StatementRunner.h"
#include "runner/Watchdog.h"

namespace runner {

void RunDeclaration(RunnerContext& context, TScriptRun& run, const std::string& statement,
                    const std::string& trimmed) {
    ibclient::TIBQuery& query = run.Query();
    HandleDeclaration(statement, trimmed, run.Variables(), [&](const std::string& sql) {
        return Guarded(context, kTheDeclarationQuery, [&] { return EvaluateSelect(query, sql); });
    });
    // HandleDeclaration has raised for a malformed declaration, so this one parses.
    const TDeclaration declaration = ParseDeclaration(statement, trimmed);
    if (declaration.Computed) {
        // The query's work is the declaration's alone (every statement before it was
        // committed): commit it now, so that the rollback before a later statement's retry
        // cannot undo it while the value pasted from it stays in use.
        Guarded(context, kTheCommit, [&] { context.Transaction->Commit(); });
        Guarded(context, kStartingATransaction, [&] { context.Transaction->Start(); });
    }
    LogDeclaredValue(context, declaration.Name, run.Variables().ValueOf(declaration.Name));
}

}  // namespace runner

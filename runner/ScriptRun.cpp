// One run of the upgrade script against the connected database: the run's own statement,
// variable list and query, the history of its statements, the script read statement by
// statement, each one executed.
#include "runner/RunnerContext.h"
#include "runner/ScriptReader.h"
#include "runner/StatementRunner.h"

namespace runner {

void RunScript(RunnerContext& context) {
    // Nothing of one database's run survives into the next: the objects, and the variables
    // declared, are made anew here and released on every way out.
    TScriptRun run(*context.Transaction);
    // A database whose history table cannot be used is not upgraded: without its history the
    // run could apply statements twice.
    if (!run.History().Open(context)) {
        return;
    }
    RunScriptFile(context, [&context, &run](const std::string& statement) {
        ExecuteStatement(context, run, statement);
    });
}

}  // namespace runner

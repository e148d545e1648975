// TEMPORARY stand-ins for the per-database operations of the runner loop, so that the main
// sequence builds and runs before the connection and script code exist. Each function is
// deleted from this file when its real implementation lands; the file goes with the last one.
#include "runner/Connection.h"
#include "runner/RunnerContext.h"
#include "runner/ScriptReader.h"

namespace runner {

// Stand-in: an empty name is an error (as in the real operation); any other name "connects".
bool OpenDatabase(RunnerContext& context, const std::string& databaseName) {
    if (databaseName.empty()) {
        context.ErrorFlag = true;
        return false;
    }
    return true;
}

// Stand-in: nothing to close.
void CloseDatabase(RunnerContext& /*context*/) {}

// Stand-in: runs nothing.
void RunScript(RunnerContext& /*context*/) {}

}  // namespace runner

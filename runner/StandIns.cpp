// TEMPORARY stand-ins for the per-database operations of the runner loop, so that the main
// sequence builds and runs before the connection and script code exist. Each function is
// deleted from this file when its real implementation lands; the file goes with the last one.
#include "runner/RunnerContext.h"
#include "runner/ScriptReader.h"

namespace runner {

// Stand-in: runs nothing.
void RunScript(RunnerContext& /*context*/) {}

}  // namespace runner

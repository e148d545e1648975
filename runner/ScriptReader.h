// Runs the upgrade script once against the database the runner has just connected.
#pragma once

namespace runner {

struct RunnerContext;

// Reads the script file, cuts it into statements at blank lines and executes each one.
// Returns normally when the script was read to its end or could not be opened; raises when
// an error ends the run early.
void RunScript(RunnerContext& context);

}  // namespace runner

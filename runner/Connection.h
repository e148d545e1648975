// Points the runner's single database and transaction objects at one database of the list.
#pragma once

#include <string>

namespace runner {

struct RunnerContext;

// Connects to `databaseName` with the runner's fixed parameters and starts a transaction.
// False when the name is empty or the connection failed (logged, ErrorFlag set).
bool OpenDatabase(RunnerContext& context, const std::string& databaseName);

// Ends the transaction, preferring commit, and disconnects.
void CloseDatabase(RunnerContext& context);

}  // namespace runner

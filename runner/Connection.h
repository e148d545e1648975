// Points the runner's single database and transaction objects at one database of the list.
#pragma once

#include <string>

namespace runner {

struct RunnerContext;

// Connects to `databaseName` with the connection parameters (DatabaseParams) and starts a
// transaction.
// False when the name is empty or the connection failed (logged, ErrorFlag set). What is
// still open of the previous entry is closed first, as CloseDatabase closes, by rollback.
bool OpenDatabase(RunnerContext& context, const std::string& databaseName);

// Ends the transaction, preferring commit (by rollback once the run is interrupted), and
// disconnects. A failure (a lost attachment) drops the connection forced, is logged at level 1
// (unless the run is interrupted, which has an entry of its own) and sets ErrorFlag; it is not
// raised.
void CloseDatabase(RunnerContext& context);

// Ends the transaction (by commit when `commit`, rolled back when that fails; else by
// rollback) and disconnects. When any of it fails, the transaction and the attachment are
// dropped forced, so that the next connect attaches anew, and the error is raised again.
void EndConnection(RunnerContext& context, bool commit);

// Drops the transaction and the attachment forced, without an error: the transaction ends
// without a commit, the statements release their handles and become unprepared, and the
// handle goes, so that the next connect attaches anew. For an attachment that is dead.
void DropConnection(RunnerContext& context) noexcept;

// Connects the database object again. While the server cannot be reached (a network error
// of the client library) it tries again with a growing pause, for up to ReconnectWait
// seconds; any other error is raised at once.
void Reconnect(RunnerContext& context);

}  // namespace runner

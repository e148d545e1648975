// The runner's per-database connection: points the single database and transaction objects at
// one database of the list with the connection parameters, and closes it again.
#include "runner/Connection.h"

#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBTransaction.h"
#include "runner/ConnectionParams.h"
#include "runner/RunnerContext.h"
#include "runner/Watchdog.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

namespace runner {

namespace {

constexpr int kSQLDialect = 1;
constexpr int32_t kErrorLevel = 1;

// Ends the transaction and disconnects (EndConnection); a failure is logged as the failed
// close of the database and counts as an error of the run, but never ends the loop.
void CloseOrReport(RunnerContext& context, bool commit) {
    const std::string name = context.Database->DatabaseName();
    try {
        EndConnection(context, commit);
    } catch (const std::exception& e) {
        context.ErrorFlag = true;
        if (!RunInterrupted(context)) {
            context.LogMessage(kErrorLevel, " error: close database " + name +
                                                " failed\r\nerror message: " + e.what());
        }
    }
}

}  // namespace

bool OpenDatabase(RunnerContext& context, const std::string& databaseName) {
    ibclient::TIBDatabase& database = *context.Database;
    ibclient::TIBTransaction& transaction = *context.Transaction;

    // Nothing of the previous entry may stay open before the name changes.
    CloseOrReport(context, false);
    if (databaseName.empty()) {
        context.ErrorFlag = true;
        return false;
    }
    database.SetDatabaseName(databaseName);
    database.SetLoginPrompt(false);
    database.Params().Assign(DatabaseParams(context.Settings));
    database.SetSQLDialect(kSQLDialect);
    transaction.SetDefaultDatabase(&database);
    // Without a limit the transactions take the server's defaults (no parameters): snapshot,
    // read-write, waiting for locks as long as they are held. With one, the same but a lock
    // is waited for at most that many seconds.
    if (const std::string lockTimeout = LockTimeoutParam(context.Settings); !lockTimeout.empty()) {
        transaction.Params().SetCommaText("concurrency,write,wait," + lockTimeout);
    } else {
        transaction.Params().Clear();
    }
    try {
        database.Open();
    } catch (const ibclient::Exception& e) {
        context.ErrorFlag = true;
        context.LogMessage(kErrorLevel, " error: connect to database " + databaseName +
                                            " failed\r\nerror message: " + e.Message());
        return false;
    }
    transaction.Start();
    return true;
}

void CloseDatabase(RunnerContext& context) {
    // An interrupted run keeps nothing that its last statement left uncommitted.
    CloseOrReport(context, !RunInterrupted(context));
}

void EndConnection(RunnerContext& context, bool commit) {
    ibclient::TIBTransaction& transaction = *context.Transaction;
    ibclient::TIBDatabase& database = *context.Database;
    TWatchGuard guard(context, kClosingTheDatabase);
    try {
        if (transaction.Active()) {
            if (!commit) {
                transaction.Rollback();
            } else {
                try {
                    transaction.Commit();
                } catch (...) {
                    // Whatever stopped the commit, the transaction must not stay open: undo it.
                    transaction.Rollback();
                }
            }
        }
        database.SetConnected(false);
    } catch (...) {
        // A lost attachment refuses every call, and a handle kept from it would make the next
        // connect do nothing.
        DropConnection(context);
        guard.RaiseIfStopped();
        throw;
    }
}

void DropConnection(RunnerContext& context) noexcept {
    ibclient::TIBTransaction& transaction = *context.Transaction;
    ibclient::TIBDatabase& database = *context.Database;
    // Forced, neither step reports what the dead attachment refuses; the guard is for what
    // they might raise on their own.
    try {
        if (transaction.Active()) {
            transaction.FinishTransaction(ibclient::TARollback, true);
        }
        if (database.Connected()) {
            database.CloseConnection(true);
        }
    } catch (...) {
    }
}

void Reconnect(RunnerContext& context) {
    using Clock = std::chrono::steady_clock;
    ibclient::TIBDatabase& database = *context.Database;
    const auto deadline =
        Clock::now() + std::chrono::seconds(std::max(context.Settings.ReconnectWait, 0));
    auto pause = std::chrono::milliseconds(100);
    for (;;) {
        try {
            database.Open();
            return;
        } catch (const ibclient::Exception& e) {
            // An attach that succeeded before the failure would make the next Open do nothing.
            if (database.Connected()) {
                database.CloseConnection(true);
            }
            // Only a server that cannot be reached (a network error, or one that is still
            // starting after a restart) is waited for; any other error will not go away.
            const auto now = Clock::now();
            if (dynamic_cast<const ibclient::EIBConnectionLost*>(&e) == nullptr ||
                now >= deadline) {
                throw;
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
            pause = std::min(pause * 2, std::chrono::milliseconds(1000));
        }
    }
}

}  // namespace runner

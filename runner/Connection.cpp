// The runner's per-database connection: points the single database and transaction objects at
// one database of the list with the fixed connection settings, and closes it again.
#include "runner/Connection.h"

#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBTransaction.h"
#include "runner/RunnerContext.h"

namespace runner {

namespace {

// Every database is attached as SYSDBA with the WIN1251 connection character set.
constexpr const char* kConnectionParams = "user_name=SYSDBA,password=quillfern,lc_ctype=WIN1251";
constexpr int kSQLDialect = 1;
constexpr int32_t kErrorLevel = 1;

}  // namespace

bool OpenDatabase(RunnerContext& context, const std::string& databaseName) {
    ibclient::TIBDatabase& database = *context.Database;
    ibclient::TIBTransaction& transaction = *context.Transaction;

    // Nothing of the previous entry may stay open before the name changes.
    transaction.SetActive(false);
    database.SetConnected(false);
    if (databaseName.empty()) {
        context.ErrorFlag = true;
        return false;
    }
    database.SetDatabaseName(databaseName);
    database.SetLoginPrompt(false);
    database.Params().SetCommaText(kConnectionParams);
    database.SetSQLDialect(kSQLDialect);
    transaction.SetDefaultDatabase(&database);
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
    ibclient::TIBTransaction& transaction = *context.Transaction;
    if (transaction.Active()) {
        try {
            transaction.Commit();
        } catch (...) {
            // Whatever stopped the commit, the transaction must not stay open: undo it.
            transaction.Rollback();
        }
    }
    context.Database->SetConnected(false);
}

}  // namespace runner

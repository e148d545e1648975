// Helpers for tests that work on real databases through TIBDatabase and TIBTransaction:
// connecting with the runner's parameters and running SQL straight through the client API.
#pragma once

#include "ibclient/Binding.h"
#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBTransaction.h"

#include <cstdint>
#include <string>

namespace testsupport {

constexpr const char* kRunnerParams = "user_name=SYSDBA,password=quillfern,lc_ctype=WIN1251";

// Points `db` at `name` the way the runner does (no login prompt, its fixed parameters).
inline void SetUpLikeRunner(ibclient::TIBDatabase& db, const std::string& name, int dialect = 1) {
    db.SetDatabaseName(name);
    db.SetLoginPrompt(false);
    db.Params().SetCommaText(kRunnerParams);
    db.SetSQLDialect(dialect);
}

// Executes one statement in the active transaction `tr`.
inline void ExecSQL(ibclient::TIBDatabase& db, ibclient::TIBTransaction& tr,
                    const std::string& sql) {
    ibclient::CheckStatus(ibclient::ClientApi().isc_dsql_execute_immediate(
                              ibclient::StatusVector(), db.Handle(), tr.Handle(), 0, sql.c_str(),
                              static_cast<unsigned short>(db.SQLDialect()), nullptr),
                          true);
}

// The single integer that `sql` (a singleton SELECT) returns in the active transaction `tr`.
inline std::int64_t QueryInt(ibclient::TIBDatabase& db, ibclient::TIBTransaction& tr,
                             const std::string& sql) {
    using namespace ibclient;
    isc_stmt_handle stmt = 0;
    CheckStatus(ClientApi().isc_dsql_alloc_statement2(StatusVector(), db.Handle(), &stmt), true);
    std::int64_t value = 0;
    short nullIndicator = 0;
    XSQLDA out{};
    out.version = SQLDA_VERSION1;
    out.sqln = 1;
    try {
        CheckStatus(ClientApi().isc_dsql_prepare(StatusVector(), tr.Handle(), &stmt, 0, sql.c_str(),
                                                 static_cast<unsigned short>(db.SQLDialect()),
                                                 &out),
                    true);
        out.sqlvar[0].sqltype = SQL_INT64 + 1;
        out.sqlvar[0].sqlscale = 0;
        out.sqlvar[0].sqllen = sizeof value;
        out.sqlvar[0].sqldata = reinterpret_cast<ISC_SCHAR*>(&value);
        out.sqlvar[0].sqlind = &nullIndicator;
        CheckStatus(
            ClientApi().isc_dsql_execute2(StatusVector(), tr.Handle(), &stmt, 1, nullptr, &out),
            true);
    } catch (...) {
        ClientApi().isc_dsql_free_statement(StatusVector(), &stmt, DSQL_drop);
        throw;
    }
    ClientApi().isc_dsql_free_statement(StatusVector(), &stmt, DSQL_drop);
    return value;
}

// The number of the client error `action` raises, or -1 when it raises none.
template <class Action> int ClientError(Action&& action) {
    try {
        action();
    } catch (const ibclient::EIBClientError& e) {
        return e.SQLErrorCode();
    }
    return -1;
}

// The message of the exception `action` raises (empty when none).
template <class Action> std::string ErrorMessage(Action&& action) {
    try {
        action();
    } catch (const ibclient::Exception& e) {
        return e.Message();
    }
    return {};
}

}  // namespace testsupport

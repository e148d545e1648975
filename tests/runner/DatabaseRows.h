// Reading real databases from a test: a connection of the test process with the runner's
// settings, and the rows of a query as texts.
#pragma once

#include "ibclient/Fields.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBQuery.h"
#include "ibclient/IBTransaction.h"
#include "tests/ibclient/ConnectionFixture.h"
#include "tests/support/TestSupport.h"

#include <string>
#include <vector>

namespace runnertest {

// A connection of this test process with the runner's settings, and a transaction on it.
struct Connection {
    explicit Connection(const std::string& name) {
        testsupport::SetUpLikeRunner(db, name);
        tr.SetDefaultDatabase(&db);
        db.Open();
        tr.Start();
    }
    ibclient::TIBDatabase db;
    ibclient::TIBTransaction tr;
};

// The rows of `sql` on `database`, each one its fields' texts joined by "|", NULL as "<null>".
inline std::vector<std::string> Rows(const std::string& database, const std::string& sql) {
    Connection c(database);
    ibclient::TIBQuery query;
    query.SetTransaction(&c.tr);
    query.SetSQLText(sql);
    query.Open();
    std::vector<std::string> rows;
    for (bool more = query.FetchedRowCount() > 0; more; more = query.Next()) {
        std::string row;
        for (int i = 0; i < query.Fields().Count(); ++i) {
            const ibclient::TField& field = *query.Fields()[i];
            DBU_FALSE_WRESTRICT_BEGIN
            row += (i > 0 ? "|" : "") + (field.IsNull() ? "<null>" : field.AsString());
            DBU_FALSE_WRESTRICT_END
        }
        rows.push_back(row);
    }
    query.Close();
    c.tr.Commit();
    return rows;
}

}  // namespace runnertest

// Tests of TIBDatabase and TIBBase against real embedded databases and the local server.
#include "ibclient/IBBase.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBTransaction.h"
#include "tests/ibclient/ConnectionFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace ibclient;
using testsupport::ClientError;
using testsupport::CreateDatabase;
using testsupport::SetUpLikeRunner;
using testsupport::TempDir;

class DatabaseTest : public ::testing::Test {
protected:
    std::string NewDatabase(const std::string& name, int dialect, const std::string& ddl = "") {
        const std::string path = dir_.File(name);
        CreateDatabase(path, dialect, ddl);
        return path;
    }

    TempDir dir_;
};

TEST_F(DatabaseTest, DefaultsAndTheOwnedSchemaTransaction) {
    TIBDatabase db;
    EXPECT_FALSE(db.Connected());
    EXPECT_TRUE(db.LoginPrompt());
    EXPECT_EQ(db.SQLDialect(), 3);
    EXPECT_EQ(db.DBSQLDialect(), 3);
    EXPECT_EQ(db.IdleTimer(), 0);
    EXPECT_TRUE(db.ParamsDirty());
    EXPECT_EQ(db.DefaultTransaction(), nullptr);
    ASSERT_NE(db.SchemaTransaction(), nullptr);
    EXPECT_EQ(db.Transactions(0), db.SchemaTransaction());
    EXPECT_EQ(db.SchemaTransaction()->DefaultDatabase(), &db);
    // The schema transaction is never anyone's default.
    EXPECT_EQ(db.FindDefaultTransaction(), nullptr);
    EXPECT_EQ(ClientError([&] { db.SetIdleTimer(-1); }), 20);
}

TEST_F(DatabaseTest, ConnectsWithTheRunnerParametersAndReconnectsWithTheSameBuffer) {
    const std::string path = NewDatabase("a.fdb", 1);
    std::vector<std::string> events;  // outlives the database, whose destructor may still tell
    TIBDatabase db;
    SetUpLikeRunner(db, path);
    db.BeforeConnect = [&] { events.push_back("BeforeConnect"); };
    db.AfterConnect = [&] { events.push_back("AfterConnect"); };
    db.BeforeDisconnect = [&] { events.push_back("BeforeDisconnect"); };
    db.AfterDisconnect = [&] { events.push_back("AfterDisconnect"); };

    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_NE(*db.Handle(), 0u);
    EXPECT_FALSE(db.ParamsDirty());
    EXPECT_EQ(db.DPB().size(), 29u);
    db.Open();  // connected already: nothing happens
    db.SetConnected(false);
    EXPECT_FALSE(db.Connected());
    db.Close();  // disconnected already: nothing happens
    EXPECT_EQ(events, (std::vector<std::string>{"BeforeConnect", "AfterConnect", "BeforeDisconnect",
                                                "AfterDisconnect"}));

    // Reconnecting reuses the buffer; writing the same parameters again marks it for rebuilding.
    db.SetConnected(true);
    EXPECT_FALSE(db.ParamsDirty());
    db.Close();
    db.Params().SetCommaText(testsupport::kRunnerParams);
    EXPECT_TRUE(db.ParamsDirty());
    db.Open();
    EXPECT_FALSE(db.ParamsDirty());
    EXPECT_EQ(db.DPB().size(), 29u);
}

TEST_F(DatabaseTest, DialectIsAdjustedDownwardsOnlyAndResetAfterDisconnect) {
    const std::string dialect1 = NewDatabase("d1.fdb", 1);
    const std::string dialect3 = NewDatabase("d3.fdb", 3);
    TIBDatabase db;
    int warnings = 0;
    db.OnDialectDowngradeWarning = [&] { ++warnings; };

    // A dialect-3 database keeps the client's dialect 1.
    SetUpLikeRunner(db, dialect3, 1);
    db.Open();
    EXPECT_EQ(db.DBSQLDialect(), 3);
    EXPECT_EQ(db.SQLDialect(), 1);
    EXPECT_EQ(warnings, 0);
    db.SetSQLDialect(3);  // up to the database's dialect while connected
    EXPECT_EQ(db.SQLDialect(), 3);
    db.Close();
    EXPECT_EQ(db.DBSQLDialect(), 1);
    EXPECT_EQ(db.SQLDialect(), 3);

    // A dialect-1 database lowers the default dialect 3 and warns once.
    db.SetDatabaseName(dialect1);
    db.Open();
    EXPECT_EQ(db.DBSQLDialect(), 1);
    EXPECT_EQ(db.SQLDialect(), 1);
    EXPECT_EQ(warnings, 1);
    EXPECT_EQ(ClientError([&] { db.SetSQLDialect(2); }), 87);
    EXPECT_EQ(ClientError([&] { db.SetSQLDialect(0); }), 87);
    EXPECT_EQ(db.SQLDialect(), 1);
    db.Close();
    EXPECT_EQ(db.DBSQLDialect(), 1);
    db.SetSQLDialect(3);  // any value from 1 up while disconnected
    EXPECT_EQ(db.SQLDialect(), 3);
}

TEST_F(DatabaseTest, ErrorStatesLeaveEverythingAsItWas) {
    const std::string path = NewDatabase("e.fdb", 1);
    TIBDatabase db;
    db.SetLoginPrompt(false);
    db.Params().SetCommaText(testsupport::kRunnerParams);
    EXPECT_EQ(ClientError([&] { db.Open(); }), 17);
    EXPECT_EQ(ClientError([&] { db.RequireConnected(); }), 15);
    EXPECT_EQ(ClientError([&] { db.CloseConnection(false); }), 15);
    EXPECT_THROW(db.QueryDatabaseDialect(), EIBInterBaseError);

    db.SetDatabaseName(path);
    db.Open();
    const std::vector<std::string> params = db.Params().Lines();
    EXPECT_EQ(ClientError([&] { db.Params().Add("sql_role_name=X"); }), 16);
    EXPECT_EQ(ClientError([&] { db.Params().SetCommaText("user_name=Y"); }), 16);
    EXPECT_EQ(db.Params().Lines(), params);
    EXPECT_FALSE(db.ParamsDirty());
    EXPECT_EQ(ClientError([&] { db.SetDatabaseName(path + ".other"); }), 16);
    db.SetDatabaseName(path);  // the same name again is no change
    EXPECT_EQ(db.DatabaseName(), path);
    EXPECT_EQ(ClientError([&] { db.RequireDisconnected(); }), 16);
}

TEST_F(DatabaseTest, RefusedAttachesLeaveTheDatabaseDisconnected) {
    TIBDatabase db;
    SetUpLikeRunner(db, dir_.File("missing.fdb"));
    try {
        db.Open();
        FAIL() << "a missing file connected";
    } catch (const EIBInterBaseError& e) {
        EXPECT_NE(e.Message().find("missing.fdb"), std::string::npos) << e.Message();
        EXPECT_NE(e.StatusCode(), 0);
    }
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(*db.Handle(), 0u);

    // A bad parameter line is refused before any attach, and the buffer stays to be rebuilt.
    const std::string path = NewDatabase("p.fdb", 1);
    db.SetDatabaseName(path);
    db.Params().Add("usr_name=x");
    EXPECT_EQ(ClientError([&] { db.Open(); }), 114);
    EXPECT_FALSE(db.Connected());
    EXPECT_TRUE(db.ParamsDirty());
    db.Params().Delete(db.Params().Count() - 1);
    db.Params().Add("password=" + std::string(256, 'x'));
    EXPECT_EQ(ClientError([&] { db.Open(); }), 120);
    EXPECT_FALSE(db.Connected());
    db.Params().SetCommaText(testsupport::kRunnerParams);
    db.Open();
    EXPECT_TRUE(db.Connected());
}

TEST_F(DatabaseTest, LoginHandlerSuppliesTheCredentialsOrRefuses) {
    const std::string path = NewDatabase("l.fdb", 1);
    TIBDatabase db;
    db.SetDatabaseName(path);
    db.Params().SetCommaText("user_name=nobody,password=wrong,lc_ctype=WIN1251");
    db.OnLogin = [](std::string&, std::string&) { return false; };
    EXPECT_EQ(ClientError([&] { db.Open(); }), 10);
    EXPECT_FALSE(db.Connected());

    db.OnLogin = [](std::string& user, std::string& password) {
        user = "SYSDBA";
        password = testsupport::kServerPassword;
        return true;
    };
    db.Open();
    EXPECT_TRUE(db.Connected());
    // The password stays out of the parameter lines.
    EXPECT_EQ(db.Params().Value("user_name"), "SYSDBA");
    EXPECT_EQ(db.Params().Value("password"), "");
    db.Close();
}

TEST_F(DatabaseTest, ServerDatabaseConnectsAndWrongPasswordIsRefused) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string name = "localhost:" + dir_.File("server.fdb");
    CreateDatabase(name, 3);
    TIBDatabase db;
    SetUpLikeRunner(db, name);
    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(db.DBSQLDialect(), 3);
    EXPECT_EQ(db.SQLDialect(), 1);
    db.Close();

    db.Params().SetValue("password", "wrong");
    EXPECT_THROW(db.Open(), EIBInterBaseError);
    EXPECT_FALSE(db.Connected());
}

TEST_F(DatabaseTest, BoundObjectsHearOfTheDisconnectAfterTheTransactionsEnded) {
    const std::string path = NewDatabase("b.fdb", 1);
    TIBDatabase db;
    TIBTransaction tr;
    SetUpLikeRunner(db, path);
    tr.SetDefaultDatabase(&db);
    TIBBase statement;
    statement.AttachTransaction(&tr);
    ASSERT_EQ(statement.Database(), &db);

    std::vector<std::string> heard;
    statement.BeforeDatabaseDisconnect = [&] {
        heard.push_back(tr.Active() ? "before:active" : "before:ended");
    };
    statement.AfterDatabaseDisconnect = [&] {
        heard.push_back(db.Connected() ? "after:connected" : "after:detached");
    };
    statement.BeforeTransactionEnd = [&] { heard.push_back("transaction-end"); };
    db.Open();
    tr.Start();
    EXPECT_EQ(*statement.DatabaseHandle(), *db.Handle());
    EXPECT_EQ(statement.TransactionHandle(), tr.Handle());
    db.Close();
    EXPECT_EQ(heard,
              (std::vector<std::string>{"transaction-end", "before:ended", "after:detached"}));
    EXPECT_EQ(ClientError([&] { statement.DatabaseHandle(); }), 15);
    EXPECT_EQ(ClientError([&] { statement.TransactionHandle(); }), 18);
}

TEST_F(DatabaseTest, ANotForcedCloseStopsAtTheFirstFailureAndStaysConnected) {
    const std::string path = NewDatabase("f.fdb", 1);
    TIBDatabase db;
    SetUpLikeRunner(db, path);
    TIBBase failing;
    failing.AttachDatabase(&db);
    failing.BeforeDatabaseDisconnect = [] { throw EIBClientError(0, "busy"); };
    db.Open();
    EXPECT_THROW(db.Close(), EIBClientError);
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(db.DBSQLDialect(), 1);
    // Forced, the failure is passed over and the database detaches.
    db.CloseConnection(true);
    EXPECT_FALSE(db.Connected());
}

TEST_F(DatabaseTest, AttachRulesSlotReuseAndHandleChecks) {
    TIBDatabase db;
    TIBTransaction tr;
    TIBBase unbound;
    EXPECT_EQ(ClientError([&] { unbound.DatabaseHandle(); }), 24);
    EXPECT_EQ(ClientError([&] { unbound.TransactionHandle(); }), 25);

    // A database without a default transaction attaches none...
    unbound.AttachDatabase(&db);
    EXPECT_EQ(unbound.Transaction(), nullptr);
    unbound.AttachDatabase(nullptr);
    // ...and one whose transaction names it as default attaches that transaction.
    tr.SetDefaultDatabase(&db);
    auto first = std::make_unique<TIBBase>();
    auto second = std::make_unique<TIBBase>();
    auto third = std::make_unique<TIBBase>();
    first->AttachDatabase(&db);
    EXPECT_EQ(first->Transaction(), &tr);
    second->AttachTransaction(&tr);
    EXPECT_EQ(second->Database(), &db);
    third->AttachDatabase(&db);
    EXPECT_EQ(db.Objects(0), first.get());
    EXPECT_EQ(db.Objects(2), third.get());

    second.reset();  // its slots become empty and are reused
    EXPECT_EQ(db.Objects(1), nullptr);
    EXPECT_EQ(tr.Objects(1), nullptr);
    TIBBase fourth;
    fourth.AttachTransaction(&tr);
    EXPECT_EQ(db.Objects(1), &fourth);
    EXPECT_EQ(tr.Objects(1), &fourth);
    EXPECT_EQ(db.ObjectCount(), 3);

    // DefaultTransaction wins over the list.
    TIBTransaction other;
    db.SetDefaultTransaction(&other);
    EXPECT_GE(db.FindTransaction(&other), 0);
    TIBBase fifth;
    fifth.AttachDatabase(&db);
    EXPECT_EQ(fifth.Transaction(), &other);
    // A transaction listing the database with it as default finds it as its default database.
    EXPECT_EQ(other.DefaultDatabase(), nullptr);
    EXPECT_EQ(other.FindDefaultDatabase(), &db);
}

TEST_F(DatabaseTest, DestroyingTheDatabaseFreesItsObjectsAndItsTransactions) {
    const std::string path = NewDatabase("x.fdb", 1, "CREATE TABLE T (ID INTEGER);");
    TIBTransaction tr;
    TIBBase statement;
    bool freed = false;
    statement.DatabaseFree = [&] { freed = true; };
    {
        TIBDatabase db;
        SetUpLikeRunner(db, path);
        tr.SetDefaultDatabase(&db);
        statement.AttachTransaction(&tr);
        db.Open();
        tr.Start();
        testsupport::ExecSQL(db, tr, "INSERT INTO T VALUES (1)");
    }
    EXPECT_TRUE(freed);
    EXPECT_EQ(statement.Database(), nullptr);
    EXPECT_EQ(statement.Transaction(), nullptr);
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(tr.DefaultDatabase(), nullptr);
    EXPECT_EQ(tr.FindDefaultDatabase(), nullptr);
    EXPECT_EQ(ClientError([&] { tr.Start(); }), 21);

    // The active transaction was committed by the forced close.
    TIBDatabase db;
    SetUpLikeRunner(db, path);
    tr.SetDefaultDatabase(&db);
    db.Open();
    tr.Start();
    EXPECT_EQ(testsupport::QueryInt(db, tr, "SELECT COUNT(*) FROM T"), 1);
}

}  // namespace

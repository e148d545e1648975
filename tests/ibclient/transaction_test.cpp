// Tests of TIBTransaction against real embedded databases: starting, ending, the forced ends
// of a disconnect and of destruction, parameters, and the links to databases and objects.
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
using testsupport::ExecSQL;
using testsupport::QueryInt;
using testsupport::SetUpLikeRunner;
using testsupport::TempDir;

// A table T, and a commit trigger that refuses every commit while table REFUSE has a row.
constexpr const char* kSchema =
    "CREATE TABLE T (ID INTEGER);\n"
    "CREATE TABLE REFUSE (ID INTEGER);\n"
    "CREATE EXCEPTION COMMIT_REFUSED 'commit refused';\n"
    "SET TERM ^;\n"
    "CREATE TRIGGER REFUSE_COMMIT ON TRANSACTION COMMIT AS BEGIN\n"
    "  IF (EXISTS(SELECT * FROM REFUSE)) THEN EXCEPTION COMMIT_REFUSED;\n"
    "END^\n"
    "SET TERM ;^\n";

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("t.fdb");
        testsupport::CreateDatabase(path_, 1, kSchema);
        SetUpLikeRunner(db_, path_);
        tr_.SetDefaultDatabase(&db_);
        db_.Open();
    }

    // Rows of T as a fresh transaction sees them.
    std::int64_t CommittedRows() {
        TIBTransaction reader;
        reader.SetDefaultDatabase(&db_);
        reader.Start();
        const std::int64_t rows = QueryInt(db_, reader, "SELECT COUNT(*) FROM T");
        reader.Commit();
        return rows;
    }

    TempDir dir_;
    std::string path_;
    TIBDatabase db_;
    TIBTransaction tr_;
};

TEST_F(TransactionTest, CommitKeepsAndRollbackAndActiveFalseUndo) {
    EXPECT_EQ(tr_.DefaultAction(), TACommit);
    EXPECT_EQ(tr_.AutoStopAction(), saNone);
    tr_.SetActive(false);  // inactive: nothing happens
    tr_.SetActive(true);
    EXPECT_TRUE(tr_.Active());
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (1)");
    tr_.Commit();
    EXPECT_FALSE(tr_.Active());
    EXPECT_EQ(*tr_.Handle(), 0u);

    tr_.Start();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (2)");
    tr_.Rollback();
    // Active := false rolls back although DefaultAction is TACommit.
    tr_.Start();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (3)");
    tr_.SetActive(false);
    EXPECT_FALSE(tr_.Active());
    EXPECT_EQ(CommittedRows(), 1);
}

TEST_F(TransactionTest, RetainingEndsKeepTheTransactionAndTellNoObject) {
    TIBBase statement;
    statement.AttachTransaction(&tr_);
    int notices = 0;
    statement.BeforeTransactionEnd = [&] { ++notices; };
    statement.AfterTransactionEnd = [&] { ++notices; };
    tr_.Start();
    const TrHandle handle = *tr_.Handle();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (1)");
    tr_.CommitRetaining();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (2)");
    tr_.RollbackRetaining();
    EXPECT_TRUE(tr_.Active());
    EXPECT_EQ(*tr_.Handle(), handle);
    EXPECT_EQ(notices, 0);
    EXPECT_EQ(CommittedRows(), 1);
    tr_.Commit();
    EXPECT_EQ(notices, 2);
}

TEST_F(TransactionTest, ErrorStates) {
    EXPECT_EQ(ClientError([&] { tr_.Commit(); }), 18);
    EXPECT_EQ(ClientError([&] { tr_.Rollback(); }), 18);
    EXPECT_EQ(ClientError([&] { tr_.CommitRetaining(); }), 18);
    EXPECT_EQ(ClientError([&] { tr_.SetIdleTimer(-5); }), 20);
    tr_.Start();
    EXPECT_EQ(ClientError([&] { tr_.Start(); }), 19);
    EXPECT_EQ(ClientError([&] { tr_.Params().Add("read"); }), 19);
    EXPECT_EQ(tr_.Params().Count(), 0u);
    tr_.Commit();

    TIBTransaction unlisted;
    EXPECT_EQ(ClientError([&] { unlisted.Start(); }), 21);
    TIBDatabase closed;
    unlisted.SetDefaultDatabase(&closed);
    EXPECT_EQ(ClientError([&] { unlisted.Start(); }), 15);
    EXPECT_FALSE(unlisted.Active());

    // Bad parameter lines are refused before the client library is asked.
    tr_.Params().Add("lock_read");
    EXPECT_EQ(ClientError([&] { tr_.Start(); }), 122);
    tr_.Params().Set(0, "verb_time");
    EXPECT_EQ(ClientError([&] { tr_.Start(); }), 13);
    EXPECT_FALSE(tr_.Active());
    EXPECT_TRUE(tr_.ParamsDirty());
}

TEST_F(TransactionTest, ParametersReachTheServer) {
    // A read-only transaction cannot insert: the TPB arrived.
    tr_.Params().Assign({"read", "read_committed", "rec_version", "nowait"});
    tr_.Start();
    EXPECT_EQ(tr_.TPB(), (std::vector<std::uint8_t>{3, 8, 15, 17, 7}));
    EXPECT_THROW(ExecSQL(db_, tr_, "INSERT INTO T VALUES (1)"), EIBInterBaseError);
    tr_.Rollback();

    tr_.Params().Assign({"write", "isc_tpb_lock_write=T", "protected"});
    tr_.Start();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (1)");
    tr_.Commit();
    tr_.Params().Clear();
    EXPECT_TRUE(tr_.ParamsDirty());
    tr_.Start();
    EXPECT_TRUE(tr_.TPB().empty());
    tr_.Commit();
    EXPECT_EQ(CommittedRows(), 1);

    // A lock held by another transaction is waited for only as long as lock_timeout says.
    TIBTransaction holder;
    holder.SetDefaultDatabase(&db_);
    holder.Start();
    ExecSQL(db_, holder, "UPDATE T SET ID = 2");
    tr_.Params().Assign({"concurrency", "write", "wait", "lock_timeout=1"});
    tr_.Start();
    EXPECT_THROW(ExecSQL(db_, tr_, "UPDATE T SET ID = 3"), EIBInterBaseError);
    tr_.Rollback();
    holder.Rollback();
}

// A bound object whose end-of-transaction hook raises: an ordinary commit stops there and the
// transaction stays active, but a forced end (a disconnect, destruction) ends it all the same,
// so that no transaction and no attachment outlives the close.
TEST_F(TransactionTest, ForcedEndsEndWhateverABoundObjectRaises) {
    TIBBase statement;
    statement.AttachTransaction(&tr_);
    statement.BeforeTransactionEnd = [] { throw Exception("the hook failed"); };
    statement.AfterTransactionEnd = [] { throw Exception("the hook failed again"); };
    tr_.Start();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (1)");
    EXPECT_THROW(tr_.Commit(), Exception);
    EXPECT_TRUE(tr_.Active());
    const std::int64_t attachment =
        QueryInt(db_, tr_, "SELECT CURRENT_CONNECTION FROM RDB$DATABASE");

    EXPECT_NO_THROW(db_.Close());
    EXPECT_FALSE(tr_.Active());
    EXPECT_FALSE(db_.Connected());
    TIBDatabase watcherDb;
    SetUpLikeRunner(watcherDb, path_);
    TIBTransaction watcher;
    watcher.SetDefaultDatabase(&watcherDb);
    watcherDb.Open();
    watcher.Start();
    EXPECT_EQ(QueryInt(watcherDb, watcher,
                       "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = " +
                           std::to_string(attachment)),
              0);
    watcher.Commit();
    db_.Open();
    EXPECT_NO_THROW(tr_.Start());
    EXPECT_EQ(CommittedRows(), 1);  // the disconnect ended it by its DefaultAction, commit
    tr_.FinishTransaction(TARollback, true);
    EXPECT_FALSE(tr_.Active());

    // Destroyed while active: committed, not just forgotten with the work left open.
    {
        TIBTransaction dying;
        dying.SetDefaultDatabase(&db_);
        statement.AttachTransaction(&dying);
        dying.Start();
        ExecSQL(db_, dying, "INSERT INTO T VALUES (2)");
    }
    EXPECT_EQ(CommittedRows(), 2);
    watcher.Start();
    EXPECT_EQ(QueryInt(watcherDb, watcher,
                       "SELECT COUNT(*) FROM MON$TRANSACTIONS WHERE MON$ATTACHMENT_ID <> "
                       "CURRENT_CONNECTION"),
              0);
    watcher.Commit();
}

TEST_F(TransactionTest, RefusedCommitLeavesTheTransactionActive) {
    tr_.Start();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (1)");
    ExecSQL(db_, tr_, "INSERT INTO REFUSE VALUES (1)");
    try {
        tr_.Commit();
        FAIL() << "the commit was not refused";
    } catch (const EIBInterBaseError& e) {
        EXPECT_NE(e.Message().find("commit refused"), std::string::npos) << e.Message();
    }
    EXPECT_TRUE(tr_.Active());
    // Committing again tries again; the rollback after it ends the transaction.
    EXPECT_THROW(tr_.Commit(), EIBInterBaseError);
    EXPECT_TRUE(tr_.Active());
    tr_.Rollback();
    EXPECT_FALSE(tr_.Active());
    EXPECT_EQ(CommittedRows(), 0);
}

TEST_F(TransactionTest, DisconnectCommitsAndARefusedCommitEndsInASilentRollback) {
    tr_.Start();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (1)");
    db_.Close();
    EXPECT_FALSE(tr_.Active());
    db_.Open();
    EXPECT_EQ(CommittedRows(), 1);

    TIBBase statement;
    statement.AttachTransaction(&tr_);
    std::vector<std::string> heard;
    statement.BeforeTransactionEnd = [&] { heard.push_back("before"); };
    statement.AfterTransactionEnd = [&] { heard.push_back("after"); };
    tr_.Start();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (2)");
    ExecSQL(db_, tr_, "INSERT INTO REFUSE VALUES (1)");
    EXPECT_NO_THROW(db_.Close());
    EXPECT_FALSE(tr_.Active());
    EXPECT_FALSE(db_.Connected());
    EXPECT_EQ(heard, (std::vector<std::string>{"before", "after"}));
    db_.Open();
    EXPECT_EQ(CommittedRows(), 1);

    // A rollback default ends it by rollback.
    tr_.SetDefaultAction(TARollbackRetaining);
    tr_.Start();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (3)");
    db_.Close();
    db_.Open();
    EXPECT_EQ(CommittedRows(), 1);
}

TEST_F(TransactionTest, DestructionEndsTheTransactionByItsDefaultAction) {
    TIBBase statement;
    bool freed = false;
    statement.TransactionFree = [&] { freed = true; };
    {
        TIBTransaction committing;
        committing.SetDefaultDatabase(&db_);
        statement.AttachTransaction(&committing);
        committing.Start();
        ExecSQL(db_, committing, "INSERT INTO T VALUES (1)");
    }
    EXPECT_TRUE(freed);
    EXPECT_EQ(statement.Transaction(), nullptr);
    EXPECT_EQ(statement.Database(), &db_);  // the database stays attached
    {
        TIBTransaction rollingBack;
        rollingBack.SetDefaultDatabase(&db_);
        rollingBack.SetDefaultAction(TARollback);
        rollingBack.Start();
        ExecSQL(db_, rollingBack, "INSERT INTO T VALUES (2)");
    }
    EXPECT_EQ(CommittedRows(), 1);
    // The destroyed transactions left the database's list.
    EXPECT_EQ(db_.Transactions(0), db_.SchemaTransaction());
    EXPECT_EQ(db_.Transactions(1), &tr_);
    EXPECT_EQ(db_.Transactions(2), nullptr);
}

TEST_F(TransactionTest, OneTransactionOverTwoDatabases) {
    const std::string otherPath = dir_.File("second.fdb");
    testsupport::CreateDatabase(otherPath, 3, "CREATE TABLE T (ID INTEGER);");
    TIBDatabase other;
    SetUpLikeRunner(other, otherPath);
    other.Open();
    tr_.AddDatabase(&other);
    EXPECT_EQ(tr_.DatabaseCount(), 2);
    EXPECT_GE(other.FindTransaction(&tr_), 0);
    tr_.Params().Assign({"write"});  // every start entry carries the same TPB
    tr_.Start();
    ExecSQL(db_, tr_, "INSERT INTO T VALUES (1)");
    ExecSQL(other, tr_, "INSERT INTO T VALUES (1)");
    tr_.Commit();

    TIBTransaction reader;
    reader.SetDefaultDatabase(&other);
    reader.Start();
    EXPECT_EQ(QueryInt(other, reader, "SELECT COUNT(*) FROM T"), 1);
    reader.Commit();
    EXPECT_EQ(CommittedRows(), 1);
    // Disconnecting one of the databases ends the shared transaction.
    tr_.Start();
    other.Close();
    EXPECT_FALSE(tr_.Active());
    EXPECT_EQ(ClientError([&] { tr_.Start(); }), 15);
}

TEST_F(TransactionTest, DefaultDatabaseLinksBothListsAndGivesObjectsTheDatabase) {
    TIBDatabase second;
    TIBTransaction tr;
    TIBBase statement;
    statement.AttachTransaction(&tr);
    EXPECT_EQ(statement.Database(), nullptr);
    tr.SetDefaultDatabase(&db_);
    EXPECT_EQ(statement.Database(), &db_);
    const int slot = db_.FindTransaction(&tr);
    EXPECT_GE(slot, 0);
    EXPECT_EQ(tr.Databases(0), &db_);

    tr.SetDefaultDatabase(&second);
    EXPECT_EQ(db_.FindTransaction(&tr), -1);
    EXPECT_EQ(db_.Transactions(slot), nullptr);
    EXPECT_EQ(tr.FindDatabase(&db_), -1);
    EXPECT_EQ(tr.Databases(0), &second);    // the emptied slot was reused
    EXPECT_EQ(statement.Database(), &db_);  // an object keeps the database it has
    EXPECT_EQ(second.Transactions(1), &tr);

    TIBTransaction next;
    next.SetDefaultDatabase(&db_);
    EXPECT_EQ(db_.Transactions(slot), &next);  // and here too
    tr.SetDefaultDatabase(nullptr);
    EXPECT_EQ(second.FindTransaction(&tr), -1);
    EXPECT_EQ(tr.DatabaseCount() > 0 ? tr.Databases(0) : nullptr, nullptr);
}

}  // namespace

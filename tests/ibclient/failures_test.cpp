// Failures of real databases raised as their kinds (a lock conflict, an object in use, a lost
// connection, a commit whose answer is lost), and the owners of the client library's handles
// releasing what they hold exactly once.
#include "ibclient/Binding.h"
#include "ibclient/Errors.h"
#include "ibclient/Handles.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBSQL.h"
#include "ibclient/IBTransaction.h"
#include "ibclient/ParamList.h"
#include "tests/ibclient/ConnectionFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using namespace ibclient;
using testsupport::ExecSQL;
using testsupport::SetUpLikeRunner;

// The class name of what `action` raises ("" when nothing), checking on the way that every
// kind is still an EIBInterBaseError.
std::string RaisedClass(const std::function<void()>& action) {
    try {
        action();
    } catch (const EIBInterBaseError& e) {
        return e.ClassName();
    } catch (const Exception& e) {
        return std::string("not a server error: ") + e.ClassName() + ": " + e.Message();
    }
    return "";
}

// A connection of its own to `name` with a transaction that waits for no lock.
struct NoWaitConnection {
    explicit NoWaitConnection(const std::string& name) {
        SetUpLikeRunner(db, name);
        tr.SetDefaultDatabase(&db);
        tr.Params().SetCommaText("concurrency,write,nowait");
        db.Open();
        tr.Start();
    }
    TIBDatabase db;
    TIBTransaction tr;
};

// Over the server: each failure that the runner acts on raises its own class.
TEST(ServerFailures, RealFailuresRaiseTheirKind) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const testsupport::TempDir dir;
    const std::string name = "localhost:" + dir.File("f.fdb");
    testsupport::CreateDatabase(name, 1,
                                "CREATE TABLE T (ID INTEGER);\nINSERT INTO T VALUES (0);\n"
                                "CREATE TABLE U (ID INTEGER);");
    NoWaitConnection holder(name);
    NoWaitConnection other(name);

    // A row that another transaction has changed and not committed.
    ExecSQL(holder.db, holder.tr, "UPDATE T SET ID = 1");
    EXPECT_EQ(RaisedClass([&] { ExecSQL(other.db, other.tr, "UPDATE T SET ID = 2"); }),
              "EIBLockConflict");

    // A table that a prepared statement of another connection uses cannot be dropped.
    TIBSQL user(holder.tr);
    user.SQL().SetText("SELECT ID FROM U");
    user.PrepareStatement();
    other.tr.Rollback();
    other.tr.Start();
    ExecSQL(other.db, other.tr, "DROP TABLE U");
    EXPECT_EQ(RaisedClass([&] { other.tr.Commit(); }), "EIBObjectInUse");
    if (other.tr.Active()) {
        other.tr.Rollback();
    }

    // An attachment deleted by another connection: its statements find the connection lost,
    // and so does its commit, which cannot tell whether the work went through.
    other.tr.Start();
    ExecSQL(other.db, other.tr,
            "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND "
            "MON$ATTACHMENT_ID <> " +
                std::to_string(testsupport::QueryInt(other.db, other.tr,
                                                     "SELECT CURRENT_CONNECTION FROM "
                                                     "RDB$DATABASE")) +
                " AND MON$REMOTE_PID = " + std::to_string(::getpid()));
    other.tr.Commit();
    EXPECT_EQ(RaisedClass([&] { ExecSQL(holder.db, holder.tr, "UPDATE T SET ID = 3"); }),
              "EIBConnectionLost");
    EXPECT_EQ(RaisedClass([&] { holder.tr.Commit(); }), "EIBCommitInDoubt");
    holder.tr.FinishTransaction(TARollback, true);
    holder.db.CloseConnection(true);
}

// The owner of each kind of handle releases a handle it still holds when it goes (the client
// library then knows the handle no more), passes it on when moved, and leaves alone one that
// it was told to forget.
TEST(HandleOwners, ReleaseWhatTheyHoldExactlyOnce) {
    const testsupport::TempDir dir;
    const std::string path = dir.File("h.fdb");
    testsupport::CreateDatabase(path, 1);
    TIBDatabase db;
    SetUpLikeRunner(db, path);
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    db.Open();
    tr.Start();
    const ClientEntryPoints& api = ClientApi();
    const std::vector<std::uint8_t> dpb = BuildDPB(db.Params().Lines());

    // Opens a handle into `owner`; asks the client library about the handle `raw` (the
    // result of the call).
    const auto check = [&](auto owner, const std::function<void(HandleValue*)>& open,
                           const std::function<ISC_STATUS(HandleValue*)>& ask, ISC_STATUS invalid,
                           const char* kind) {
        SCOPED_TRACE(kind);
        HandleValue raw = 0;
        {
            decltype(owner) first;
            open(first.Address());
            raw = first.Get();
            ASSERT_NE(raw, 0U);
            decltype(owner) second(std::move(first));
            EXPECT_FALSE(first.Held());
            EXPECT_EQ(second.Get(), raw);
            EXPECT_EQ(ask(&raw), 0);
        }
        EXPECT_GT(ask(&raw), 0);
        EXPECT_TRUE(StatusVectorContains({invalid})) << StatusVector()[1];

        decltype(owner) forgetting;
        open(forgetting.Address());
        HandleValue kept = forgetting.Get();
        forgetting.Forget();
        EXPECT_EQ(ask(&kept), 0);
        decltype(owner) again;
        *again.Address() = kept;  // released by this owner, once
    };

    std::array<char, 64> info{};
    const char dialectItem = isc_info_db_sql_dialect;
    check(
        TAttachmentHandle(),
        [&](HandleValue* h) {
            CheckStatus(api.isc_attach_database(StatusVector(), 0, path.c_str(), h,
                                                static_cast<short>(dpb.size()),
                                                reinterpret_cast<const char*>(dpb.data())),
                        true);
        },
        [&](HandleValue* h) {
            return api.isc_database_info(StatusVector(), h, 1, &dialectItem, info.size(),
                                         info.data());
        },
        isc_bad_db_handle, "attachment");
    struct StartEntry {
        isc_db_handle* database;
        int tpbLength;
        const unsigned char* tpb;
    } entry{db.Handle(), 0, nullptr};
    check(
        TTransactionHandle(),
        [&](HandleValue* h) {
            CheckStatus(api.isc_start_multiple(StatusVector(), h, 1, &entry), true);
        },
        [&](HandleValue* h) { return api.isc_commit_retaining(StatusVector(), h); },
        isc_bad_trans_handle, "transaction");
    check(
        TStatementHandle(),
        [&](HandleValue* h) {
            CheckStatus(api.isc_dsql_alloc_statement2(StatusVector(), db.Handle(), h), true);
            CheckStatus(api.isc_dsql_prepare(StatusVector(), tr.Handle(), h, 0,
                                             "SELECT 1 FROM RDB$DATABASE", 1, nullptr),
                        true);
        },
        [&](HandleValue* h) {
            const char item = isc_info_sql_stmt_type;
            return api.isc_dsql_sql_info(StatusVector(), h, 1, &item, info.size(), info.data());
        },
        isc_bad_stmt_handle, "statement");
    ISC_QUAD id{};
    check(
        TBlobHandle(),
        [&](HandleValue* h) {
            CheckStatus(
                api.isc_create_blob2(StatusVector(), db.Handle(), tr.Handle(), h, &id, 0, nullptr),
                true);
        },
        [&](HandleValue* h) {
            const char item = isc_info_blob_total_length;
            return api.isc_blob_info(StatusVector(), h, 1, &item, info.size(), info.data());
        },
        isc_bad_segstr_handle, "blob");
    tr.Commit();
}

}  // namespace

// Tests of TIBSQL: the parameter-marker scan, the text list, and the statement life cycle on
// real databases through commit, rollback, disconnect and reconnect.
#include "ibclient/IBSQL.h"
#include "ibclient/TextFormat.h"
#include "tests/ibclient/StatementFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace ibclient;
using testsupport::ClientError;
using testsupport::ErrorMessage;
using testsupport::StatementTest;

// ---- The marker scan ----

TEST(ParseParametersTest, MarkersBecomeQuestionMarksOutsideLiteralsAndComments) {
    const TParsedSQL p = ParseSQLParameters(
        "SELECT * FROM T WHERE A = :a AND B = 'x:y' AND \"C:D\" = ?e /* :f */\r\n");
    EXPECT_EQ(p.Text, "SELECT * FROM T WHERE A = ? AND B = 'x:y' AND \"C:D\" = ? /* :f */\r\n");
    EXPECT_EQ(p.Names, (std::vector<std::string>{"a", "e"}));

    // Back to back: the character after a name is copied unexamined.
    const TParsedSQL twice = ParseSQLParameters("VALUES (:a:b)\r\n");
    EXPECT_EQ(twice.Text, "VALUES (?:b)\r\n");
    EXPECT_EQ(twice.Names, (std::vector<std::string>{"a"}));

    const TParsedSQL quoted = ParseSQLParameters("X = :\"my name\") AND 'it''s' = :$n_1\r\n");
    EXPECT_EQ(quoted.Text, "X = ?) AND 'it''s' = ?\r\n");
    EXPECT_EQ(quoted.Names, (std::vector<std::string>{"my name", "$n_1"}));

    // "*/" ends a comment and the slash goes through the default state.
    EXPECT_EQ(ParseSQLParameters("/**/:p\r\n").Names, (std::vector<std::string>{"p"}));
}

TEST(ParseParametersTest, UnterminatedTextsAndNamelessMarkersRaiseTheParseError) {
    const std::string prefix = "SQL Parse Error:\r\n\r\n";
    EXPECT_EQ(ErrorMessage([] { ParseSQLParameters("SELECT 1 /* open\r\n"); }),
              prefix + "EOF in comment detected");
    EXPECT_EQ(ErrorMessage([] { ParseSQLParameters("SELECT 'open\r\n"); }),
              prefix + "EOF in string detected");
    // A line comment is not recognised, so its apostrophe opens a literal.
    EXPECT_EQ(ErrorMessage([] { ParseSQLParameters("SELECT 1 -- don't\r\n"); }),
              prefix + "EOF in string detected");
    EXPECT_EQ(ErrorMessage([] { ParseSQLParameters("F(?)\r\n"); }),
              prefix + "Parameter name expected");
    EXPECT_EQ(ErrorMessage([] { ParseSQLParameters("X = :\"open\r\n"); }),
              prefix + "EOF in string detected");
    EXPECT_EQ(ClientError([] { ParseSQLParameters("X = :"); }), ceSQLParseError);
}

// ---- The text list ----

TEST(SQLTextTest, LinesSplitAtEveryBreakAndEveryChangeNotifies) {
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(SplitLines("\r\n\r\n"), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(SplitLines("").empty());
    EXPECT_EQ(JoinLines({"a", ""}), "a\r\n\r\n");

    int changes = 0;
    TSQLText text([&] { ++changes; });
    text.Clear(); // already empty: no change
    EXPECT_EQ(changes, 0);
    text.SetText("x");
    text.SetText("x"); // the same text still notifies
    text.Add("y");
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(text.Text(), "x\r\ny\r\n");
}

// ---- The statement on real databases ----

class SQLTest : public StatementTest {
  protected:
    void SetUp() override {
        StatementTest::SetUp();
        OpenDatabase(1, "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20));\n"
                        "INSERT INTO T VALUES (1, 'one');\n"
                        "INSERT INTO T VALUES (2, 'two');\n"
                        "SET TERM ^;\n"
                        "CREATE PROCEDURE TWICE (X INTEGER) RETURNS (Y INTEGER, S VARCHAR(10)) AS\n"
                        "BEGIN Y = X * 2; S = 'done'; END^\n"
                        "SET TERM ;^\n");
    }
};

TEST_F(SQLTest, CreationNamesTheCursorAndBindsThroughTheTransaction) {
    TIBSQL unnamed;
    EXPECT_EQ(unnamed.CursorName().size(), 8u);
    EXPECT_EQ(unnamed.CursorName().find_first_not_of("0123456789"), std::string::npos);
    TIBSQL named(tr_, "Q");
    EXPECT_EQ(named.CursorName().size(), 9u);
    EXPECT_EQ(named.CursorName()[0], 'Q');
    EXPECT_EQ(named.Transaction(), &tr_);
    EXPECT_EQ(named.Database(), &db_); // the transaction's default database
    EXPECT_TRUE(named.ParamCheck());
    EXPECT_TRUE(named.GoToFirstRecordOnExecute());
    EXPECT_EQ(named.StatementType(), SQLUnknown);
    EXPECT_TRUE(named.AtEnd());
    EXPECT_EQ(named.AffectedRowCount(), -1);
}

TEST_F(SQLTest, RunsTheRunnersScriptStatementsInDialect1) {
    auto sql = Statement("CREATE TABLE U (K INTEGER, D DATE)");
    sql->RunStatement();
    EXPECT_EQ(sql->StatementType(), SQLDDL);
    tr_.Commit();
    tr_.Start();

    sql->CloseCursor();
    sql->SQL().SetText("INSERT INTO U SELECT ID, '1-JAN-2000' FROM T");
    sql->RunStatement();
    EXPECT_EQ(sql->StatementType(), SQLInsert);
    EXPECT_EQ(sql->AffectedRowCount(), 2);
    sql->SQL().SetText("UPDATE U SET K = K + 10");
    sql->RunStatement();
    EXPECT_EQ(sql->StatementType(), SQLUpdate);
    EXPECT_EQ(sql->AffectedRowCount(), 2);
    sql->SQL().SetText("DELETE FROM U WHERE K = 11");
    sql->RunStatement();
    EXPECT_EQ(sql->StatementType(), SQLDelete);
    EXPECT_EQ(sql->AffectedRowCount(), 1);
    tr_.Commit();
    tr_.Start();

    sql->SQL().SetText("SELECT K, D FROM U");
    sql->RunStatement();
    EXPECT_EQ(sql->StatementType(), SQLSelect);
    EXPECT_EQ(sql->AffectedRowCount(), -1);
    EXPECT_EQ(sql->RecordCount(), 1);
    EXPECT_EQ(sql->ColumnAt(0).GetInt32(), 12);
    EXPECT_EQ(sql->ColumnAt(1).TypeCode(), SQLTimestamp); // DATE of dialect 1
    EXPECT_EQ(sql->FetchNext(), nullptr);
    EXPECT_TRUE(sql->AtEnd());
    EXPECT_EQ(sql->FetchNext(), nullptr); // at the end nothing more happens
    EXPECT_EQ(sql->ColumnIndexOf("d"), 1);
    EXPECT_EQ(sql->ColumnIndexOf("nope"), -1);
    EXPECT_EQ(ErrorMessage([&] { sql->ColumnAt(2); }), "Field \"2\" not found");
    EXPECT_EQ(ErrorMessage([&] { sql->ColumnAt(-1); }), "Field \"-1\" not found");
}

TEST_F(SQLTest, EmptyTextsAndRefusedStatementTypes) {
    TIBSQL sql;
    sql.SetTransaction(&tr_);
    EXPECT_EQ(ErrorMessage([&] { sql.RunStatement(); }), "Empty query");
    // Blank lines are not empty: the server judges them.
    sql.SQL().SetText("\r\n\r\n");
    EXPECT_THROW(sql.RunStatement(), EIBInterBaseError);
    EXPECT_EQ(*sql.Handle(), 0u);
    sql.SetParamCheck(true);
    sql.SQL().SetText("SELECT 1 FROM T WHERE ID = ?)");
    EXPECT_EQ(ClientError([&] { sql.PrepareStatement(); }), ceSQLParseError);
    EXPECT_EQ(*sql.Handle(), 0u);

    sql.SetParamCheck(false);
    sql.SQL().SetText("SET TRANSACTION");
    EXPECT_EQ(ErrorMessage([&] { sql.PrepareStatement(); }), "Not permitted");
    EXPECT_EQ(*sql.Handle(), 0u);
    EXPECT_FALSE(sql.Prepared());
}

TEST_F(SQLTest, BindingChecksComeBeforeAnyServerCall) {
    TIBSQL sql;
    sql.SQL().SetText("SELECT 1 FROM T");
    EXPECT_EQ(ErrorMessage([&] { sql.PrepareStatement(); }), "Database not assigned");
    TIBDatabase closed;
    sql.SetDatabase(&closed);
    EXPECT_EQ(ErrorMessage([&] { sql.PrepareStatement(); }),
              "Cannot perform operation -- DB is not open");
    sql.SetDatabase(&db_);
    EXPECT_EQ(sql.Transaction(), &tr_); // the database's default transaction came along
    sql.SetTransaction(nullptr);
    EXPECT_EQ(ErrorMessage([&] { sql.PrepareStatement(); }), "Transaction not assigned");
    TIBTransaction idle;
    idle.SetDefaultDatabase(&db_);
    sql.SetTransaction(&idle);
    EXPECT_EQ(ErrorMessage([&] { sql.PrepareStatement(); }), "Transaction is not active");
    EXPECT_EQ(ClientError([&] { sql.TRHandle(); }), ceNotInTransaction);
    EXPECT_EQ(*sql.Handle(), 0u);
}

TEST_F(SQLTest, OpenAndClosedCursorsAndSelectForUpdate) {
    auto sql = Statement("SELECT ID FROM T ORDER BY ID");
    EXPECT_EQ(ErrorMessage([&] { sql->FetchNext(); }), "IBSQL Closed");
    sql->SetGoToFirstRecordOnExecute(false);
    sql->RunStatement();
    EXPECT_TRUE(sql->Open());
    EXPECT_TRUE(sql->AtStart());
    EXPECT_EQ(sql->RecordCount(), 0);
    EXPECT_EQ(ErrorMessage([&] { sql->RunStatement(); }), "IBSQL Open");
    EXPECT_EQ(ErrorMessage([&] { sql->PrepareStatement(); }), "IBSQL Open");
    ASSERT_NE(sql->FetchNext(), nullptr);
    ASSERT_NE(sql->FetchNext(), nullptr);
    EXPECT_EQ(sql->CurrentRow().ItemAt(0).GetInt32(), 2);
    EXPECT_EQ(sql->RecordCount(), 2);
    EXPECT_FALSE(sql->AtStart());
    sql->CloseCursor();
    EXPECT_TRUE(sql->Prepared());
    EXPECT_FALSE(sql->Open());
    EXPECT_EQ(sql->RecordCount(), 0);
    sql->RunStatement(); // again on the same server statement
    ASSERT_NE(sql->FetchNext(), nullptr);

    auto empty = Statement("SELECT ID FROM T WHERE ID < 0");
    empty->RunStatement();
    EXPECT_TRUE(empty->Open());
    EXPECT_TRUE(empty->AtEnd());
    EXPECT_EQ(empty->RecordCount(), 0);

    auto forUpdate = Statement("SELECT ID FROM T FOR UPDATE");
    forUpdate->RunStatement();
    EXPECT_EQ(forUpdate->StatementType(), SQLSelectForUpdate);
    EXPECT_FALSE(forUpdate->Open());
    EXPECT_EQ(ErrorMessage([&] { forUpdate->FetchNext(); }), "IBSQL Closed");
    EXPECT_EQ(forUpdate->SingleTableName(), ""); // not a plain select

    // Never executed, or not a select: only the row state is reset.
    auto insert = Statement("INSERT INTO T VALUES (3, 'three')");
    insert->CloseCursor();
    insert->RunStatement();
    insert->CloseCursor();
    EXPECT_TRUE(insert->Prepared());
}

TEST_F(SQLTest, CommitClosesTheCursorButKeepsTheStatementPrepared) {
    auto sql = Statement("SELECT NAME FROM T ORDER BY ID");
    sql->RunStatement();
    const StmtHandle handle = *sql->Handle();
    tr_.Commit();
    EXPECT_FALSE(sql->Open());
    EXPECT_TRUE(sql->Prepared());
    tr_.Start();
    sql->RunStatement();
    EXPECT_EQ(*sql->Handle(), handle); // no new preparation
    EXPECT_EQ(sql->CurrentRow().ItemAt(0).GetText(), "one");
    tr_.Rollback();
    EXPECT_FALSE(sql->Open());
    EXPECT_TRUE(sql->Prepared());
}

TEST_F(SQLTest, TextChangesAndDisconnectsUnprepareAndTheNextRunPreparesAgain) {
    int changing = 0;
    auto sql = Statement("SELECT COUNT(*) FROM T");
    sql->OnSQLChanging = [&] { ++changing; };
    sql->RunStatement();
    sql->CloseCursor();
    sql->SQL().SetText("SELECT COUNT(*) FROM T"); // the same text drops the statement too
    EXPECT_EQ(changing, 1);
    EXPECT_FALSE(sql->Prepared());
    EXPECT_EQ(*sql->Handle(), 0u);
    sql->SetSQL({"SELECT COUNT(*) FROM T"}); // an equal list changes nothing
    EXPECT_EQ(changing, 1);
    sql->RunStatement();
    EXPECT_TRUE(sql->Prepared());

    // A disconnect commits the open transaction and drops the statement; it prepares again
    // on the new attachment.
    db_.Close();
    EXPECT_FALSE(sql->Prepared());
    EXPECT_FALSE(sql->Open());
    EXPECT_EQ(*sql->Handle(), 0u);
    db_.Open();
    tr_.Start();
    sql->RunStatement();
    EXPECT_TRUE(sql->Prepared());
    EXPECT_EQ(sql->CurrentRow().ItemAt(0).GetInt32(), 2);
}

TEST_F(SQLTest, TheRunnersRetryAfterAFailedExecutionRunsAFreshPreparation) {
    auto sql = Statement("INSERT INTO T VALUES (1, 'again')");
    EXPECT_THROW(sql->RunStatement(), EIBInterBaseError); // duplicate key
    EXPECT_TRUE(sql->Prepared());
    tr_.Rollback();
    db_.Close();
    db_.Open();
    tr_.Start();
    EXPECT_FALSE(sql->Prepared()); // the disconnect dropped the old attachment's statement
    Exec("DELETE FROM T WHERE ID = 1");
    sql->RunStatement();
    EXPECT_TRUE(sql->Prepared());
    EXPECT_EQ(sql->AffectedRowCount(), 1);
    tr_.Commit();
}

// The attachment is deleted by another connection while a cursor is open. The disconnect
// notification cannot close that cursor on the dead attachment, but the statement still lets
// go of its handle and is unprepared: the next run on a new attachment prepares it again.
TEST_F(SQLTest, DisconnectReleasesTheHandleEvenWhenTheCursorCannotBeClosed) {
    auto sql = Statement("SELECT ID FROM T ORDER BY ID");
    sql->RunStatement();
    ASSERT_TRUE(sql->Open());
    const std::int64_t attachment =
        testsupport::QueryInt(db_, tr_, "SELECT CURRENT_CONNECTION FROM RDB$DATABASE");
    {
        TIBDatabase killerDb;
        testsupport::SetUpLikeRunner(killerDb, path_);
        TIBTransaction killer;
        killer.SetDefaultDatabase(&killerDb);
        killerDb.Open();
        killer.Start();
        testsupport::ExecSQL(killerDb, killer,
                             "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = " +
                                 std::to_string(attachment));
        killer.Commit();
    }
    EXPECT_THROW(sql->Base().DoBeforeDatabaseDisconnect(), EIBInterBaseError);
    EXPECT_EQ(*sql->Handle(), 0u);
    EXPECT_FALSE(sql->Prepared());
    EXPECT_FALSE(sql->Open());

    db_.CloseConnection(true);
    EXPECT_FALSE(db_.Connected());
    EXPECT_FALSE(tr_.Active());
    db_.Open();
    tr_.Start();
    sql->RunStatement();
    EXPECT_TRUE(sql->Prepared());
    EXPECT_EQ(sql->CurrentRow().ItemAt(0).GetInt32(), 1);
    tr_.Commit();
}

TEST_F(SQLTest, ExecuteProcedureFillsTheColumnArea) {
    auto sql = Statement("EXECUTE PROCEDURE TWICE 21");
    sql->RunStatement();
    EXPECT_EQ(sql->StatementType(), SQLExecProcedure);
    EXPECT_FALSE(sql->Open());
    EXPECT_EQ(sql->CurrentRow().ItemByName("Y").GetInt32(), 42);
    EXPECT_EQ(sql->CurrentRow().ItemByName("S").GetText(), "done");
    EXPECT_EQ(sql->AffectedRowCount(), -1);
}

// A procedure call or EXECUTE BLOCK that fails is run once: its work (here a generator, which
// no rollback undoes) is not repeated by a second try of the statement object itself.
TEST_F(SQLTest, AFailingProcedureCallRunsOnce) {
    Statement("CREATE SEQUENCE CALLS")->RunStatement();
    Statement("CREATE PROCEDURE FAILS AS DECLARE X INTEGER; BEGIN X = GEN_ID(CALLS, 1); "
              "X = 1 / 0; END")
        ->RunStatement();
    tr_.Commit();
    tr_.Start();
    for (const char* call :
         {"EXECUTE PROCEDURE FAILS",
          "EXECUTE BLOCK AS DECLARE X INTEGER; BEGIN X = GEN_ID(CALLS, 1); X = 1 / 0; END"}) {
        auto sql = Statement(call);
        EXPECT_THROW(sql->RunStatement(), EIBInterBaseError) << call;
        EXPECT_EQ(sql->StatementType(), SQLExecProcedure) << call;
    }
    EXPECT_EQ(testsupport::QueryInt(db_, tr_, "SELECT GEN_ID(CALLS, 0) FROM RDB$DATABASE"), 2);
}

TEST_F(SQLTest, ParamCheckScansMarkersAndOffPassesTheTextUnchanged) {
    auto sql = Statement("SELECT NAME FROM T WHERE ID = :a AND NAME <> 'x:y'", true);
    TIBXSQLDA& params = sql->Parameters(); // prepares
    EXPECT_TRUE(sql->Prepared());
    ASSERT_EQ(params.ItemCount(), 1);
    EXPECT_EQ(params.ItemAt(0).ColumnName(), "A");
    EXPECT_EQ(sql->ProcessedSQL(),
              (std::vector<std::string>{"SELECT NAME FROM T WHERE ID = ? AND NAME <> 'x:y'"}));
    params.ItemByName("a").SetInt32(2);
    sql->RunStatement();
    EXPECT_EQ(sql->CurrentRow().ItemAt(0).GetText(), "two");
    sql->CloseCursor();

    // A text without markers after one with markers runs without parameters.
    sql->SQL().SetText("SELECT COUNT(*) FROM T");
    sql->RunStatement();
    EXPECT_EQ(sql->CurrentRow().ItemAt(0).GetInt32(), 2);
    sql->CloseCursor();

    auto raw = Statement("SELECT NAME FROM T WHERE ID = :a");
    EXPECT_THROW(raw->RunStatement(), EIBInterBaseError); // the server sees ":a"
    raw->SQL().SetText("SELECT NAME FROM T WHERE ID = ?");
    EXPECT_THROW(raw->RunStatement(), EIBInterBaseError); // no values for the marker
    EXPECT_EQ(raw->ProcessedSQL(), (std::vector<std::string>{"SELECT NAME FROM T WHERE ID = ?"}));
}

TEST_F(SQLTest, AFetchErrorClosesTheCursorAndReportsTheServerMessage) {
    auto sql = Statement("SELECT 1 / (ID - 2) FROM T ORDER BY ID");
    sql->RunStatement(); // first row: 1 / -1
    EXPECT_EQ(sql->CurrentRow().ItemAt(0).GetInt32(), -1);
    const std::string message = ErrorMessage([&] { sql->FetchNext(); });
    EXPECT_NE(message.find("divide"), std::string::npos) << message;
    EXPECT_FALSE(sql->Open());
    EXPECT_TRUE(sql->Prepared());
}

TEST_F(SQLTest, ADialect3DatabaseIsPreparedInTheConnectionsDialect1) {
    const std::string path = dir_.File("d3.fdb");
    testsupport::CreateDatabase(path, 3,
                                "CREATE TABLE D (N NUMERIC(18,2), DT DATE);\n"
                                "INSERT INTO D VALUES (12.34, '2020-01-02');\n");
    TIBDatabase db;
    testsupport::SetUpLikeRunner(db, path, 1);
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    db.Open();
    tr.Start();
    TIBSQL sql(tr);
    sql.SetParamCheck(false);
    sql.SQL().SetText("SELECT N, DT FROM D");
    sql.RunStatement();
    EXPECT_EQ(sql.CurrentRow().ItemAt(0).GetCurrency(), 123400);
    EXPECT_EQ(sql.CurrentRow().ItemAt(1).TypeCode(), SQLTypeDate);
    // A date shown in dialect 1 takes the date-and-time text.
    EXPECT_EQ(sql.CurrentRow().ItemAt(1).GetText(), DateTimeToText(EncodeDate(2020, 1, 2)));
    EXPECT_EQ(sql.CurrentRow().Dialect(), 1);
}

} // namespace

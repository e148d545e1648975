// Tests of TIBQuery on real databases: the parameter scan, opening with one row fetched, the
// row cache and navigation, text changes, the transaction and disconnect notifications, and
// the failure states.
#include "ibclient/IBQuery.h"
#include "tests/ibclient/StatementFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace ibclient;
using testsupport::ClientError;
using testsupport::ErrorMessage;
using testsupport::StatementTest;

// ---- The parameter scan ----

TEST(ScanParamMarkersTest, MarkersOutsideQuotesBecomeQuestionMarks) {
    struct Case {
        std::string sql;
        std::string text;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"SELECT * FROM T WHERE A = :X", "SELECT * FROM T WHERE A = ?", {"X"}},
        {"WHERE T = '12:30' AND A = :a,:b)", "WHERE T = '12:30' AND A = ?,?)", {"a", "b"}},
        {"WHERE A = :X\r\nAND B = :X;", "WHERE A = ?\r\nAND B = ?;", {"X", "X"}},
        {"SELECT a::b", "SELECT a:b", {}},
        // Comments are not recognised by this scan.
        {"SELECT 1 /* :X */ FROM T", "SELECT 1 /* ? */ FROM T", {"X"}},
        // A quoted name loses its quotes and may hold delimiters.
        {"A = :\"my name\" AND", "A = ? AND", {"my name"}},
        {"\"C:D\" = `x:y` AND :e", "\"C:D\" = `x:y` AND ?", {"e"}},
        {"A = :", "A = ?", {""}},
    };
    for (const Case& c : cases) {
        const TParsedSQL parsed = ScanParamMarkers(c.sql);
        EXPECT_EQ(parsed.Text, c.text) << c.sql;
        EXPECT_EQ(parsed.Names, c.names) << c.sql;
    }
}

// ---- Queries on a real database ----

constexpr const char* kSchema = "CREATE TABLE T (ID INTEGER NOT NULL, NAME VARCHAR(20));\n"
                                "CREATE TABLE EMPTY_T (ID INTEGER);\n"
                                "SET TERM ^;\n"
                                "CREATE PROCEDURE P RETURNS (X INTEGER) AS BEGIN X = 1; END^\n"
                                "SET TERM ;^\n";

class QueryTest : public StatementTest {
protected:
    void SetUp() override {
        StatementTest::SetUp();
        OpenDatabase(1, kSchema);
    }

    // A query bound to tr_ the way the runner binds it, with `text` assigned.
    std::unique_ptr<TIBQuery> Query(const std::string& text) {
        auto query = std::make_unique<TIBQuery>();
        query->SetTransaction(&tr_);
        query->SetSQLText(text);
        return query;
    }

    // Fills T with rows ID 1..count, NAME 'N<id>'.
    void FillT(int count) {
        Exec("EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= " + std::to_string(count) +
             ") DO BEGIN INSERT INTO T VALUES (:I, 'N' || :I); I = I + 1; END END");
    }

    // Bound objects in the transaction's list.
    int BoundToTransaction() const {
        int n = 0;
        for (int i = 0; i < tr_.ObjectCount(); ++i)
            n += tr_.Objects(i) != nullptr ? 1 : 0;
        return n;
    }
};

TEST_F(QueryTest, TheRunnersSequenceReadsTheFirstFieldOfTheFirstRow) {
    FillT(3);
    auto query = std::make_unique<TIBQuery>();
    query->SetTransaction(&tr_);
    EXPECT_EQ(query->Database(), &db_);  // follows from the transaction
    query->SetActive(false);
    query->SetSQLText("SELECT NAME, ID FROM T ORDER BY ID");
    query->SetActive(true);
    EXPECT_TRUE(query->Active());
    EXPECT_EQ(query->State(), dsBrowse);
    EXPECT_EQ(query->FetchedRowCount(), 1);
    ASSERT_EQ(query->Fields().Count(), 2);
    EXPECT_EQ(query->Fields()[0]->DataType(), ftString);
    EXPECT_EQ(static_cast<int>(query->Fields()[0]->DataType()), 1);
    EXPECT_FALSE(query->Fields()[0]->IsNull());
    EXPECT_EQ(query->Fields()[0]->AsString(), "N1");

    // The next variable: close, new text, open.
    query->SetActive(false);
    query->SetSQLText("SELECT COUNT(*) FROM T");
    query->SetActive(true);
    EXPECT_EQ(query->Fields()[0]->AsString(), "3");
}

TEST_F(QueryTest, NoRowsOneRowAndManyRowsEachOpenWithOneFetch) {
    auto none = Query("SELECT ID, NAME FROM EMPTY_T, T");
    none->Open();
    EXPECT_EQ(none->FetchedRowCount(), 0);
    EXPECT_EQ(none->Fields().Count(), 2);  // fields exist without rows
    EXPECT_TRUE(none->Fields()[0]->IsNull());
    EXPECT_EQ(none->Fields()[0]->AsString(), "");
    EXPECT_TRUE(none->Eof());
    EXPECT_FALSE(none->Next());
    EXPECT_EQ(none->CurrentRowNumber(), -1);

    FillT(1);
    auto one = Query("SELECT ID FROM T");
    one->Open();
    EXPECT_EQ(one->FetchedRowCount(), 1);
    EXPECT_FALSE(one->Next());
    EXPECT_TRUE(one->Eof());
    EXPECT_EQ(one->FetchedRowCount(), 1);
    EXPECT_EQ(one->Fields()[0]->AsString(), "1");  // the last row stays current at the end

    FillT(500);
    auto many = Query("SELECT ID FROM T");
    many->Open();
    EXPECT_EQ(many->FetchedRowCount(), 1);
}

TEST_F(QueryTest, RowsGoThroughTheCacheAcrossChunkBoundaries) {
    FillT(25);
    auto query = Query("SELECT ID, NAME FROM T ORDER BY ID");
    EXPECT_EQ(query->BufferChunks(), 1000);
    query->SetBufferChunks(0);  // 0 or less stores the default
    EXPECT_EQ(query->BufferChunks(), 1000);
    query->SetBufferChunks(4);
    query->Open();
    int rows = 1;
    while (query->Next()) {
        ++rows;
        EXPECT_EQ(query->Fields()[0]->AsString(), std::to_string(rows));
    }
    EXPECT_EQ(rows, 25);
    EXPECT_EQ(query->FetchedRowCount(), 25);
    // Back through the cache: every row as it was fetched, no further server fetch.
    for (int id = 24; id >= 1; --id) {
        ASSERT_TRUE(query->Prior());
        EXPECT_EQ(query->CurrentRowNumber(), id - 1);
        DBU_FALSE_WRESTRICT_BEGIN
        EXPECT_EQ(query->Fields()[1]->AsString(), "N" + std::to_string(id));
        DBU_FALSE_WRESTRICT_END
    }
    EXPECT_FALSE(query->Prior());
    EXPECT_TRUE(query->Bof());
    EXPECT_EQ(query->Fields()[0]->AsString(), "1");
    // Forward again reads cached rows, then fetches nothing new.
    ASSERT_TRUE(query->Next());
    EXPECT_EQ(query->Fields()[0]->AsString(), "2");
    EXPECT_EQ(query->FetchedRowCount(), 25);
}

TEST_F(QueryTest, UniDirectionalKeepsOnlyTheLastTwoRows) {
    FillT(5);
    auto query = Query("SELECT ID FROM T ORDER BY ID");
    query->SetUniDirectional(true);
    query->Open();
    EXPECT_EQ(ClientError([&] { query->SetUniDirectional(false); }), ceDatasetOpen);
    while (query->Next()) {
    }
    EXPECT_EQ(query->FetchedRowCount(), 5);
    EXPECT_EQ(query->Fields()[0]->AsString(), "5");
    ASSERT_TRUE(query->Prior());
    EXPECT_EQ(query->Fields()[0]->AsString(), "4");
    EXPECT_FALSE(query->Prior());  // row 3 is gone from the cache
    EXPECT_EQ(query->Fields()[0]->AsString(), "4");
}

TEST_F(QueryTest, TheSameTextAgainUnpreparesAndTheNextOpenPreparesAgain) {
    FillT(2);
    auto query = Query("SELECT ID FROM T");
    query->Open();
    EXPECT_TRUE(query->Prepared());
    EXPECT_TRUE(query->SelectSQL().Prepared());
    query->SetSQLText("SELECT ID FROM T");
    EXPECT_FALSE(query->Active());
    EXPECT_FALSE(query->Prepared());
    EXPECT_FALSE(query->SelectSQL().Prepared());
    EXPECT_EQ(query->FieldDefs().Count(), 0);
    query->Open();
    EXPECT_TRUE(query->SelectSQL().Prepared());
    EXPECT_EQ(query->FetchedRowCount(), 1);

    // Assigning an equal list changes nothing; a plain close keeps everything prepared.
    query->SetSQL({"SELECT ID FROM T"});
    EXPECT_TRUE(query->Active());
    query->Close();
    EXPECT_TRUE(query->Prepared());
    EXPECT_TRUE(query->SelectSQL().Prepared());
    EXPECT_EQ(query->FieldDefs().Count(), 1);
    EXPECT_EQ(query->Fields().Count(), 0);  // the fields it created die with the close
    query->SetSQL({"SELECT NAME", "FROM T"});
    EXPECT_FALSE(query->SelectSQL().Prepared());
    query->Open();
    EXPECT_EQ(query->Fields()[0]->FieldName(), "NAME");
}

TEST_F(QueryTest, CommitClosesTheQueryAndDropsItsStatementAndReopenPreparesAgain) {
    FillT(3);
    auto query = Query("SELECT ID FROM T ORDER BY ID");
    query->Open();
    ASSERT_TRUE(query->Next());
    bool activeAtEvent = true;
    query->BeforeTransactionEnd = [&] { activeAtEvent = query->Active(); };
    tr_.Commit();
    EXPECT_FALSE(activeAtEvent);  // the event comes after the close
    EXPECT_FALSE(query->Active());
    EXPECT_EQ(query->FetchedRowCount(), 0);
    EXPECT_FALSE(query->SelectSQL().Prepared());
    EXPECT_TRUE(query->Prepared());  // the query-level flag stays

    // Reopening starts the transaction again and prepares at dataset level.
    query->Open();
    EXPECT_TRUE(tr_.Active());
    EXPECT_TRUE(query->SelectSQL().Prepared());
    EXPECT_EQ(query->FetchedRowCount(), 1);
    EXPECT_EQ(query->Fields()[0]->AsString(), "1");
    tr_.Rollback();
    EXPECT_FALSE(query->Active());
}

TEST_F(QueryTest, OpeningStartsAnInactiveTransactionAndConnectsAClosedDatabase) {
    FillT(1);
    auto query = Query("SELECT ID FROM T");
    tr_.Commit();
    query->Open();
    EXPECT_TRUE(tr_.Active());
    query->Close();
    EXPECT_TRUE(tr_.Active());  // left active after the close

    db_.Close();
    EXPECT_FALSE(tr_.Active());
    query->Open();
    EXPECT_TRUE(db_.Connected());
    EXPECT_EQ(query->Fields()[0]->AsString(), "1");

    // A disconnect closes the open query; it opens again on the new attachment.
    db_.Close();
    EXPECT_FALSE(query->Active());
    query->Open();
    EXPECT_EQ(query->FetchedRowCount(), 1);
}

TEST_F(QueryTest, BindingRules) {
    TIBTransaction other;
    other.SetDefaultDatabase(&db_);
    auto query = Query("SELECT ID FROM T");
    query->Open();
    query->SetTransaction(&tr_);  // the same one: nothing happens, also while open
    EXPECT_EQ(ClientError([&] { query->SetTransaction(&other); }), ceDatasetOpen);
    EXPECT_EQ(ClientError([&] { query->SetDatabase(nullptr); }), ceDatasetOpen);
    query->Close();
    query->SetTransaction(&other);
    EXPECT_EQ(query->Transaction(), &other);
    query->Open();
    EXPECT_TRUE(other.Active());

    // The query and its five statements are registered with the transaction and leave it.
    const int before = BoundToTransaction();
    {
        auto bound = Query("SELECT ID FROM T");
        EXPECT_EQ(BoundToTransaction(), before + 6);
        bound->Open();  // destroyed while open
    }
    EXPECT_EQ(BoundToTransaction(), before);
}

TEST_F(QueryTest, MissingBindingsAndEmptyTextsAreRefused) {
    TIBQuery unbound;
    unbound.SetSQLText("SELECT ID FROM T");
    EXPECT_EQ(ClientError([&] { unbound.Open(); }), ceDatabaseNotAssigned);
    EXPECT_FALSE(unbound.Active());

    TIBDatabase lonely;  // no transaction of its own
    TIBQuery noTransaction;
    noTransaction.SetDatabase(&lonely);
    noTransaction.SetSQLText("SELECT ID FROM T");
    EXPECT_EQ(ClientError([&] { noTransaction.Open(); }), ceTransactionNotAssigned);

    EXPECT_EQ(ClientError([&] { Query("")->Open(); }), ceEmptySQLStatement);
    // Lines are joined with CR LF, so any text of one character or more reaches the server.
    EXPECT_THROW(Query("X")->Open(), EIBInterBaseError);
    EXPECT_EQ(ClientError([&] { Query("   ")->Open(); }), ceEmptySQLStatement);
}

TEST_F(QueryTest, ParametersAreSentAsNullUnlessGivenAValue) {
    FillT(3);
    auto query = Query("SELECT ID FROM T WHERE ID = :X OR NAME = '12:30'");
    ASSERT_EQ(query->Params().Count(), 1);
    EXPECT_EQ(query->Params()[0].Name, "X");
    query->Open();
    EXPECT_EQ(query->FetchedRowCount(), 0);  // ID = NULL matches nothing
    query->Close();

    query->Params()[0].Value = std::int32_t{2};
    query->Open();
    EXPECT_EQ(query->FetchedRowCount(), 1);
    EXPECT_EQ(query->Fields()[0]->AsString(), "2");

    // A new text keeps the values of parameters of the same name.
    query->SetSQLText("SELECT NAME FROM T WHERE ID = :x");
    query->Open();
    EXPECT_EQ(query->Fields()[0]->AsString(), "N2");
    EXPECT_THROW(query->Params()[1], EListError);
}

TEST_F(QueryTest, AMarkerInACommentFailsWithXSQLDAIndexOutOfRange) {
    auto query = Query("SELECT ID FROM T /* :X */");
    EXPECT_EQ(query->Params().Count(), 1);
    EXPECT_EQ(ClientError([&] { query->Open(); }), ceXSQLDAIndexOutOfRange);
    EXPECT_FALSE(query->Active());
    EXPECT_EQ(query->Fields().Count(), 0);

    // Without the scan the text goes to the server as it is.
    TIBQuery unchecked;
    unchecked.SetTransaction(&tr_);
    unchecked.SetParamCheck(false);
    unchecked.SetSQLText("SELECT ID FROM T /* :X */");
    EXPECT_EQ(unchecked.Params().Count(), 0);
    unchecked.Open();
    EXPECT_TRUE(unchecked.Active());
}

TEST_F(QueryTest, StatementsThatAreNotPlainSelectsAreRefusedBeforeTheyRun) {
    FillT(1);
    for (const char* text :
         {"SELECT ID FROM T FOR UPDATE", "UPDATE T SET NAME = 'changed'", "EXECUTE PROCEDURE P"}) {
        auto query = Query(text);
        try {
            query->Open();
            ADD_FAILURE() << text << " opened";
        } catch (const EIBClientError& e) {
            EXPECT_EQ(e.SQLErrorCode(), ceNotASelectQuery) << text;
            EXPECT_NE(e.Message().find("not a plain SELECT"), std::string::npos) << e.Message();
        }
        EXPECT_FALSE(query->Active()) << text;
        EXPECT_EQ(query->FetchedRowCount(), 0);
        EXPECT_EQ(query->Fields().Count(), 0);
    }
    auto check = Query("SELECT NAME FROM T");
    check->Open();
    EXPECT_EQ(check->Fields()[0]->AsString(), "N1");  // the update never ran
}

TEST_F(QueryTest, AFailedPreparationLeavesTheQueryClosedAndUnprepared) {
    auto query = Query("SELECT NO_SUCH_COLUMN FROM T");
    EXPECT_THROW(query->Open(), EIBInterBaseError);
    EXPECT_FALSE(query->Active());
    EXPECT_FALSE(query->Prepared());
    EXPECT_FALSE(query->SelectSQL().Prepared());
    query->SetSQLText("SELECT ID FROM T");
    query->Open();
    EXPECT_TRUE(query->Active());
}

TEST_F(QueryTest, AFailingFetchLeavesTheQueryOpenWithoutARow) {
    Exec("INSERT INTO T VALUES (0, 'zero')");
    auto query = Query("SELECT 1 / ID FROM T");
    EXPECT_THROW(query->Open(), EIBInterBaseError);
    EXPECT_TRUE(query->Active());
    EXPECT_EQ(query->FetchedRowCount(), 0);
    EXPECT_TRUE(query->Fields()[0]->IsNull());
    EXPECT_FALSE(query->Next());
    query->Close();
    EXPECT_FALSE(query->Active());
}

TEST_F(QueryTest, AnEmptyFieldListRaisesTheListError) {
    auto query = Query("SELECT ID FROM T");
    EXPECT_EQ(ErrorMessage([&] { query->Fields()[0]; }), "List index out of bounds (0)");
    EXPECT_THROW(query->Fields()[-1], EListError);
}

}  // namespace

// BOOLEAN columns and parameters and SQL_NULL parameters through the client layer, and SQL
// text holding a NUL byte, on a real dialect-3 database.
#include "ibclient/Errors.h"
#include "ibclient/Fields.h"
#include "ibclient/IBQuery.h"
#include "ibclient/IBSQL.h"
#include "ibclient/IBXSQLDA.h"
#include "tests/ibclient/StatementFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace ibclient;

class BooleanTest : public testsupport::StatementTest {
  protected:
    void SetUp() override {
        StatementTest::SetUp();
        OpenDatabase(3, "CREATE TABLE T (ID INTEGER NOT NULL, F BOOLEAN);\n"
                        "INSERT INTO T VALUES (1, TRUE);\n"
                        "INSERT INTO T VALUES (2, FALSE);\n"
                        "INSERT INTO T VALUES (3, NULL);\n"
                        "SET TERM ^;\n"
                        "CREATE PROCEDURE P (I BOOLEAN) RETURNS (O BOOLEAN) AS BEGIN O = NOT I; "
                        "END^\n"
                        "SET TERM ;^\n");
    }

    std::unique_ptr<TIBQuery> Query(const std::string& text) {
        auto query = std::make_unique<TIBQuery>();
        query->SetTransaction(&tr_);
        query->SetSQLText(text);
        return query;
    }

    // The IDs a query returns, in order.
    std::vector<std::string> Ids(TIBQuery& query) {
        query.Open();
        std::vector<std::string> ids;
        for (bool more = query.FetchedRowCount() > 0; more; more = query.Next())
            ids.push_back(query.Fields()[0]->AsString());
        query.Close();
        return ids;
    }
};

TEST_F(BooleanTest, ColumnValuesThroughEveryGetter) {
    auto sql = Statement("SELECT F FROM T ORDER BY ID");
    sql->RunStatement();
    struct Row {
        std::string text;
        std::int32_t number;
        bool null;
    };
    for (const Row& row : {Row{"TRUE", 1, false}, Row{"FALSE", 0, false}, Row{"", 0, true}}) {
        ASSERT_FALSE(sql->AtEnd());
        const TIBXSQLVAR& f = sql->ColumnAt(0);
        EXPECT_EQ(f.TypeCode(), SQLBoolean);
        EXPECT_EQ(f.ValueIsNull(), row.null);
        EXPECT_EQ(f.GetText(), row.text);
        EXPECT_EQ(f.GetInt32(), row.number);
        EXPECT_EQ(f.GetInt64(), row.number);
        EXPECT_EQ(f.GetDouble(), row.number);
        EXPECT_EQ(f.GetCurrency(), row.number * 10000);
        if (!row.null) {
            EXPECT_THROW(f.GetDateTime(), EIBClientError);
        }
        sql->FetchNext();
    }
}

TEST_F(BooleanTest, DatasetFieldIsABooleanField) {
    auto query = Query("SELECT ID, F FROM T ORDER BY ID");
    query->Open();
    const TField& f = *query->Fields()[1];
    EXPECT_EQ(f.DataType(), ftBoolean);
    EXPECT_EQ(static_cast<int>(ftBoolean), 5);
    std::vector<std::string> texts;
    for (bool more = query->FetchedRowCount() > 0; more; more = query->Next())
        texts.push_back(f.IsNull() ? "<null>" : f.AsString());
    EXPECT_EQ(texts, (std::vector<std::string>{"TRUE", "FALSE", "<null>"}));
}

TEST_F(BooleanTest, BooleanAndSqlNullParameters) {
    auto query = Query("SELECT ID FROM T WHERE F = :B ORDER BY ID");
    query->Params()[0].Value = true;
    EXPECT_EQ(Ids(*query), std::vector<std::string>{"1"});
    // An integer is taken as false (0) or true; text goes to the server, which reads it.
    query->Params()[0].Value = std::int32_t{0};
    EXPECT_EQ(Ids(*query), std::vector<std::string>{"2"});
    query->Params()[0].Value = std::int64_t{7};
    EXPECT_EQ(Ids(*query), std::vector<std::string>{"1"});
    query->Params()[0].Value = std::string("false");
    EXPECT_EQ(Ids(*query), std::vector<std::string>{"2"});

    // "? IS NULL" is described as SQL_NULL; the value decides only by being null or not.
    auto open = Query("SELECT ID FROM T WHERE :X IS NULL OR ID = 2 ORDER BY ID");
    EXPECT_EQ(Ids(*open), (std::vector<std::string>{"1", "2", "3"}));
    open->Params()[0].Value = std::int32_t{5};
    EXPECT_EQ(Ids(*open), std::vector<std::string>{"2"});
    open->Params()[0].Value = std::string("x");
    EXPECT_EQ(Ids(*open), std::vector<std::string>{"2"});
}

TEST_F(BooleanTest, InsertReturningProcedureAndBlockOutputs) {
    auto insert = Statement("INSERT INTO T VALUES (4, :B) RETURNING F", true);
    insert->Parameters().ItemAt(0).SetBoolean(false);
    insert->RunStatement();
    EXPECT_EQ(insert->ColumnAt(0).GetText(), "FALSE");

    auto procedure = Statement("EXECUTE PROCEDURE P(:I)", true);
    procedure->Parameters().ItemAt(0).SetInt32(1);
    procedure->RunStatement();
    EXPECT_EQ(procedure->ColumnAt(0).GetText(), "FALSE");

    auto block = Query("EXECUTE BLOCK RETURNS (B BOOLEAN) AS BEGIN B = TRUE; SUSPEND; "
                       "B = NULL; SUSPEND; END");
    block->Open();
    EXPECT_EQ(block->Fields()[0]->DataType(), ftBoolean);
    EXPECT_EQ(block->Fields()[0]->AsString(), "TRUE");
    ASSERT_TRUE(block->Next());
    EXPECT_TRUE(block->Fields()[0]->IsNull());
    block->Close();
    tr_.Commit();
    tr_.Start();
    auto check = Query("SELECT ID FROM T WHERE F IS FALSE ORDER BY ID");
    EXPECT_EQ(Ids(*check), (std::vector<std::string>{"2", "4"}));
}

TEST_F(BooleanTest, TextWithANulByteIsRefusedBeforeItIsSent) {
    for (const bool paramCheck : {false, true}) {
        auto sql = Statement(std::string("DELETE FROM T\0 WHERE ID = 1", 27), paramCheck);
        try {
            sql->RunStatement();
            ADD_FAILURE() << "ran";
        } catch (const EIBClientError& e) {
            EXPECT_EQ(e.Message(), "SQL text holds a NUL byte (code 0) at character 14; the "
                                   "statement is not sent, as the server would take it for the "
                                   "end of the text");
        }
        EXPECT_FALSE(sql->Prepared());
    }
    auto query = Query(std::string("SELECT ID FROM T\0 WHERE ID = 1", 30));
    EXPECT_THROW(query->Open(), EIBClientError);
    auto count = Query("SELECT COUNT(*) FROM T");
    EXPECT_EQ(Ids(*count), std::vector<std::string>{"3"});
}

} // namespace

// Tests of the schema cache: computed and defaulted columns read from a real database through
// the schema transaction, the caching rules and the clearing on a new database name.
#include "ibclient/Schema.h"
#include "tests/ibclient/StatementFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace ibclient;
using testsupport::StatementTest;

class SchemaTest : public StatementTest {
  protected:
    void SetUp() override {
        StatementTest::SetUp();
        OpenDatabase(1, "CREATE DOMAIN NOTE_TEXT AS VARCHAR(10) DEFAULT 'n/a';\n"
                        "CREATE TABLE T (ID INTEGER, QTY INTEGER DEFAULT 1, PRICE DOUBLE PRECISION,"
                        " TOTAL COMPUTED BY (QTY * PRICE), NOTE NOTE_TEXT);\n"
                        "CREATE TABLE PLAIN (A INTEGER);\n");
    }
    TSchema& Schema() { return db_.Schema(); }
};

TEST_F(SchemaTest, ComputedAndDefaultedColumnsInAnyLetterCase) {
    EXPECT_TRUE(Schema().IsComputedField("T", "TOTAL"));
    EXPECT_FALSE(Schema().HasDefaultValue("T", "TOTAL"));
    EXPECT_TRUE(Schema().HasDefaultValue("T", "QTY"));  // the column's own default
    EXPECT_TRUE(Schema().HasDefaultValue("T", "NOTE")); // its domain's default
    EXPECT_FALSE(Schema().IsComputedField("T", "QTY"));
    EXPECT_FALSE(Schema().IsComputedField("T", "ID"));
    EXPECT_FALSE(Schema().HasDefaultValue("T", "MISSING"));
    EXPECT_TRUE(Schema().IsComputedField("t", "total"));
    EXPECT_EQ(Schema().CachedRelationCount(), 1u);
    // The load ran in the schema transaction and ended it; the runner's stays untouched.
    EXPECT_FALSE(db_.SchemaTransaction()->Active());
    EXPECT_TRUE(tr_.Active());
}

TEST_F(SchemaTest, AFreshLookupAnswersLikeACachedOne) {
    // The first question, which loads the table, matches the field name as later ones do.
    EXPECT_TRUE(Schema().IsComputedField("T", "total"));
}

TEST_F(SchemaTest, LoadedTablesAnswerFromTheCacheUntilCleared) {
    EXPECT_FALSE(Schema().HasDefaultValue("PLAIN", "A")); // cached without columns
    EXPECT_FALSE(Schema().HasDefaultValue("NOSUCH", "A"));
    EXPECT_EQ(Schema().CachedRelationCount(), 2u);
    Exec("ALTER TABLE PLAIN ALTER A SET DEFAULT 5");
    EXPECT_FALSE(Schema().HasDefaultValue("PLAIN", "A")); // no new query
    db_.Close();                                          // reconnecting keeps the cache
    db_.Open();
    EXPECT_EQ(Schema().CachedRelationCount(), 2u);
    db_.ClearSchemaCache();
    EXPECT_EQ(Schema().CachedRelationCount(), 0u);
    EXPECT_TRUE(Schema().HasDefaultValue("PLAIN", "A"));
}

TEST_F(SchemaTest, AnotherDatabaseNameClearsTheCacheTheSameNameKeepsIt) {
    EXPECT_TRUE(Schema().IsComputedField("T", "TOTAL"));
    db_.Close();
    db_.SetDatabaseName(path_);
    EXPECT_EQ(Schema().CachedRelationCount(), 1u);
    db_.SetDatabaseName(path_ + ".other");
    EXPECT_EQ(Schema().CachedRelationCount(), 0u);
}

TEST_F(SchemaTest, AFailedLoadLeavesNothingCached) {
    db_.Close();
    EXPECT_THROW(Schema().IsComputedField("T", "TOTAL"), EIBClientError);
    EXPECT_EQ(Schema().CachedRelationCount(), 0u);
    db_.Open();
    EXPECT_TRUE(Schema().IsComputedField("T", "TOTAL"));
}

} // namespace

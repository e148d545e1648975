// Tests of field definitions, fields and row buffers on real databases: the column-to-field
// mapping row by row, attributes of required, fixed and computed columns, the database key
// alias, null and empty values, and blobs read whole.
#include "ibclient/IBQuery.h"
#include "ibclient/Schema.h"
#include "tests/ibclient/StatementFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using namespace ibclient;
using testsupport::ClientError;
using testsupport::StatementTest;

class FieldsTest : public StatementTest {
protected:
    std::unique_ptr<TIBQuery> Open(const std::string& text) {
        auto query = std::make_unique<TIBQuery>();
        query->SetTransaction(&tr_);
        query->SetSQLText(text);
        query->Open();
        return query;
    }
};

// What one column should become.
struct Expected {
    const char* column;
    TFieldType type;
    int size;
    int precision;  // of the definition; also of the field for ftBCD
};

const std::type_info& ClassOf(TFieldType type) {
    switch (type) {
    case ftString:
        return typeid(TIBStringField);
    case ftSmallint:
        return typeid(TSmallintField);
    case ftInteger:
        return typeid(TIntegerField);
    case ftLargeint:
        return typeid(TLargeintField);
    case ftFloat:
        return typeid(TFloatField);
    case ftBCD:
        return typeid(TIBBCDField);
    case ftDate:
        return typeid(TDateField);
    case ftTime:
        return typeid(TTimeField);
    case ftDateTime:
        return typeid(TDateTimeField);
    case ftMemo:
        return typeid(TMemoField);
    case ftBlob:
        return typeid(TBlobField);
    default:
        return typeid(void);
    }
}

void ExpectMapping(const TIBQuery& query, const std::vector<Expected>& expected) {
    ASSERT_EQ(query.FieldDefs().Count(), static_cast<int>(expected.size()));
    ASSERT_EQ(query.Fields().Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        const Expected& e = expected[static_cast<std::size_t>(i)];
        const TFieldDef& def = query.FieldDefs()[i];
        const TField& field = *query.Fields()[i];
        EXPECT_EQ(def.Name, e.column);
        EXPECT_EQ(def.DataType, e.type) << e.column;
        EXPECT_EQ(def.Size, e.size) << e.column;
        EXPECT_EQ(def.Precision, e.precision) << e.column;
        EXPECT_EQ(def.FieldNo, i + 1) << e.column;
        EXPECT_EQ(field.FieldName(), e.column);
        EXPECT_EQ(field.DataType(), e.type) << e.column;
        EXPECT_EQ(field.Size(), e.size) << e.column;
        EXPECT_EQ(field.FieldNo(), i + 1) << e.column;
        EXPECT_EQ(field.FieldKind(), fkData) << e.column;
        EXPECT_EQ(field.Origin(), std::string("M.") + e.column);
        // The class that goes with the type (exactly: a blob is not a memo).
        EXPECT_TRUE(typeid(field) == ClassOf(e.type)) << e.column;
        if (e.type == ftBCD) {
            EXPECT_EQ(dynamic_cast<const TIBBCDField&>(field).Precision(), e.precision);
        }
    }
}

TEST_F(FieldsTest, EveryColumnTypeOfDialect3MapsToItsFieldClass) {
    OpenDatabase(3,
                 "CREATE TABLE M (VC VARCHAR(10), CH CHAR(5), SI SMALLINT, N41 NUMERIC(4,1),"
                 " I INTEGER, N92 NUMERIC(9,2), N96 NUMERIC(9,6), BI BIGINT, N184 NUMERIC(18,4),"
                 " N186 NUMERIC(18,6), D DOUBLE PRECISION, F FLOAT, TS TIMESTAMP, TM TIME, DT DATE,"
                 " MEMO BLOB SUB_TYPE 1, BIN BLOB SUB_TYPE 0, OTHER BLOB SUB_TYPE -5);");
    Exec("INSERT INTO M VALUES ('v', 'c', 1, 1.5, 2, 12.34, 0.000001, 3, 1.2345, 0.000001, 0.5, "
         "0.25,"
         " '2024-01-02 03:04:05', '03:04:05', '2024-01-02', 'memo', 'bin', NULL)");
    auto query = Open("SELECT * FROM M");
    ExpectMapping(*query, {{"VC", ftString, 10, 0},
                           {"CH", ftString, 5, 0},
                           {"SI", ftSmallint, 0, 0},
                           {"N41", ftBCD, 1, 4},
                           {"I", ftInteger, 0, 0},
                           {"N92", ftBCD, 2, 9},
                           {"N96", ftFloat, 0, 0},
                           {"BI", ftLargeint, 0, 0},
                           {"N184", ftBCD, 4, 18},
                           {"N186", ftFloat, 0, 0},
                           {"D", ftFloat, 0, 0},
                           {"F", ftFloat, 0, 0},
                           {"TS", ftDateTime, 0, 0},
                           {"TM", ftTime, 0, 0},
                           {"DT", ftDate, 0, 0},
                           {"MEMO", ftMemo, 8, 0},
                           {"BIN", ftBlob, 8, 0},
                           {"OTHER", ftBlob, 8, 0}});
    const std::vector<std::string> texts = {"v",
                                            "c    ",
                                            "1",
                                            "1.5",
                                            "2",
                                            "12.34",
                                            "0.000001",
                                            "3",
                                            "1.2345",
                                            "0.000001",
                                            "0.5",
                                            "0.25",
                                            "1/2/2024 3:04:05 am",
                                            "3:04:05 am",
                                            "1/2/2024",
                                            "memo",
                                            "bin",
                                            ""};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(query->Fields()[static_cast<int>(i)]->AsString(), texts[i]) << i;
    }
}

TEST_F(FieldsTest, Dialect1ColumnsMapByTheirStoredTypes) {
    // Dialect 1 stores NUMERIC beyond 9 digits as DOUBLE and DATE as TIMESTAMP.
    OpenDatabase(
        1, "CREATE TABLE M (N92 NUMERIC(9,2), N186 NUMERIC(18,6), N184 NUMERIC(18,4), DT DATE);");
    Exec("INSERT INTO M VALUES (123.45, 1.5, 0.0001, '2-JAN-2024')");
    auto query = Open("SELECT * FROM M");
    ExpectMapping(*query, {{"N92", ftBCD, 2, 9},
                           {"N186", ftFloat, 0, 0},
                           {"N184", ftFloat, 0, 0},
                           {"DT", ftDateTime, 0, 0}});
    EXPECT_EQ(query->Fields()[0]->AsString(), "123.45");
    EXPECT_EQ(query->Fields()[2]->AsString(), "0.0001");
    EXPECT_EQ(query->Fields()[3]->AsString(), "1/2/2024");
}

TEST_F(FieldsTest, NullsReadAsNoValueWhateverTheSlotHolds) {
    OpenDatabase(
        3, "CREATE TABLE M (ID INTEGER, VC VARCHAR(10), CH CHAR(4), SI SMALLINT, N92 NUMERIC(9,2),"
           " BI BIGINT, D DOUBLE PRECISION, TS TIMESTAMP, TM TIME, DT DATE, B BLOB SUB_TYPE 1);");
    // A row of values first, so that the column buffers hold something when the NULLs arrive.
    Exec("INSERT INTO M VALUES (1, 'abc', 'abcd', 5, 1.25, 7, 2.5, '2024-01-02 10:00:00', "
         "'10:00:00',"
         " '2024-01-02', 'earlier blob')");
    Exec("INSERT INTO M (ID) VALUES (2)");
    auto query = Open("SELECT * FROM M ORDER BY ID");
    ASSERT_TRUE(query->Next());
    for (int i = 1; i < query->Fields().Count(); ++i) {
        const TField& field = *query->Fields()[i];
        EXPECT_TRUE(field.IsNull()) << field.FieldName();
        EXPECT_EQ(field.AsString(), "") << field.FieldName();
    }
    // Back on the first row the values are there again.
    ASSERT_TRUE(query->Prior());
    EXPECT_EQ(query->FindField("b")->AsString(), "earlier blob");
    EXPECT_EQ(query->FindField("CH")->AsString(), "abcd");
}

TEST_F(FieldsTest, CharIsPaddedAndFixedVarcharIsExactAndEmptyIsNotNull) {
    OpenDatabase(1, "CREATE TABLE S (ID INTEGER, C CHAR(10), V VARCHAR(10));");
    Exec("INSERT INTO S VALUES (1, 'abc', 'abc')");
    Exec("INSERT INTO S VALUES (2, '', '')");
    Exec("INSERT INTO S VALUES (3, NULL, NULL)");
    auto query = Open("SELECT C, V FROM S ORDER BY ID");
    const auto& c = dynamic_cast<const TIBStringField&>(*query->Fields()[0]);
    const auto& v = dynamic_cast<const TIBStringField&>(*query->Fields()[1]);
    EXPECT_TRUE(c.FixedChar());
    EXPECT_TRUE(query->FieldDefs()[0].Attributes.Contains(faFixed));
    EXPECT_FALSE(v.FixedChar());
    EXPECT_FALSE(query->FieldDefs()[1].Attributes.Contains(faFixed));
    EXPECT_TRUE(c.Transliterate());
    EXPECT_EQ(c.AsString(), "abc       ");
    EXPECT_EQ(v.AsString(), "abc");

    ASSERT_TRUE(query->Next());
    EXPECT_FALSE(v.IsNull());
    EXPECT_EQ(v.AsString(), "");
    EXPECT_FALSE(c.IsNull());
    EXPECT_EQ(c.AsString(), std::string(10, ' '));

    ASSERT_TRUE(query->Next());
    EXPECT_TRUE(v.IsNull());
    EXPECT_TRUE(c.IsNull());
}

TEST_F(FieldsTest, RequiredFollowsNotNullAndComputedColumnsBecomeReadOnlyInternalCalc) {
    OpenDatabase(1, "CREATE TABLE C (A INTEGER NOT NULL, B VARCHAR(5), TWICE COMPUTED BY (A * 2),"
                    " LABEL COMPUTED BY ('x' || B));\n"
                    "CREATE TABLE OTHER_T (X INTEGER);");
    Exec("INSERT INTO C (A, B) VALUES (21, 'y')");
    Exec("INSERT INTO OTHER_T VALUES (1)");
    EXPECT_EQ(db_.Schema().CachedRelationCount(), 0u);

    auto query = Open("SELECT A, B, TWICE, LABEL, A + 1 AS NEXT_A FROM C");
    const TFields& f = query->Fields();
    EXPECT_TRUE(f[0]->Required());
    EXPECT_FALSE(f[0]->ReadOnly());
    EXPECT_EQ(f[0]->FieldKind(), fkData);
    EXPECT_FALSE(f[1]->Required());
    for (int i : {2, 3}) {
        EXPECT_TRUE(f[i]->ReadOnly()) << i;
        EXPECT_FALSE(f[i]->Required()) << i;
        EXPECT_EQ(f[i]->FieldKind(), fkInternalCalc) << i;
        EXPECT_TRUE(query->FieldDefs()[i].InternalCalcField);
        EXPECT_EQ(query->FieldDefs()[i].Attributes, TFieldAttributes{faReadonly});
    }
    // Computed columns still read their own column's value.
    EXPECT_EQ(f[2]->AsString(), "42");
    EXPECT_EQ(f[3]->AsString(), "xy");
    EXPECT_EQ(f[4]->Origin(), "");  // an expression belongs to no table
    EXPECT_EQ(f[4]->FieldKind(), fkData);

    // One load for the table, however many of its columns; none for expressions.
    EXPECT_EQ(db_.Schema().CachedRelationCount(), 1u);
    auto again = Open("SELECT TWICE, A FROM C");
    EXPECT_EQ(db_.Schema().CachedRelationCount(), 1u);
    auto expression = Open("SELECT 1 + 1 AS TWO FROM RDB$DATABASE");
    EXPECT_EQ(db_.Schema().CachedRelationCount(), 1u);
    auto other = Open("SELECT X FROM OTHER_T");
    EXPECT_EQ(db_.Schema().CachedRelationCount(), 2u);
}

TEST_F(FieldsTest, AFailedSchemaQuestionLeavesNoPartialFieldListBehind) {
    OpenDatabase(1, "CREATE TABLE C (A INTEGER, TWICE COMPUTED BY (A * 2));");
    Exec("INSERT INTO C (A) VALUES (1)");
    // The schema transaction cannot start while its parameters are unknown.
    db_.SchemaTransaction()->Params().SetCommaText("no_such_tpb_constant");
    auto query = std::make_unique<TIBQuery>();
    query->SetTransaction(&tr_);
    query->SetSQLText("SELECT A, TWICE FROM C");
    EXPECT_THROW(query->Open(), EIBClientError);
    EXPECT_FALSE(query->Active());

    db_.SchemaTransaction()->Params().Clear();
    query->Open();
    ASSERT_EQ(query->Fields().Count(), 2);
    EXPECT_EQ(query->Fields()[1]->FieldKind(), fkInternalCalc);
    EXPECT_EQ(query->Fields()[1]->AsString(), "2");
}

TEST_F(FieldsTest, ArrayOnlySelectHasNoFieldsAndTheDbKeyAliasGetsNoField) {
    OpenDatabase(1, "CREATE TABLE A (ID INTEGER, ARR INTEGER[3]);");
    Exec("INSERT INTO A (ID) VALUES (7)");
    auto arrays = Open("SELECT ARR FROM A");
    EXPECT_EQ(arrays->FetchedRowCount(), 1);
    EXPECT_EQ(arrays->FieldDefs().Count(), 0);
    EXPECT_EQ(arrays->Fields().Count(), 0);
    EXPECT_THROW(arrays->Fields()[0], EListError);

    // An array column before a field does not shift the field's value.
    auto mixed = Open("SELECT ARR, RDB$DB_KEY AS INTERNAL_DBKEY, ID, RDB$DB_KEY AS DBK FROM A");
    ASSERT_EQ(mixed->Fields().Count(), 2);
    EXPECT_EQ(mixed->Fields()[0]->FieldName(), "ID");
    EXPECT_EQ(mixed->Fields()[0]->FieldNo(), 1);
    EXPECT_EQ(mixed->FieldDefs()[0].FieldNo, 3);  // its column position
    EXPECT_EQ(mixed->Fields()[0]->AsString(), "7");
    // The key under any other alias is an ordinary fixed-text field of 8 bytes.
    EXPECT_EQ(mixed->Fields()[1]->DataType(), ftString);
    EXPECT_EQ(mixed->Fields()[1]->Size(), 8);
}

TEST_F(FieldsTest, BlobsLargerThanOneSegmentAreReadWholeAndStreamsAreKeptPerRow) {
    OpenDatabase(1, "CREATE TABLE B (ID INTEGER, M BLOB SUB_TYPE 1, X BLOB SUB_TYPE 0);");
    std::string big(100000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    const std::string binary("\x00\x01\xff\x00zz", 6);
    {
        auto insert = Statement("INSERT INTO B VALUES (1, :M, :X)", true);
        insert->Parameters().ItemAt(0).SetText(big);
        insert->Parameters().ItemAt(1).SetText(binary);
        insert->RunStatement();
        Exec("INSERT INTO B VALUES (2, '', NULL)");
    }
    auto query = Open("SELECT M, X FROM B ORDER BY ID");
    EXPECT_EQ(query->Fields()[0]->AsString(), big);
    EXPECT_EQ(query->Fields()[1]->AsString(), binary);

    // The stream of a row is kept: reading again and coming back give the same content.
    auto stream = query->OpenFieldBlob(*query->Fields()[0]);
    EXPECT_EQ(stream->Size(), static_cast<std::int64_t>(big.size()));
    EXPECT_EQ(stream->Position(), 0);
    std::string head(10, '\0');
    EXPECT_EQ(stream->Read(head.data(), head.size()), 10u);
    EXPECT_EQ(head, big.substr(0, 10));
    EXPECT_EQ(stream->Seek(-5, TSeekOrigin::End), static_cast<std::int64_t>(big.size() - 5));
    EXPECT_EQ(ClientError([&] { stream->Write("x", 1); }), ceNotEditing);
    stream.reset();

    ASSERT_TRUE(query->Next());
    EXPECT_FALSE(query->Fields()[0]->IsNull());  // an empty blob is not NULL
    EXPECT_EQ(query->Fields()[0]->AsString(), "");
    EXPECT_TRUE(query->Fields()[1]->IsNull());
    EXPECT_EQ(query->Fields()[1]->AsString(), "");
    ASSERT_TRUE(query->Prior());
    EXPECT_EQ(query->Fields()[0]->AsString(), big);
}

}  // namespace

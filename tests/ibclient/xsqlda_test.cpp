// Tests of the descriptor areas: sizing, names, and every getter and setter against values
// read from and written to real dialect-1 and dialect-3 databases.
#include "ibclient/BlobStream.h"
#include "ibclient/DateTime.h"
#include "ibclient/IBXSQLDA.h"
#include "ibclient/TextFormat.h"
#include "ibclient/XSQLDALayout.h"
#include "tests/ibclient/StatementFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

using namespace ibclient;
using testsupport::ClientError;
using testsupport::ErrorMessage;
using testsupport::StatementTest;

// ---- Without a database ----

TEST(IdentifierTest, NormalisesAndQuotesByDialect) {
    EXPECT_EQ(NormalizeIdentifier(1, "  abc\t"), "ABC");
    EXPECT_EQ(NormalizeIdentifier(1, "\"abc\""), "\"ABC\"");
    EXPECT_EQ(NormalizeIdentifier(3, "abc"), "ABC");
    EXPECT_EQ(NormalizeIdentifier(3, " \"a\"\"b\" "), "a\"b");
    EXPECT_EQ(NormalizeIdentifier(3, "\""), "");
    EXPECT_EQ(QuoteIdentifierText(1, " name "), "NAME");
    EXPECT_EQ(QuoteIdentifierText(3, "Na\"me"), "\"Na\"\"me\"");
}

TEST(XSQLDATest, SizingOnlyGrowsAndZeroKeepsRecordAndItems) {
    TIBXSQLDA area(nullptr);
    EXPECT_FALSE(area.HasRecord());
    EXPECT_EQ(area.RawArea(), nullptr);
    area.SetItemCount(3);
    ASSERT_TRUE(area.HasRecord());
    const void* record = area.RawArea();
    TIBXSQLVAR* second = &area.ItemAt(1);
    EXPECT_EQ(area.AllocatedCount(), 3);

    area.SetItemCount(0);
    EXPECT_EQ(area.ItemCount(), 0);
    EXPECT_EQ(ClientError([&] { area.ItemAt(0); }), ceXSQLDAIndexOutOfRange);
    area.SetItemCount(2);
    EXPECT_EQ(area.RawArea(), record);
    EXPECT_EQ(&area.ItemAt(1), second);
    EXPECT_EQ(area.AllocatedCount(), 3);
    EXPECT_EQ(ClientError([&] { area.ItemAt(2); }), ceXSQLDAIndexOutOfRange);
    EXPECT_EQ(ClientError([&] { area.ItemAt(-1); }), ceXSQLDAIndexOutOfRange);

    // Growing moves the record; the items follow it and keep their positions.
    area.SetItemCount(40);
    EXPECT_EQ(&area.ItemAt(1), second);
    EXPECT_EQ(area.ItemAt(39).Position(), 39);
    EXPECT_EQ(area.ItemAt(39).SqlType(), 0);
}

TEST(XSQLDATest, NamesAreNormalisedAndFoundFirstMatch) {
    TIBXSQLDA area(nullptr); // dialect 3 without a database
    area.SetItemCount(3);
    area.AssignName("id", 0);
    area.AssignName("\"Mixed\"", 1);
    area.AssignName("ID", 2);
    EXPECT_EQ(area.ItemAt(0).ColumnName(), "ID");
    EXPECT_EQ(area.FindByName("Id"), &area.ItemAt(0));
    EXPECT_EQ(area.FindByName("\"Mixed\""), &area.ItemAt(1));
    EXPECT_EQ(area.FindByName("mixed"), nullptr);
    EXPECT_EQ(ErrorMessage([&] { area.ItemByName("nope"); }), "Field \"nope\" not found");
    EXPECT_EQ(ClientError([&] { area.ItemByName("nope"); }), ceFieldNotFound);
    area.SetItemCount(3); // sizing clears the names
    EXPECT_EQ(area.FindByName("ID"), nullptr);
}

// Entries as a describe would leave them: a type, a length and the given alias.
void Describe(TIBXSQLVAR& item, int type, int length, const std::string& alias) {
    XSQLVAR& var = *XSQLVAROf(item);
    var.sqltype = static_cast<ISC_SHORT>(type);
    var.sqllen = static_cast<ISC_SHORT>(length);
    std::copy(alias.begin(), alias.end(), var.aliasname);
    var.aliasname_length = static_cast<ISC_SHORT>(alias.size());
}

TEST(XSQLDATest, InitializeNamesUnnamedEntriesAndSizesBuffers) {
    TIBXSQLDA area(nullptr);
    area.SetItemCount(4);
    Describe(area.ItemAt(0), SQLLong + 1, 4, "");
    Describe(area.ItemAt(1), SQLVarying, 10, "");
    Describe(area.ItemAt(2), SQLText, 0, "F_1");
    Describe(area.ItemAt(3), SQLDouble, 8, "X");
    area.InitializeItems();
    EXPECT_EQ(area.ItemAt(0).ColumnName(), "F_1");
    EXPECT_EQ(area.ItemAt(1).ColumnName(), "F_2");
    EXPECT_EQ(area.ItemAt(2).ColumnName(), "F_11");
    EXPECT_EQ(area.ItemAt(2).AliasName(), "F_11");
    EXPECT_EQ(area.ItemAt(3).ColumnName(), "X");
    EXPECT_EQ(area.ItemAt(0).DataSize(), 4u);
    EXPECT_TRUE(area.ItemAt(0).AcceptsNull());
    EXPECT_FALSE(area.ItemAt(0).ValueIsNull());
    EXPECT_EQ(area.ItemAt(1).DataSize(), 12u); // length prefix and characters
    EXPECT_EQ(area.ItemAt(1).MaxTextLength(), 10);
    EXPECT_EQ(area.ItemAt(2).DataSize(), 1u); // an empty announced length still gets a byte
    EXPECT_EQ(area.ItemAt(3).MaxTextLength(), 0);
    EXPECT_EQ(area.SingleTableName(), "");

    Describe(area.ItemAt(3), 0, 0, "X");
    EXPECT_EQ(ErrorMessage([&] { area.InitializeItems(); }), "Unknown SQL Data type (0)");
}

// ---- Column values from real databases ----

constexpr const char* kDialect3Types =
    "CREATE TABLE ALLTYPES (ID INTEGER NOT NULL, C5 CHAR(5), VC VARCHAR(10), SI SMALLINT,"
    " I INTEGER, BI BIGINT, N41 NUMERIC(4,1), N92 NUMERIC(9,2), D184 DECIMAL(18,4),"
    " N186 NUMERIC(18,6), F FLOAT, DP DOUBLE PRECISION, DT DATE, TM TIME, TS TIMESTAMP,"
    " BT BLOB SUB_TYPE TEXT, BB BLOB SUB_TYPE 0);\n"
    "INSERT INTO ALLTYPES VALUES (1, 'ab', '42', 7, -123456, 9007199254740993, 12.5, 123.45,"
    " -0.0001, 1.234567, 1.5, -2.75, '2021-03-04', '13:14:15', '1899-12-29 06:00:00',"
    " 'hello', 'bin');\n"
    "INSERT INTO ALLTYPES (ID) VALUES (2);\n"
    "INSERT INTO ALLTYPES (ID, C5, VC, BI, N92, DP)"
    " VALUES (3, '12.5', '12/31/20', 9223372036854775807, -123.45, 1e300);\n";

class Dialect3ValuesTest : public StatementTest {
  protected:
    void SetUp() override {
        StatementTest::SetUp();
        OpenDatabase(3, kDialect3Types);
    }

    // The row with `id`, fetched into sql_'s CurrentRow.
    void Fetch(int id) {
        sql_ = Statement("SELECT * FROM ALLTYPES WHERE ID = " + std::to_string(id));
        sql_->RunStatement();
        ASSERT_FALSE(sql_->AtEnd());
    }
    TIBXSQLVAR& Col(const char* name) { return sql_->CurrentRow().ItemByName(name); }

    std::unique_ptr<TIBSQL> sql_;
};

TEST_F(Dialect3ValuesTest, DescriptorsCarryTypesScalesLengthsAndNames) {
    Fetch(1);
    EXPECT_EQ(Col("C5").TypeCode(), SQLText);
    EXPECT_EQ(Col("C5").SqlLen(), 5);
    EXPECT_EQ(Col("C5").MaxTextLength(), 5);
    EXPECT_EQ(Col("VC").TypeCode(), SQLVarying);
    EXPECT_EQ(Col("SI").TypeCode(), SQLShort);
    EXPECT_EQ(Col("N41").TypeCode(), SQLShort);
    EXPECT_EQ(Col("N41").SqlScale(), -1);
    EXPECT_EQ(Col("N92").TypeCode(), SQLLong);
    EXPECT_EQ(Col("N92").SqlScale(), -2);
    EXPECT_EQ(Col("D184").TypeCode(), SQLInt64);
    EXPECT_EQ(Col("F").TypeCode(), SQLFloat);
    EXPECT_EQ(Col("DP").TypeCode(), SQLDouble);
    EXPECT_EQ(Col("DT").TypeCode(), SQLTypeDate);
    EXPECT_EQ(Col("TM").TypeCode(), SQLTypeTime);
    EXPECT_EQ(Col("TS").TypeCode(), SQLTimestamp);
    EXPECT_EQ(Col("BT").TypeCode(), SQLBlob);
    EXPECT_EQ(Col("BT").SqlSubType(), 1);
    EXPECT_EQ(Col("BB").SqlSubType(), 0);
    EXPECT_FALSE(Col("ID").AcceptsNull());
    EXPECT_TRUE(Col("I").AcceptsNull());
    EXPECT_EQ(Col("I").SqlName(), "I");
    EXPECT_EQ(Col("I").RelName(), "ALLTYPES");
    EXPECT_EQ(Col("I").AliasName(), "I");
    EXPECT_EQ(Col("C5").MaxTextLength(), 5);
    EXPECT_EQ(Col("I").MaxTextLength(), 0);
    EXPECT_EQ(sql_->SingleTableName(), "ALLTYPES");
}

TEST_F(Dialect3ValuesTest, TextColumns) {
    Fetch(1);
    EXPECT_EQ(Col("C5").GetText(), "ab   ");
    EXPECT_EQ(Col("C5").GetTrimmedText(), "ab");
    EXPECT_EQ(Col("VC").GetText(), "42");
    EXPECT_EQ(Col("VC").GetInt32(), 42);
    EXPECT_EQ(Col("VC").GetInt64(), 42);
    EXPECT_DOUBLE_EQ(Col("VC").GetDouble(), 42.0);
    EXPECT_EQ(Col("VC").GetCurrency(), 420000);
    for (auto get :
         {+[](TIBXSQLVAR& v) { v.GetDouble(); }, +[](TIBXSQLVAR& v) { v.GetInt32(); },
          +[](TIBXSQLVAR& v) { v.GetInt64(); }, +[](TIBXSQLVAR& v) { v.GetCurrency(); },
          +[](TIBXSQLVAR& v) { v.GetDateTime(); }, +[](TIBXSQLVAR& v) { v.GetQuad(); }}) {
        EXPECT_EQ(ClientError([&] { get(Col("C5")); }), ceInvalidDataConversion);
    }
    EXPECT_EQ(ErrorMessage([&] { Col("C5").GetDouble(); }), "Invalid data conversion");

    Fetch(3);
    EXPECT_DOUBLE_EQ(Col("C5").GetDouble(), 12.5); // "12.5 " with its padding
    EXPECT_EQ(Col("C5").GetCurrency(), 125000);
    EXPECT_EQ(ClientError([&] { Col("C5").GetInt32(); }), ceInvalidDataConversion);
    EXPECT_DOUBLE_EQ(Col("VC").GetDateTime(), EncodeDate(2020, 12, 31));
}

TEST_F(Dialect3ValuesTest, IntegersWithAndWithoutScale) {
    Fetch(1);
    EXPECT_EQ(Col("SI").GetInt32(), 7);
    EXPECT_EQ(Col("SI").GetText(), "7");
    EXPECT_EQ(Col("I").GetInt64(), -123456);
    EXPECT_EQ(Col("I").GetCurrency(), -1234560000);
    EXPECT_EQ(Col("BI").GetInt64(), 9007199254740993); // beyond the doubles' exact range
    EXPECT_EQ(Col("BI").GetText(), "9007199254740993");
    EXPECT_DOUBLE_EQ(Col("BI").GetDouble(), 9007199254740992.0);

    // NUMERIC(9,2) 123.45 is the integer 12345 with scale -2.
    EXPECT_DOUBLE_EQ(Col("N92").GetDouble(), 123.45);
    EXPECT_EQ(Col("N92").GetInt32(), 123);
    EXPECT_EQ(Col("N92").GetInt64(), 123);
    EXPECT_EQ(Col("N92").GetCurrency(), 1234500);
    EXPECT_EQ(Col("N92").GetText(), "123.45");
    EXPECT_DOUBLE_EQ(Col("N41").GetDouble(), 12.5);
    EXPECT_EQ(Col("N41").GetInt32(), 12);
    EXPECT_EQ(Col("D184").GetCurrency(), -1);
    EXPECT_EQ(Col("D184").GetText(), "-0.0001");
    EXPECT_EQ(Col("D184").GetInt64(), 0);
    // Scale -6: currency rounds to four decimals, the text is the float text.
    EXPECT_EQ(Col("N186").GetCurrency(), 12346);
    EXPECT_DOUBLE_EQ(Col("N186").GetDouble(), 1.234567);
    EXPECT_EQ(Col("N186").GetText(), "1.234567");
    EXPECT_EQ(ClientError([&] { Col("I").GetDateTime(); }), ceInvalidDataConversion);
    EXPECT_EQ(ClientError([&] { Col("I").GetQuad(); }), ceInvalidDataConversion);

    Fetch(3);
    EXPECT_EQ(Col("N92").GetCurrency(), -1234500);
    EXPECT_EQ(Col("N92").GetInt32(), -123);
    EXPECT_EQ(Col("N92").GetText(), "-123.45");
    EXPECT_EQ(Col("BI").GetInt64(), INT64_MAX);
    EXPECT_EQ(Col("BI").GetInt32(), -1); // the low 32 bits
    // A count of ten-thousandths cannot hold it: refused instead of wrapping.
    EXPECT_EQ(ClientError([&] { Col("BI").GetCurrency(); }), ceInvalidDataConversion);
}

TEST_F(Dialect3ValuesTest, FloatingPoint) {
    Fetch(1);
    EXPECT_DOUBLE_EQ(Col("F").GetDouble(), 1.5);
    EXPECT_EQ(Col("F").GetInt32(), 1);
    EXPECT_EQ(Col("F").GetText(), "1.5");
    EXPECT_EQ(Col("DP").GetInt64(), -2);
    EXPECT_EQ(Col("DP").GetInt32(), -2);
    EXPECT_EQ(Col("DP").GetCurrency(), -20000); // truncated to a whole number in dialect 3
    EXPECT_EQ(Col("DP").GetText(), "-2.75");

    Fetch(3);
    EXPECT_EQ(ClientError([&] { Col("DP").GetInt64(); }), ceInvalidDataConversion);
    EXPECT_EQ(ClientError([&] { Col("DP").GetCurrency(); }), ceInvalidDataConversion);
}

TEST_F(Dialect3ValuesTest, DatesTimesAndBlobs) {
    Fetch(1);
    EXPECT_DOUBLE_EQ(Col("DT").GetDateTime(), EncodeDate(2021, 3, 4));
    EXPECT_EQ(Col("DT").GetText(), DateToText(EncodeDate(2021, 3, 4)));
    EXPECT_DOUBLE_EQ(Col("TM").GetDateTime(), EncodeTime(13, 14, 15, 0));
    EXPECT_EQ(Col("TM").GetText(), TimeToText(EncodeTime(13, 14, 15, 0)));
    // 1899-12-29 06:00: the day before the epoch with the time subtracted.
    EXPECT_DOUBLE_EQ(Col("TS").GetDateTime(), -1.25);
    EXPECT_EQ(Col("TS").GetText(), DateTimeToText(-1.25));
    EXPECT_EQ(ClientError([&] { Col("DT").GetDouble(); }), ceInvalidDataConversion);

    EXPECT_EQ(Col("BT").GetText(), "hello");
    EXPECT_EQ(Col("BB").GetText(), "bin");
    EXPECT_NE(Col("BT").GetQuad(), TQuad{});
    EXPECT_EQ(ClientError([&] { Col("BT").GetInt32(); }), ceInvalidDataConversion);
}

TEST_F(Dialect3ValuesTest, BlobStreamReadsTheWholeBlobOnFirstUse) {
    TIBBlobStream none; // unbound: two zero words need no server
    EXPECT_EQ(none.Size(), 0);

    Fetch(1);
    TIBBlobStream stream;
    stream.SetTransaction(&tr_);
    EXPECT_EQ(stream.Database(), &db_);
    stream.SetBlobID(Col("BT").GetQuad());
    EXPECT_EQ(stream.Size(), 5);
    char buffer[8] = {};
    EXPECT_EQ(stream.Seek(-2, TSeekOrigin::End), 3);
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 2u);
    EXPECT_EQ(std::string(buffer, 2), "lo");
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(stream.Seek(-10, TSeekOrigin::Current), 0);
    EXPECT_EQ(stream.Content(), "hello");
}

TEST_F(Dialect3ValuesTest, NullsGiveZeroValuesWhateverTheType) {
    Fetch(2);
    for (int i = 1; i < sql_->CurrentRow().ItemCount(); ++i) {
        const TIBXSQLVAR& v = sql_->CurrentRow().ItemAt(i);
        SCOPED_TRACE(v.ColumnName());
        EXPECT_TRUE(v.ValueIsNull());
        EXPECT_EQ(v.GetDataPointer(), nullptr);
        EXPECT_EQ(v.GetText(), "");
        EXPECT_EQ(v.GetDouble(), 0);
        EXPECT_EQ(v.GetInt32(), 0);
        EXPECT_EQ(v.GetInt64(), 0);
        EXPECT_EQ(v.GetCurrency(), 0);
        EXPECT_EQ(v.GetDateTime(), 0);
        EXPECT_EQ(v.GetQuad(), TQuad{});
    }
    EXPECT_FALSE(Col("ID").ValueIsNull());
    EXPECT_NE(Col("ID").GetDataPointer(), nullptr);
}

// Dialect 1: NUMERIC(15,2) is a double with a scale, DATE a timestamp, currency a rounding.
class Dialect1ValuesTest : public StatementTest {
  protected:
    void SetUp() override {
        StatementTest::SetUp();
        OpenDatabase(
            1, "CREATE TABLE T1 (N92 NUMERIC(9,2), N152 NUMERIC(15,2), DT DATE, DP DOUBLE "
               "PRECISION);\n"
               "INSERT INTO T1 VALUES (123.45, 1234567.89, '4-MAR-2021 10:20:30', 2.71828);\n");
    }
};

TEST_F(Dialect1ValuesTest, ScaledDoublesDatesAndRoundedCurrency) {
    auto sql = Statement("SELECT * FROM T1");
    sql->RunStatement();
    TIBXSQLDA& row = sql->CurrentRow();
    EXPECT_EQ(row.ItemByName("N92").GetCurrency(), 1234500);
    EXPECT_EQ(row.ItemByName("N92").GetText(), "123.45");
    EXPECT_EQ(row.ItemByName("N152").TypeCode(), SQLDouble);
    EXPECT_EQ(row.ItemByName("N152").SqlScale(), -2);
    EXPECT_DOUBLE_EQ(row.ItemByName("N152").GetDouble(), 1234567.89);
    EXPECT_EQ(row.ItemByName("DP").GetCurrency(), 27183); // rounded to four decimals
    EXPECT_EQ(row.ItemByName("DT").TypeCode(), SQLTimestamp);
    const TDateTime expected = EncodeDate(2021, 3, 4) + EncodeTime(10, 20, 30, 0);
    EXPECT_DOUBLE_EQ(row.ItemByName("DT").GetDateTime(), expected);
    EXPECT_EQ(row.ItemByName("DT").GetText(), DateTimeToText(expected));
}

// ---- Names and the single table ----

class NamingTest : public StatementTest {
  protected:
    std::vector<std::string> Names(const std::string& select) {
        auto sql = Statement(select);
        sql->PrepareStatement();
        std::vector<std::string> names;
        for (int i = 0; i < sql->CurrentRow().ItemCount(); ++i) {
            names.push_back(sql->CurrentRow().ItemAt(i).ColumnName());
        }
        tableName_ = sql->SingleTableName();
        return names;
    }
    std::string tableName_;
};

TEST_F(NamingTest, UnnamedColumnsAndAliasCollisionsInDialect1) {
    OpenDatabase(1, "CREATE TABLE T (A INTEGER, B INTEGER);\nCREATE TABLE U (C INTEGER);\n");
    using V = std::vector<std::string>;
    // The server names expressions after their operation, so two sums collide.
    EXPECT_EQ(Names("SELECT 1+1, 2+2 FROM RDB$DATABASE"), (V{"ADD", "ADD1"}));
    EXPECT_EQ(Names("SELECT A AS X, B AS x, A+B AS X FROM T"), (V{"X", "X1", "X2"}));
    const std::string a31(31, 'A');
    EXPECT_EQ(Names("SELECT A AS " + a31 + ", B AS " + a31 + " FROM T"),
              (V{a31, std::string(30, 'A') + "1"}));

    EXPECT_EQ(Names("SELECT A, B FROM T"), (V{"A", "B"}));
    EXPECT_EQ(tableName_, "T");
    Names("SELECT T.A, U.C FROM T, U");
    EXPECT_EQ(tableName_, "");
    Names("SELECT A + 1, B, 'x' FROM T");
    EXPECT_EQ(tableName_, "T");
}

TEST_F(NamingTest, QuotedAliasesDifferingInCaseShareANameInDialect3) {
    OpenDatabase(3, "CREATE TABLE T (A INTEGER);\n");
    auto sql = Statement("SELECT A AS \"a\", A AS \"A\" FROM T");
    sql->PrepareStatement();
    TIBXSQLDA& row = sql->CurrentRow();
    EXPECT_EQ(row.ItemAt(0).ColumnName(), "A");
    EXPECT_EQ(row.ItemAt(1).ColumnName(), "A1");
    // The entry's alias is the final name as built, before normalisation.
    EXPECT_EQ(row.ItemAt(0).AliasName(), "a");
    EXPECT_EQ(row.ItemAt(1).AliasName(), "A1");
    EXPECT_EQ(sql->ColumnIndexOf("a1"), 1);
}

// ---- Setters through a real INSERT and SELECT ----

class SetterTest : public StatementTest {
  protected:
    void SetUp() override {
        StatementTest::SetUp();
        OpenDatabase(3, kDialect3Types);
    }
};

TEST_F(SetterTest, EveryTypeRoundTripsThroughInsertAndSelect) {
    auto insert = Statement(
        "INSERT INTO ALLTYPES (ID, C5, VC, SI, I, BI, N92, D184, F, DP, DT, TM, TS, BT, BB)"
        " VALUES (:ID, :C5, :VC, :SI, :I, :BI, :N92, :D184, :F, :DP, :DT, :TM, :TS, :BT, :BB)",
        true);
    TIBXSQLDA& p = insert->Parameters();
    ASSERT_EQ(p.ItemCount(), 15);
    p.ItemByName("ID").SetInt32(10);
    p.ItemByName("C5").SetText("xyz");
    p.ItemByName("VC").SetVariant(std::string("variant"));
    p.ItemByName("SI").SetInt16(-3);
    p.ItemByName("I").SetVariant(true);
    p.ItemByName("BI").SetInt64(-9007199254740993);
    p.ItemByName("N92").SetCurrency(-1234500);
    p.ItemByName("D184").SetText("0.0001"); // text for a number column: converted by the server
    p.ItemByName("F").SetDouble(0.25);
    p.ItemByName("DP").SetVariant(TVarCurrency{12345});
    p.ItemByName("DT").SetDate(EncodeDate(1850, 1, 2));
    p.ItemByName("TM").SetTime(EncodeTime(23, 59, 58, 0));
    p.ItemByName("TS").SetDateTime(-1.25);
    const std::string big(40000, 'z'); // several segments
    p.ItemByName("BT").SetText(big);
    p.ItemByName("BB").SetNull(true);
    EXPECT_TRUE(p.ItemByName("ID").Modified());
    EXPECT_EQ(p.ItemByName("C5").TypeCode(), SQLText);
    EXPECT_EQ(p.ItemByName("N92").SqlScale(), -4);
    insert->RunStatement();
    EXPECT_EQ(insert->AffectedRowCount(), 1);

    auto select = Statement("SELECT * FROM ALLTYPES WHERE ID = 10");
    select->RunStatement();
    TIBXSQLDA& r = select->CurrentRow();
    EXPECT_EQ(r.ItemByName("C5").GetText(), "xyz  ");
    EXPECT_EQ(r.ItemByName("VC").GetText(), "variant");
    EXPECT_EQ(r.ItemByName("SI").GetInt32(), -3);
    EXPECT_EQ(r.ItemByName("I").GetInt32(), 1);
    EXPECT_EQ(r.ItemByName("BI").GetInt64(), -9007199254740993);
    EXPECT_EQ(r.ItemByName("N92").GetCurrency(), -1234500);
    EXPECT_EQ(r.ItemByName("D184").GetCurrency(), 1);
    EXPECT_DOUBLE_EQ(r.ItemByName("F").GetDouble(), 0.25);
    EXPECT_DOUBLE_EQ(r.ItemByName("DP").GetDouble(), 1.2345);
    EXPECT_DOUBLE_EQ(r.ItemByName("DT").GetDateTime(), EncodeDate(1850, 1, 2));
    EXPECT_DOUBLE_EQ(r.ItemByName("TM").GetDateTime(), EncodeTime(23, 59, 58, 0));
    EXPECT_DOUBLE_EQ(r.ItemByName("TS").GetDateTime(), -1.25);
    EXPECT_EQ(r.ItemByName("BT").GetText(), big);
    EXPECT_TRUE(r.ItemByName("BB").ValueIsNull());
}

TEST_F(SetterTest, SameNamedParametersShareOneValueAndNullState) {
    auto sql = Statement("SELECT COUNT(*) FROM ALLTYPES WHERE I = :V OR SI = :v OR ID = :W", true);
    TIBXSQLDA& p = sql->Parameters();
    ASSERT_EQ(p.ItemCount(), 3);
    EXPECT_EQ(p.ItemAt(0).ColumnName(), "V");
    EXPECT_EQ(p.ItemAt(1).ColumnName(), "V");
    p.ItemAt(0).SetInt32(7);
    EXPECT_EQ(p.ItemAt(1).TypeCode(), SQLLong);
    EXPECT_EQ(p.ItemAt(1).GetInt32(), 7);
    EXPECT_TRUE(p.ItemAt(1).Modified());
    EXPECT_FALSE(p.ItemAt(2).Modified());
    p.ItemAt(2).SetNull(true);
    sql->RunStatement();
    EXPECT_EQ(sql->CurrentRow().ItemAt(0).GetInt32(), 1); // the row with SI = 7

    p.ItemAt(1).SetNull(true);
    EXPECT_TRUE(p.ItemAt(0).ValueIsNull());
    p.ItemAt(0).SetAcceptsNull(false);
    EXPECT_FALSE(p.ItemAt(1).AcceptsNull());
    EXPECT_FALSE(p.ItemAt(1).ValueIsNull());
    p.ItemAt(0).SetNull(true); // makes them nullable again first
    EXPECT_TRUE(p.ItemAt(1).ValueIsNull());
}

TEST_F(SetterTest, TextLimitsQuadsAndEmptyTexts) {
    auto sql =
        Statement("INSERT INTO ALLTYPES (ID, C5, I, TS, BB) VALUES (20, :C5, :I, :TS, :BB)", true);
    TIBXSQLDA& p = sql->Parameters();
    EXPECT_EQ(ErrorMessage([&] { p.ItemByName("C5").SetText("123456"); }),
              "Trying to store a string of length 6 into a field that can only contain 5");
    EXPECT_EQ(ClientError([&] {
                  p.ItemByName("I").SetQuad(TQuad{1, 2});
              }),
              ceInvalidDataConversion);
    p.ItemByName("I").SetText(""); // an empty text for a number is null
    EXPECT_TRUE(p.ItemByName("I").ValueIsNull());
    p.ItemByName("TS").SetText("12/31/2020 10:00:00 pm");
    EXPECT_EQ(p.ItemByName("TS").TypeCode(), SQLTimestamp);
    p.ItemByName("C5").SetText("12345");
    const std::byte bytes[] = {std::byte{'A'}, std::byte{'B'}};
    p.ItemByName("BB").SetText("blob");
    sql->RunStatement();

    auto select = Statement("SELECT C5, I, TS, BB FROM ALLTYPES WHERE ID = 20");
    select->RunStatement();
    TIBXSQLDA& r = select->CurrentRow();
    EXPECT_EQ(r.ItemAt(0).GetText(), "12345");
    EXPECT_TRUE(r.ItemAt(1).ValueIsNull());
    EXPECT_DOUBLE_EQ(r.ItemAt(2).GetDateTime(), EncodeDate(2020, 12, 31) + EncodeTime(22, 0, 0, 0));
    EXPECT_EQ(r.ItemAt(3).GetText(), "blob");

    // Bytes: the announced length is copied and what the block lacks stays zero.
    auto bytesSql = Statement("SELECT 1 FROM RDB$DATABASE WHERE CAST('xy' AS CHAR(4)) = :B", true);
    TIBXSQLVAR& b = bytesSql->Parameters().ItemAt(0);
    const int length = b.SqlLen();
    b.SetBytes(bytes);
    EXPECT_EQ(b.TypeCode(), SQLText);
    EXPECT_EQ(b.SqlLen(), length);
    ASSERT_GE(b.DataSize(), 2u);
    EXPECT_EQ(b.Data()[0], std::byte{'A'});
    b.SetBytes({});
    EXPECT_TRUE(b.ValueIsNull());
}

} // namespace

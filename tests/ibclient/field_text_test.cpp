// Tests of every field class's null test and text form with values read from real databases
// through TIBQuery, under the default format settings and under a comma-decimal locale.
#include "ibclient/IBQuery.h"
#include "platform/FormatSettings.h"
#include "tests/ibclient/FormatSettingsFixture.h"
#include "tests/ibclient/StatementFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace ibclient;
using testsupport::StatementTest;

// A select-list expression, the field type it gives, and its text under the default settings
// and under the comma settings below.
struct TextCase {
    const char* expression;
    TFieldType type;
    const char* text;
    const char* commaText;
};

class FieldTextTest : public StatementTest {
protected:
    void TearDown() override { platform::SetFormatSettings(platform::TFormatSettings{}); }

    // Selects all expressions in one row and checks each field's type, null test and text.
    void Check(const std::vector<TextCase>& cases) {
        std::string select = "SELECT ";
        for (std::size_t i = 0; i < cases.size(); ++i) {
            select += (i > 0 ? ", " : "") + std::string(cases[i].expression);
        }
        select += " FROM RDB$DATABASE";
        TIBQuery query;
        query.SetTransaction(&tr_);
        query.SetSQLText(select);
        query.Open();
        ASSERT_EQ(query.Fields().Count(), static_cast<int>(cases.size()));
        for (const bool comma : {false, true}) {
            platform::SetFormatSettings(comma ? testsupport::CommaDecimalSettings()
                                              : platform::TFormatSettings{});
            for (std::size_t i = 0; i < cases.size(); ++i) {
                const TextCase& c = cases[i];
                const TField& field = *query.Fields()[static_cast<int>(i)];
                EXPECT_EQ(field.DataType(), c.type) << c.expression;
                EXPECT_FALSE(field.IsNull()) << c.expression;
                EXPECT_EQ(field.AsString(), comma ? c.commaText : c.text) << c.expression;
            }
        }
    }
};

TEST_F(FieldTextTest, Dialect1ValuesOfEveryFieldClass) {
    OpenDatabase(1, "");
    Check({
        {"CAST(-42 AS INTEGER)", ftInteger, "-42", "-42"},
        {"CAST(2147483647 AS INTEGER)", ftInteger, "2147483647", "2147483647"},
        {"CAST(32767 AS SMALLINT)", ftSmallint, "32767", "32767"},
        {"CAST(-32768 AS SMALLINT)", ftSmallint, "-32768", "-32768"},
        {"CAST(0 AS DOUBLE PRECISION)", ftFloat, "0", "0"},
        {"CAST(0.1 AS DOUBLE PRECISION)", ftFloat, "0.1", "0,1"},
        {"1.0 / 3", ftFloat, "0.333333333333333", "0,333333333333333"},
        {"CAST(0.0001 AS DOUBLE PRECISION)", ftFloat, "0.0001", "0,0001"},
        {"CAST(0.00001 AS DOUBLE PRECISION)", ftFloat, "1E-5", "1E-5"},
        {"CAST(1.5E20 AS DOUBLE PRECISION)", ftFloat, "1.5E20", "1,5E20"},
        {"CAST(123456789012345 AS DOUBLE PRECISION)", ftFloat, "123456789012345",
         "123456789012345"},
        {"CAST(1234567890123456 AS DOUBLE PRECISION)", ftFloat, "1.23456789012346E15",
         "1,23456789012346E15"},
        {"CAST(-2.5 AS FLOAT)", ftFloat, "-2.5", "-2,5"},
        {"CAST(12.50 AS NUMERIC(9,2))", ftBCD, "12.5", "12,5"},
        {"CAST(100.00 AS NUMERIC(9,2))", ftBCD, "100", "100"},
        {"CAST(-0.25 AS NUMERIC(9,2))", ftBCD, "-0.25", "-0,25"},
        {"CAST(0 AS NUMERIC(9,2))", ftBCD, "0", "0"},
        {"CAST(0.0001 AS NUMERIC(9,4))", ftBCD, "0.0001", "0,0001"},
        {"CAST(-1.5 AS NUMERIC(4,1))", ftBCD, "-1.5", "-1,5"},
        {"CAST('2024-01-02 00:00:00' AS DATE)", ftDateTime, "1/2/2024", "02.01.2024"},
        {"CAST('2024-01-02 00:00:01' AS DATE)", ftDateTime, "1/2/2024 12:00:01 am",
         "02.01.2024 00:00:01"},
        {"CAST('2024-01-02 13:45:30.999' AS DATE)", ftDateTime, "1/2/2024 1:45:30 pm",
         "02.01.2024 13:45:30"},
        {"CAST('1899-12-29 06:00:00' AS DATE)", ftDateTime, "12/29/1899 6:00:00 am",
         "29.12.1899 06:00:00"},
        {"CAST('0001-01-01 00:00:00' AS DATE)", ftDateTime, "1/1/0001", "01.01.0001"},
        {"CAST('9999-12-31 23:59:59' AS DATE)", ftDateTime, "12/31/9999 11:59:59 pm",
         "31.12.9999 23:59:59"},
        {"CAST('ab' AS CHAR(5))", ftString, "ab   ", "ab   "},
        {"CAST('a.b,c' AS VARCHAR(10))", ftString, "a.b,c", "a.b,c"},
        {"CAST('memo text' AS BLOB SUB_TYPE 1)", ftMemo, "memo text", "memo text"},
        {"CAST('bytes' AS BLOB SUB_TYPE 0)", ftBlob, "bytes", "bytes"},
    });
}

TEST_F(FieldTextTest, Dialect3BigintDateAndTimeValues) {
    OpenDatabase(3, "");
    Check({
        {"CAST(9223372036854775807 AS BIGINT)", ftLargeint, "9223372036854775807",
         "9223372036854775807"},
        {"CAST(-1 AS BIGINT)", ftLargeint, "-1", "-1"},
        {"CAST(0.0001 AS NUMERIC(18,4))", ftBCD, "0.0001", "0,0001"},
        {"CAST(922337203685477.5807 AS NUMERIC(18,4))", ftBCD, "922337203685477.5807",
         "922337203685477,5807"},
        {"CAST(-922337203685477.5808 AS NUMERIC(18,4))", ftBCD, "-922337203685477.5808",
         "-922337203685477,5808"},
        {"CAST(1.5 AS NUMERIC(18,6))", ftFloat, "1.5", "1,5"},
        {"DATE '2024-01-02'", ftDate, "1/2/2024", "02.01.2024"},
        {"DATE '0001-01-01'", ftDate, "1/1/0001", "01.01.0001"},
        {"TIME '13:45:30.5'", ftTime, "1:45:30 pm", "13:45:30"},
        {"TIME '00:00:00'", ftTime, "12:00:00 am", "00:00:00"},
        {"TIME '12:00:00'", ftTime, "12:00:00 pm", "12:00:00"},
        {"TIMESTAMP '2024-01-02 00:00:00'", ftDateTime, "1/2/2024", "02.01.2024"},
    });
}

TEST_F(FieldTextTest, NullValuesOfEveryFieldClassGiveEmptyText) {
    OpenDatabase(3, "");
    TIBQuery query;
    query.SetTransaction(&tr_);
    query.SetSQLText(
        "SELECT CAST(NULL AS INTEGER), CAST(NULL AS SMALLINT), CAST(NULL AS BIGINT),"
        " CAST(NULL AS DOUBLE PRECISION), CAST(NULL AS NUMERIC(9,2)), CAST(NULL AS DATE),"
        " CAST(NULL AS TIME), CAST(NULL AS TIMESTAMP), CAST(NULL AS CHAR(3)),"
        " CAST(NULL AS VARCHAR(3)), CAST(NULL AS BLOB SUB_TYPE 1), CAST(NULL AS BLOB SUB_TYPE 0)"
        " FROM RDB$DATABASE");
    query.Open();
    ASSERT_EQ(query.Fields().Count(), 12);
    for (const auto& field : query.Fields()) {
        EXPECT_TRUE(field->IsNull()) << field->FieldName();
        EXPECT_EQ(field->AsString(), "") << field->FieldName();
    }
    // Without a current row every field is null too.
    query.Close();
    query.SetSQLText("SELECT CAST(1 AS INTEGER) FROM RDB$DATABASE WHERE 1 = 0");
    query.Open();
    EXPECT_TRUE(query.Fields()[0]->IsNull());
    EXPECT_EQ(query.Fields()[0]->AsString(), "");
}

}  // namespace

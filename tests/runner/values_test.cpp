// What a script reads reaches the database unchanged: the dbupgrade executable pastes exact
// fixed-point values, floating literals, dates of every century and booleans from real
// dialect-1 and dialect-3 databases into later statements, and a NUL byte never shortens a
// statement.
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using runnertest::Rows;
using testsupport::ReadFile;

const std::string kText = "CREATE TABLE TXT (K VARCHAR(20), V VARCHAR(60));\n";

// The statements that store the text of the first column of `select` under `key` in TXT.
std::vector<std::string> Paste(const std::string& key, const std::string& select) {
    return {"VAR @v = " + select, "INSERT INTO TXT VALUES ('" + key + "', '@v')"};
}

class ValuesProcess : public runnertest::RunnerProcessFixture {
  protected:
    // An unattended setup often runs under the C locale, with its two-digit-year dates.
    ValuesProcess() {
        if (const char* old = std::getenv("LC_ALL"))
            oldLocale_ = old;
        ::setenv("LC_ALL", "C", 1);
    }
    ~ValuesProcess() override {
        if (oldLocale_)
            ::setenv("LC_ALL", oldLocale_->c_str(), 1);
        else
            ::unsetenv("LC_ALL");
    }

    // Runs the statements, separated by blank lines, as the script of `db`.
    void RunStatements(const std::string& db, const std::vector<std::string>& statements,
                       const std::string& status = "Continue") {
        std::string content;
        for (const std::string& statement : statements)
            content += statement + "\n\n";
        testsupport::WriteFile(script, content);
        WriteSettings({db});
        Run();
        EXPECT_EQ(SetupStatus(), status) << ReadFile(log);
    }

    std::vector<std::string> Texts(const std::string& db) const {
        return Rows(db, "SELECT K, V FROM TXT ORDER BY K");
    }

  private:
    std::optional<std::string> oldLocale_;
};

TEST_F(ValuesProcess, FixedPointColumnsArePastedExactlyInDialect3) {
    const std::string db = NewDatabase(
        "d3.fdb", 3,
        kText + "CREATE TABLE SRC (ID INTEGER, N2 NUMERIC(18,2), N4 NUMERIC(18,4), "
                "N8 NUMERIC(18,8), I2 NUMERIC(9,2), S3 NUMERIC(4,3), B BIGINT);\n"
                "INSERT INTO SRC VALUES (1, 5000000000000.05, 300000000000.0001, "
                "12345678901.23456789, 1234567.89, 32.767, 9223372036854775807);\n"
                "INSERT INTO SRC VALUES (2, 12345678901234.57, 999999999999.9999, -0.00000001, "
                "-21474836.48, -32.768, -9223372036854775808);\n"
                "INSERT INTO SRC VALUES (3, 92233720368547758.07, -922337203685477.5808, "
                "-92233720368.54775808, 0.01, 0.001, 0);\n"
                "INSERT INTO SRC VALUES (4, -92233720368547758.08, 922337203685477.5807, 0.1, "
                "-0.01, 0, 1);\n");
    std::vector<std::string> statements;
    for (const char* column : {"N2", "N4", "N8", "I2", "S3", "B"}) {
        for (const char* id : {"1", "2", "3", "4"}) {
            for (std::string& s : Paste(std::string(column) + "-" + id,
                                        std::string("SELECT ") + column +
                                            " FROM SRC WHERE ID = " + id)) {
                statements.push_back(std::move(s));
            }
        }
    }
    RunStatements(db, statements);
    EXPECT_EQ(Texts(db), (std::vector<std::string>{
                             "B-1|9223372036854775807",   "B-2|-9223372036854775808",
                             "B-3|0",                     "B-4|1",
                             "I2-1|1234567.89",           "I2-2|-21474836.48",
                             "I2-3|0.01",                 "I2-4|-0.01",
                             "N2-1|5000000000000.05",     "N2-2|12345678901234.57",
                             "N2-3|92233720368547758.07", "N2-4|-92233720368547758.08",
                             "N4-1|300000000000.0001",    "N4-2|999999999999.9999",
                             "N4-3|-922337203685477.5808", "N4-4|922337203685477.5807",
                             "N8-1|12345678901.23456789", "N8-2|-0.00000001",
                             "N8-3|-92233720368.54775808", "N8-4|0.1",
                             "S3-1|32.767",               "S3-2|-32.768",
                             "S3-3|0.001",                "S3-4|0",
                         }));
}

TEST_F(ValuesProcess, Dialect1IntegersStayExactAndDoublesKeepFifteenDigits) {
    const std::string db = NewDatabase(
        "d1.fdb", 1,
        kText + "CREATE TABLE SRC (ID INTEGER, D15 NUMERIC(15,2), I2 NUMERIC(9,2), "
                "S3 NUMERIC(4,3), DP DOUBLE PRECISION);\n"
                "INSERT INTO SRC VALUES (1, 1234567890123.45, 1234567.89, -32.768, 0.1);\n"
                "INSERT INTO SRC VALUES (2, 0.07, -21474836.48, 0.001, 1234567890.123456789);\n");
    std::vector<std::string> statements;
    for (const char* column : {"D15", "I2", "S3", "DP"}) {
        for (const char* id : {"1", "2"}) {
            for (std::string& s : Paste(std::string(column) + "-" + id,
                                        std::string("SELECT ") + column +
                                            " FROM SRC WHERE ID = " + id)) {
                statements.push_back(std::move(s));
            }
        }
    }
    RunStatements(db, statements);
    EXPECT_EQ(Texts(db), (std::vector<std::string>{"D15-1|1234567890123.45", "D15-2|0.07",
                                                   "DP-1|0.1", "DP-2|1234567890.12346",
                                                   "I2-1|1234567.89", "I2-2|-21474836.48",
                                                   "S3-1|-32.768", "S3-2|0.001"}));
}

TEST_F(ValuesProcess, FloatingLiteralsViewsAndComputedColumnsAreNotRounded) {
    for (const int dialect : {1, 3}) {
        const std::string db = NewDatabase(
            "float" + std::to_string(dialect) + ".fdb", dialect,
            kText + "CREATE VIEW V (X) AS SELECT 2.5e-9 FROM RDB$DATABASE;\n"
                    "CREATE TABLE C (ID INTEGER, X COMPUTED BY (1.5e-7));\n"
                    "INSERT INTO C (ID) VALUES (1);\n");
        std::vector<std::string> statements;
        for (const auto& [key, select] :
             std::vector<std::pair<std::string, std::string>>{
                 {"a", "SELECT 1e-5 FROM RDB$DATABASE"},
                 {"b", "SELECT 1.5e-7 FROM RDB$DATABASE"},
                 {"c", "SELECT X FROM V"},
                 {"d", "SELECT X FROM C"},
                 {"e", "SELECT 1.25e2 FROM RDB$DATABASE"}}) {
            for (std::string& s : Paste(key, select))
                statements.push_back(std::move(s));
        }
        RunStatements(db, statements);
        EXPECT_EQ(Texts(db), (std::vector<std::string>{"a|1E-5", "b|1.5E-7", "c|2.5E-9",
                                                       "d|1.5E-7", "e|125"}))
            << "dialect " << dialect;
    }
}

TEST_F(ValuesProcess, DatesOfEveryCenturyReadBackAsTheSameDate) {
    const std::vector<std::string> days = {"0001-01-01", "0099-12-31", "0100-03-01",
                                           "1899-12-30", "1950-06-15", "1999-12-31",
                                           "2000-02-29", "2049-01-01", "2050-06-15",
                                           "9999-12-31"};
    for (const int dialect : {1, 3}) {
        std::string ddl = kText + "CREATE TABLE SRC (ID INTEGER, D DATE, TS TIMESTAMP);\n"
                                  "CREATE TABLE DST (ID INTEGER, D DATE, TS TIMESTAMP);\n";
        std::vector<std::string> statements = Paste("text", "SELECT D FROM SRC WHERE ID = 5");
        for (std::size_t i = 0; i < days.size(); ++i) {
            const std::string id = std::to_string(i + 1);
            ddl += "INSERT INTO SRC VALUES (" + id + ", '" + days[i] + "', '" + days[i] + "');\n";
            statements.push_back("VAR @d = SELECT D FROM SRC WHERE ID = " + id);
            statements.push_back("VAR @t = SELECT TS FROM SRC WHERE ID = " + id);
            statements.push_back("INSERT INTO DST VALUES (" + id + ", '@d', '@t')");
        }
        // A time of day goes through a text cast in the query: the server's own form (long enough
        // for every digit) pastes back as is.
        ddl += "INSERT INTO SRC VALUES (99, NULL, '2024-02-29 13:45:10');\n";
        statements.push_back("VAR @t = SELECT CAST(TS AS VARCHAR(25)) FROM SRC WHERE ID = 99");
        statements.push_back("INSERT INTO DST VALUES (99, NULL, @t)");
        const std::string db = NewDatabase("dates" + std::to_string(dialect) + ".fdb", dialect, ddl);
        RunStatements(db, statements);
        EXPECT_EQ(Rows(db, "SELECT COUNT(*) FROM SRC S JOIN DST T ON T.ID = S.ID "
                           "WHERE S.ID = 99 AND T.TS = S.TS"),
                  std::vector<std::string>{"1"});
        // The server compares what it stored with what it read back.
        EXPECT_EQ(Rows(db, "SELECT COUNT(*) FROM SRC S JOIN DST T ON T.ID = S.ID "
                           "WHERE T.D = S.D AND T.TS = S.TS"),
                  std::vector<std::string>{std::to_string(days.size())})
            << "dialect " << dialect << "\n"
            << ReadFile(log);
        EXPECT_EQ(Texts(db), std::vector<std::string>{"text|6/15/1950"});
    }
}

TEST_F(ValuesProcess, BooleansThroughEveryStatementKind) {
    const std::string db = NewDatabase(
        "bool.fdb", 3,
        kText + "CREATE TABLE T (ID INTEGER, F BOOLEAN);\n"
                "CREATE TABLE DST (ID INTEGER, F BOOLEAN);\n"
                "INSERT INTO T VALUES (1, TRUE);\n"
                "INSERT INTO T VALUES (2, FALSE);\n"
                "INSERT INTO T VALUES (3, NULL);\n"
                "SET TERM ^;\n"
                "CREATE PROCEDURE P RETURNS (B BOOLEAN) AS BEGIN B = TRUE; END^\n"
                "CREATE PROCEDURE S RETURNS (B BOOLEAN) AS BEGIN B = FALSE; SUSPEND; END^\n"
                "SET TERM ;^\n");
    std::vector<std::string> statements = {
        "SELECT F FROM T",
        "INSERT INTO T VALUES (4, FALSE) RETURNING F",
        "EXECUTE BLOCK RETURNS (B BOOLEAN) AS BEGIN B = NULL; SUSPEND; END",
        "EXECUTE PROCEDURE P",
    };
    for (const char* id : {"1", "2", "3"}) {
        statements.push_back(std::string("VAR @b = SELECT F FROM T WHERE ID = ") + id);
        statements.push_back(std::string("INSERT INTO DST VALUES (") + id + ", @b)");
        statements.push_back(std::string("INSERT INTO TXT VALUES ('") + id + "', '@b')");
    }
    for (std::string& s : Paste("s", "SELECT B FROM S"))
        statements.push_back(std::move(s));
    statements.push_back("VAR @s = SELECT B FROM S");
    statements.push_back("UPDATE DST SET F = @s WHERE ID = 1");
    RunStatements(db, statements);
    EXPECT_EQ(ReadFile(log).find("level 1"), std::string::npos) << ReadFile(log);
    EXPECT_EQ(Texts(db), (std::vector<std::string>{"1|TRUE", "2|FALSE", "3|NULL", "s|FALSE"}));
    EXPECT_EQ(Rows(db, "SELECT ID, F FROM DST ORDER BY ID"),
              (std::vector<std::string>{"1|FALSE", "2|FALSE", "3|<null>"}));
    EXPECT_EQ(Rows(db, "SELECT ID, F FROM T WHERE ID = 4"), std::vector<std::string>{"4|FALSE"});
}

TEST_F(ValuesProcess, ANulByteFailsTheStatementOrDeclarationInsteadOfCuttingIt) {
    const std::string ddl = "CREATE TABLE T (ID INTEGER);\nINSERT INTO T VALUES (1);\n"
                            "INSERT INTO T VALUES (2);\nINSERT INTO T VALUES (3);\n";
    const std::string message = "SQL text holds a NUL byte (code 0) at character 14; the "
                                "statement is not sent, as the server would take it for the "
                                "end of the text";

    const std::string a = NewDatabase("nul-a.fdb", 3, ddl);
    const std::string deletion("DELETE FROM T\0 WHERE ID = 1", 27);
    RunStatements(a, {deletion, "INSERT INTO T VALUES (4)"}, "Cancel");
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("level 1:   error: there was an error during execution SQL: \r\n" +
                        deletion + "\r\nerror message: " + message + "\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(Rows(a, "SELECT ID FROM T ORDER BY ID"),
              (std::vector<std::string>{"1", "2", "3", "4"}));

    // A cut query would give the first row's ID; the run ends instead.
    const std::string b = NewDatabase("nul-b.fdb", 3, ddl);
    RunStatements(b, {std::string("VAR @x = SELECT ID FROM T\0 WHERE ID = 2", 39),
                      "DELETE FROM T WHERE ID = @x"},
                  "Cancel");
    EXPECT_NE(ReadFile(log).find("error during parsing SQL \r\nerror message: SQL text holds a "
                                 "NUL byte (code 0) at character 17;"),
              std::string::npos)
        << ReadFile(log);
    EXPECT_EQ(Rows(b, "SELECT ID FROM T ORDER BY ID"), (std::vector<std::string>{"1", "2", "3"}));
}

} // namespace

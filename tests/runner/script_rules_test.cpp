// Scripts as people write them, run by the real executable on real databases: blank lines
// inside statements, paragraphs of comments, OnError, values pasted as literals, side effects
// that happen once, and a log that says where each failure stands.
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using runnertest::Occurrences;
using runnertest::Rows;
using ::testing::HasSubstr;
using testsupport::ReadFile;
using testsupport::WriteFile;

class ScriptRules : public runnertest::RunnerProcessFixture {
protected:
    // Settings naming `databases`, with DebugMode and further lines of section General.
    void WriteSettingsWith(const std::vector<std::string>& databases, int debugMode,
                           const std::string& general) const {
        std::string content = "[General]\r\nDebugMode=" + std::to_string(debugMode) + "\r\n" +
                              general + "[Database]\r\n";
        for (std::size_t i = 0; i < databases.size(); ++i) {
            content += "db" + std::to_string(i) + "=" + databases[i] + "\r\n";
        }
        WriteFile(ini, content);
    }

    // The log's entries of `level` (their text after "level N:  ").
    std::vector<std::string> EntriesOfLevel(int level) const {
        const std::string prefix = "level " + std::to_string(level) + ":  ";
        std::vector<std::string> found;
        for (const std::string& entry : LogEntries()) {
            if (entry.starts_with(prefix)) {
                found.push_back(entry.substr(prefix.size()));
            }
        }
        return found;
    }
};

// A column list, a literal and a trigger body holding blank lines, a comment spanning one,
// and paragraphs of nothing but comments: applied as written, the comments skipped, the
// values exact (the file's CR LF line ends are the runner's too).
TEST_F(ScriptRules, BlankLinesInsideStatementsAndParagraphsOfComments) {
    const std::string db = NewDatabase("blank.fdb");
    WriteFile(script,
              "/* Licence header\r\n * of the upgrade */\r\n\r\n-- section: tables\r\n\r\n"
              "CREATE TABLE T (\r\n  ID INTEGER NOT NULL,\r\n\r\n  S VARCHAR(100)\r\n)\r\n\r\n"
              "/* a comment that spans\r\n\r\n   a blank line */ INSERT INTO T VALUES (1, "
              "'first\r\n\r\nline three')\r\n\r\n"
              "CREATE TRIGGER T_BI FOR T BEFORE INSERT AS\r\nBEGIN\r\n  IF (NEW.S IS NULL) "
              "THEN\r\n    NEW.S = 'default';\r\n\r\n  NEW.S = NEW.S || ';';\r\nEND\r\n\r\n"
              "INSERT INTO T (ID) VALUES (2)\r\n\r\n"
              "INSERT INTO T VALUES (3, 'info@example.com')\r\n");
    WriteSettings({db});
    Run();
    EXPECT_EQ(SetupStatus(), "Continue") << ReadFile(log);
    EXPECT_EQ(Rows(db, "SELECT ID, S FROM T ORDER BY ID"),
              (std::vector<std::string>{"1|first\r\n\r\nline three", "2|default;",
                                        "3|info@example.com;"}));
    const std::vector<std::string> progress = EntriesOfLevel(5);
    EXPECT_EQ(Occurrences(ReadFile(log), " execute SQL: "), 5u);
    EXPECT_THAT(progress,
                ::testing::Contains(" skipped a paragraph of comments only: " + script + ":1\r\n"));
    EXPECT_THAT(progress,
                ::testing::Contains(" skipped a paragraph of comments only: " + script + ":4\r\n"));
    EXPECT_EQ(ReadFile(log).find("Licence header"), std::string::npos);
}

// OnError: with the default the script goes on after a failed statement; with Stop the rest of
// that database's script is skipped, one entry says from which line how many statements, and
// the next database is upgraded as usual.
TEST_F(ScriptRules, OnErrorStopSkipsTheRestOfThatDatabasesScript) {
    for (const bool stop : {false, true}) {
        const testsupport::TempDir data;
        const std::string a = data.File("a.fdb");
        const std::string b = data.File("b.fdb");
        testsupport::CreateDatabase(a, 1,
                                    "CREATE TABLE T (N INTEGER); CREATE TABLE ONLY_A (N INTEGER);");
        testsupport::CreateDatabase(b, 1, "CREATE TABLE T (N INTEGER);");
        WriteFile(script, "INSERT INTO T VALUES (1)\n\nINSERT INTO ONLY_A VALUES (1)\n\n"
                          "INSERT INTO T VALUES (2)\n\n-- a note\n\nINSERT INTO T VALUES (3)\n");
        WriteSettingsWith({a, b}, 1, stop ? "OnError=Stop\r\n" : "");
        WriteFile(log, "");
        Run();
        EXPECT_EQ(SetupStatus(), "Cancel");
        EXPECT_EQ(Rows(a, "SELECT N FROM T ORDER BY N"), (std::vector<std::string>{"1", "2", "3"}));
        const std::vector<std::string> rowsOfB =
            stop ? std::vector<std::string>{"1"} : std::vector<std::string>{"1", "2", "3"};
        EXPECT_EQ(Rows(b, "SELECT N FROM T ORDER BY N"), rowsOfB);
        const std::vector<std::string> errors = EntriesOfLevel(1);
        ASSERT_EQ(errors.size(), stop ? 2u : 1u) << ReadFile(log);
        EXPECT_THAT(errors[0], HasSubstr("INSERT INTO ONLY_A VALUES (1)"));
        EXPECT_TRUE(errors[0].ends_with(Location(3, b) + "\r\n")) << errors[0];
        if (stop) {
            EXPECT_EQ(errors[1],
                      " error: OnError=Stop: 2 statements from line 5 on were not run\r\n" +
                          Location(5, b) + "\r\n");
        }
    }
}

// A text BLOB holding a quote and "--", a binary BLOB and a LIST() result are pasted as
// literals, so a value cannot change the statement; an undeclared reference inside a literal
// stays as written. At DebugMode 6 the log shows each stored value and each text as sent.
TEST_F(ScriptRules, ValuesArePastedAsLiteralsAndShownAtLevel6) {
    const std::string db = NewDatabase(
        "values.fdb", 1,
        "CREATE TABLE T (ID INTEGER, S VARCHAR(100), B BLOB SUB_TYPE 0);\n"
        "INSERT INTO T VALUES (0, 'zero', NULL);\nINSERT INTO T VALUES (1, 'one', NULL);\n"
        "CREATE TABLE CFG (NOTE BLOB SUB_TYPE TEXT, BIN BLOB SUB_TYPE 0);\n"
        "INSERT INTO CFG VALUES ('customer note'' --', x'00FF27');");
    WriteFile(script, "VAR @note = SELECT NOTE FROM CFG\n\nVAR @bin = SELECT BIN FROM CFG\n\n"
                      "VAR @names = SELECT LIST(S) FROM T WHERE ID = 1\n\n"
                      "VAR @none = SELECT S FROM T WHERE ID = 9\n\n"
                      "UPDATE T SET S = @note WHERE ID = 0\n\n"
                      "UPDATE T SET B = @bin WHERE ID = 1\n\n"
                      "INSERT INTO T (ID, S) VALUES (2, @names || ' <info@example.com>')\n");
    WriteSettings({db}, 6);
    Run();
    EXPECT_EQ(SetupStatus(), "Continue") << ReadFile(log);
    EXPECT_EQ(
        Rows(db, "SELECT ID, S, B FROM T ORDER BY ID"),
        (std::vector<std::string>{"0|customer note' --|<null>", std::string("1|one|\0\xFF'", 9),
                                  "2|one <info@example.com>|<null>"}));
    EXPECT_EQ(EntriesOfLevel(6),
              (std::vector<std::string>{
                  " variable @note = 'customer note'' --'\r\n",
                  " variable @bin = x'00FF27'\r\n",
                  " variable @names = 'one'\r\n",
                  " variable @none is undefined: its query gave no row\r\n",
                  " sent SQL: \r\nUPDATE T SET S = 'customer note'' --' WHERE ID = 0\r\n\r\n",
                  " sent SQL: \r\nUPDATE T SET B = x'00FF27' WHERE ID = 1\r\n\r\n",
                  " sent SQL: \r\nINSERT INTO T (ID, S) VALUES (2, 'one' || ' "
                  "<info@example.com>')\r\n\r\n",
              }));
}

// A failing procedure call and a failing EXECUTE BLOCK run twice, the runner's two attempts,
// and no more (a generator and rows written in autonomous transactions count the runs); a
// declaration's query that inserts a row keeps it through the next statement's failed first
// attempt and its retry.
TEST_F(ScriptRules, SideEffectsHappenOnce) {
    const std::string db = NewDatabase(
        "once.fdb", 1,
        "CREATE GENERATOR CALLS;\nCREATE GENERATOR ATTEMPTS;\nCREATE GENERATOR G_PARENT;\n"
        "CREATE TABLE AUDIT (N INTEGER);\nCREATE TABLE PARENT (ID INTEGER NOT NULL PRIMARY KEY);\n"
        "CREATE TABLE CHILD (PARENT_ID INTEGER);\nSET TERM ^;\n"
        "CREATE PROCEDURE AUDITED_FAILURE AS DECLARE X INTEGER; BEGIN IN AUTONOMOUS TRANSACTION "
        "DO INSERT INTO AUDIT VALUES (GEN_ID(CALLS, 1)); X = 1 / 0; END^\n"
        "CREATE PROCEDURE NEW_PARENT RETURNS (ID INTEGER) AS BEGIN ID = GEN_ID(G_PARENT, 1); "
        "INSERT INTO PARENT VALUES (:ID); SUSPEND; END^\nSET TERM ;^");
    WriteFile(script,
              "EXECUTE PROCEDURE AUDITED_FAILURE\n\n"
              "EXECUTE BLOCK AS\nDECLARE X INTEGER;\nBEGIN\n  IN AUTONOMOUS TRANSACTION DO\n"
              "    INSERT INTO AUDIT VALUES (100 + GEN_ID(CALLS, 1));\n\n  X = 1 / 0;\nEND\n\n"
              "VAR @parent = SELECT ID FROM NEW_PARENT\n\n"
              "INSERT INTO CHILD VALUES (@parent + 0 * (1 / (GEN_ID(ATTEMPTS, 1) - 1)))\n");
    WriteSettings({db}, 1);
    Run();
    EXPECT_EQ(SetupStatus(), "Cancel");
    EXPECT_EQ(EntriesOfLevel(1).size(), 2u) << ReadFile(log);
    EXPECT_EQ(Rows(db, "SELECT N FROM AUDIT ORDER BY N"),
              (std::vector<std::string>{"1", "2", "103", "104"}));
    EXPECT_EQ(Rows(db, "SELECT GEN_ID(CALLS, 0), GEN_ID(ATTEMPTS, 0) FROM RDB$DATABASE"),
              std::vector<std::string>{"4|2"});
    EXPECT_EQ(Rows(db, "SELECT P.ID, C.PARENT_ID FROM CHILD C LEFT JOIN PARENT P ON P.ID = "
                       "C.PARENT_ID"),
              std::vector<std::string>{"1|1"});
}

// At DebugMode 1 every error entry about a statement or declaration names the script line and
// the database; a procedure that does not compile keeps the server's place in its body.
TEST_F(ScriptRules, ErrorsNameTheirLineAndDatabaseAndCompileErrorsTheirPosition) {
    const std::string a = NewDatabase("a.fdb");
    const std::string b = NewDatabase("b.fdb");
    WriteFile(script, "CREATE TABLE U (A INTEGER)\n\n"
                      "CREATE PROCEDURE BROKEN RETURNS (X INTEGER) AS\nBEGIN\n\n"
                      "  SELECT A FROM U WHERE B = 1 INTO :X;\nEND\n\n"
                      "VAR @n = SELECT COUNT(*) FROM MISSING\n");
    WriteSettings({a, b}, 1);
    Run();
    const std::vector<std::string> errors = EntriesOfLevel(1);
    ASSERT_EQ(errors.size(), 4u) << ReadFile(log);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string& database = i == 0 ? a : b;
        const std::string& compile = errors[2 * i];
        EXPECT_TRUE(compile.starts_with(" error: there was an error during execution SQL: \r\n"
                                        "CREATE PROCEDURE BROKEN"))
            << compile;
        EXPECT_TRUE(compile.ends_with("\r\nerror message: unsuccessful metadata update\r\n"
                                      "CREATE PROCEDURE BROKEN failed\r\nDynamic SQL Error\r\n"
                                      "SQL error code = -206\r\nColumn unknown\r\nB\r\n"
                                      "At line 4, column 25\r\n" +
                                      Location(3, database) + "\r\n"))
            << compile;
        const std::string& declaration = errors[2 * i + 1];
        EXPECT_TRUE(declaration.starts_with(" error: there was an error during parsing SQL \r\n"))
            << declaration;
        EXPECT_TRUE(declaration.ends_with(Location(9, database) + "\r\n")) << declaration;
    }
}

}  // namespace

// The history table, seen from outside: the dbupgrade executable run several times over the
// same embedded databases with HistoryTable set, the log, SetupStatus, the databases' content
// and the table's rows read back after each run.
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using runnertest::Occurrences;
using runnertest::Rows;
using testsupport::ReadFile;
using testsupport::WriteFile;

class HistoryProcess : public runnertest::RunnerProcessFixture {
protected:
    // Settings with DebugMode 5, the history table `table` and the given databases.
    void WriteHistorySettings(const std::vector<std::string>& databases,
                              const std::string& table = "DBU_HISTORY") const {
        std::string content =
            "[General]\r\nDebugMode=5\r\nHistoryTable=" + table + "\r\n[Database]\r\n";
        for (std::size_t i = 0; i < databases.size(); ++i) {
            content += "db" + std::to_string(i) + "=" + databases[i] + "\r\n";
        }
        WriteFile(ini, content);
    }

    // Runs the runner once more and returns the entries that this run added to the log.
    std::vector<std::string> RunAgain() {
        const std::size_t before = testsupport::FileExists(log) ? LogEntries().size() : 0;
        Run();
        const std::vector<std::string> entries = LogEntries();
        return {entries.begin() + static_cast<std::ptrdiff_t>(before), entries.end()};
    }

    // The statements that `entries` show executed ("execute SQL") and skipped as applied.
    static std::vector<std::string> Executed(const std::vector<std::string>& entries) {
        return Statements(entries, "level 5:   execute SQL: \r\n");
    }
    static std::vector<std::string> Skipped(const std::vector<std::string>& entries) {
        // "skip SQL, applied dd-mm-yyyy hh:nn:ss: " and the statement.
        std::vector<std::string> statements;
        for (const std::string& entry : entries) {
            const std::string head = "level 5:   skip SQL, applied ";
            if (entry.rfind(head, 0) == 0 && entry.size() > head.size() + 23) {
                EXPECT_EQ(entry.substr(head.size() + 19, 4), ": \r\n") << entry;
                statements.push_back(
                    entry.substr(head.size() + 23, entry.size() - head.size() - 27));
            }
        }
        return statements;
    }

private:
    static std::vector<std::string> Statements(const std::vector<std::string>& entries,
                                               const std::string& head) {
        std::vector<std::string> statements;
        for (const std::string& entry : entries) {
            if (entry.rfind(head, 0) == 0) {
                statements.push_back(entry.substr(head.size(), entry.size() - head.size() - 4));
            }
        }
        return statements;
    }
};

// A script run three times applies each statement once: the first run executes them all (the
// same text twice, too, as two statements of its own), every later one skips them all and
// still runs the declaration; each run ends with Continue. The table holds one row per
// statement: its occurrence, first line, script file and text as written.
TEST_F(HistoryProcess, ScriptRunThreeTimesAppliesEachStatementOnce) {
    const std::string db = NewDatabase("a.fdb");
    WriteHistorySettings({db});
    const std::string update = "UPDATE COUNTER SET N = N + 1";
    WriteFile(script, "CREATE TABLE COUNTER (N INTEGER)\n\n"
                      "INSERT INTO COUNTER VALUES (0)\n\n"
                      "VAR @n = SELECT MAX(N) FROM COUNTER\n\n" +
                          update + "\n\n  " + update +
                          "\n\n"
                          "INSERT INTO COUNTER VALUES (@n)\n");
    const std::vector<std::string> statements{"CREATE TABLE COUNTER (N INTEGER)",
                                              "INSERT INTO COUNTER VALUES (0)", update,
                                              "  " + update, "INSERT INTO COUNTER VALUES (@n)"};

    const std::vector<std::string> first = RunAgain();
    EXPECT_EQ(Executed(first), statements) << ReadFile(log);
    EXPECT_EQ(
        Occurrences(ReadFile(log),
                    "level 5:   history table DBU_HISTORY created in database " + db + "\r\n"),
        1u);
    EXPECT_EQ(SetupStatus(), "Continue");
    for (int run = 2; run <= 3; ++run) {
        const std::vector<std::string> entries = RunAgain();
        EXPECT_EQ(Executed(entries), std::vector<std::string>{}) << "run " << run;
        EXPECT_EQ(Skipped(entries), statements) << "run " << run;
        EXPECT_EQ(Occurrences(ReadFile(log), "level 1:"), 0u) << ReadFile(log);
        EXPECT_EQ(SetupStatus(), "Continue");
    }
    EXPECT_EQ(Occurrences(ReadFile(log), "history table DBU_HISTORY created"), 1u);
    // Two updates on the first run; the declaration's value (0) inserted once.
    EXPECT_EQ(Rows(db, "SELECT N FROM COUNTER ORDER BY N"), (std::vector<std::string>{"0", "2"}));
    EXPECT_EQ(Rows(db, "SELECT OCCURRENCE, FIRST_LINE, SCRIPT_FILE, STATEMENT_TEXT, "
                       "CHAR_LENGTH(STATEMENT_HASH), APPLIED_AT IS NOT NULL FROM DBU_HISTORY "
                       "ORDER BY FIRST_LINE"),
              (std::vector<std::string>{
                  "1|1|dbupgrade.sql|CREATE TABLE COUNTER (N INTEGER)|16|TRUE",
                  "1|3|dbupgrade.sql|INSERT INTO COUNTER VALUES (0)|16|TRUE",
                  "1|7|dbupgrade.sql|" + update + "|16|TRUE",
                  "2|9|dbupgrade.sql|" + update + "|16|TRUE",
                  "1|11|dbupgrade.sql|INSERT INTO COUNTER VALUES (@n)|16|TRUE",
              }));
    EXPECT_EQ(Rows(db, "SELECT RDB$UNIQUE_FLAG, RDB$SEGMENT_COUNT FROM RDB$INDICES WHERE "
                       "RDB$INDEX_NAME = 'DBU_HISTORY_KEY'"),
              std::vector<std::string>{"1|2"});

    // Starting over: a statement whose row is deleted runs again; without the table (created
    // anew) the whole script does.
    testsupport::RunIsqlOn(db, "DELETE FROM DBU_HISTORY WHERE OCCURRENCE = 2;\nCOMMIT;\n");
    EXPECT_EQ(Executed(RunAgain()), std::vector<std::string>{"  " + update});
    EXPECT_EQ(Rows(db, "SELECT N FROM COUNTER ORDER BY N"), (std::vector<std::string>{"1", "3"}));
    testsupport::RunIsqlOn(db, "DROP TABLE DBU_HISTORY;\nCOMMIT;\n");
    EXPECT_EQ(Executed(RunAgain()), statements);
}

// A statement longer than a string parameter can carry (here 40,000 characters, most of them
// a comment) is recorded whole, and found again.
TEST_F(HistoryProcess, LongStatementIsKeptWhole) {
    const std::string db = NewDatabase("a.fdb", 1, "CREATE TABLE T (N INTEGER);");
    WriteHistorySettings({db});
    const std::string longer = "INSERT INTO T VALUES (1) /* " + std::string(40000, 'x') + " */";
    const std::string shorter = "INSERT INTO T VALUES (2)";
    WriteFile(script, longer + "\n\n" + shorter + "\n");
    EXPECT_EQ(Executed(RunAgain()), (std::vector<std::string>{longer, shorter}));
    EXPECT_EQ(Skipped(RunAgain()), (std::vector<std::string>{longer, shorter}));
    EXPECT_EQ(Rows(db, "SELECT STATEMENT_TEXT FROM DBU_HISTORY ORDER BY FIRST_LINE"),
              (std::vector<std::string>{longer, shorter}));
    EXPECT_EQ(Rows(db, "SELECT N FROM T ORDER BY N"), (std::vector<std::string>{"1", "2"}));
}

// A statement fails (Cancel); the script is fixed and run again: the statements applied before
// are skipped, the fixed one runs, and the run ends with Continue.
TEST_F(HistoryProcess, FixedScriptResumesWhereItFailed) {
    const std::string db = NewDatabase("a.fdb", 1, "CREATE TABLE T (N INTEGER);");
    WriteHistorySettings({db});
    const std::string before = "INSERT INTO T VALUES (1)";
    const std::string broken = "INSERT INTO MISSING VALUES (2)";
    const std::string fixed = "INSERT INTO T VALUES (2)";
    const std::string after = "UPDATE T SET N = N * 10";
    WriteFile(script, before + "\n\n" + broken + "\n\n" + after + "\n");
    const std::vector<std::string> failed = RunAgain();
    EXPECT_EQ(Executed(failed), (std::vector<std::string>{before, broken, after}));
    EXPECT_EQ(SetupStatus(), "Cancel");

    WriteFile(script, before + "\n\n" + fixed + "\n\n" + after + "\n");
    const std::vector<std::string> resumed = RunAgain();
    EXPECT_EQ(Executed(resumed), std::vector<std::string>{fixed});
    EXPECT_EQ(Skipped(resumed), (std::vector<std::string>{before, after}));
    EXPECT_EQ(Occurrences(ReadFile(log), "level 1:"), 1u) << ReadFile(log);
    EXPECT_EQ(SetupStatus(), "Continue");
    EXPECT_EQ(Rows(db, "SELECT N FROM T ORDER BY N"), (std::vector<std::string>{"2", "10"}));
}

// A history table that cannot be used fails its database with one level-1 entry, and the
// script does not run there: a name that is no table name (every database), a table of that
// name that is no history table (that database only; the next one is upgraded).
TEST_F(HistoryProcess, UnusableHistoryTableFailsItsDatabase) {
    struct Case {
        const char* table;
        std::string ddl;  // of the first database
        std::string message;
        bool secondUpgraded;
    };
    const std::vector<Case> cases{
        {"DBU-HISTORY", "",
         "'DBU-HISTORY' is no table name: a letter, then letters, digits, _ or $, at most 27",
         false},
        {"H234567890123456789012345678", "",
         "'H234567890123456789012345678' is no table name: a letter, then letters, digits, _ or "
         "$, at most 27",
         false},
        {"HIST", "CREATE TABLE HIST (ID INTEGER);", "Dynamic SQL Error", true},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        ++round;
        const std::string first = NewDatabase("first" + std::to_string(round) + ".fdb", 1,
                                              "CREATE TABLE T (N INTEGER);" + c.ddl);
        const std::string second = NewDatabase("second" + std::to_string(round) + ".fdb", 1,
                                               "CREATE TABLE T (N INTEGER);");
        WriteHistorySettings({first, second}, c.table);
        WriteFile(script, "INSERT INTO T VALUES (1)\n");
        const std::vector<std::string> entries = RunAgain();
        EXPECT_EQ(SetupStatus(), "Cancel");
        const std::string entry = "level 1:   error: history table " + std::string(c.table) +
                                  " cannot be created or written in database " + first +
                                  "\r\nerror message: " + c.message;
        ASSERT_GE(entries.size(), 6u) << ReadFile(log);
        EXPECT_EQ(entries[4].rfind(entry, 0), 0u) << entries[4];
        EXPECT_EQ(Rows(first, "SELECT COUNT(*) FROM T"), std::vector<std::string>{"0"});
        EXPECT_EQ(Rows(second, "SELECT COUNT(*) FROM T"),
                  std::vector<std::string>{c.secondUpgraded ? "1" : "0"});
        EXPECT_EQ(Executed(entries).size(), c.secondUpgraded ? 1u : 0u);
    }
}

}  // namespace

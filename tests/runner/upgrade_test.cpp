// The whole upgrade end to end: the dbupgrade executable runs realistic scripts against real
// dialect-1 databases, embedded and over the server, and the log, SetupStatus and the
// databases' content are read back afterwards.
#include "ibclient/Errors.h"
#include "ibclient/Fields.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBQuery.h"
#include "ibclient/IBSQL.h"
#include "ibclient/IBTransaction.h"
#include "tests/ibclient/ConnectionFixture.h"
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using runnertest::Connection;
using runnertest::Occurrences;
using runnertest::Rows;
using testsupport::ReadFile;
using testsupport::WriteFile;

const std::string kClose = "level 5:   Close application\r\n";

// The level-5 entry of a statement as the script holds it (lines joined by CR LF).
std::string Executed(const std::string& statement) {
    return "level 5:   execute SQL: \r\n" + statement + "\r\n\r\n";
}

std::string Started(const std::string& database) {
    return "level 5:   Start upgrade database " + database + " \r\n";
}

std::string Succeeded(const std::string& database) {
    return "level 5:   Database " + database + " upgrade was successful completed\r\n";
}

// `location` is the fixture's Location of the statement.
std::string ExecutionFailed(const std::string& statement, const std::string& message,
                            const std::string& location) {
    return "level 1:   error: there was an error during execution SQL: \r\n" + statement +
           "\r\nerror message: " + message + "\r\n" + location + "\r\n";
}

std::string ParsingFailed(const std::string& message, const std::string& location) {
    return "level 1:   error: there was an error during parsing SQL \r\nerror message: " + message +
           "\r\n" + location + "\r\n";
}

// The entries that list the databases at DebugMode 5.
std::vector<std::string> Listing(const std::vector<std::string>& databases) {
    std::vector<std::string> entries{
        "level 5:   Database list count = " + std::to_string(databases.size()) + "\r\n"};
    for (std::size_t i = 0; i < databases.size(); ++i) {
        entries.push_back("level 5:   database_" + std::to_string(i) + " - " + databases[i] +
                          "\r\n");
    }
    return entries;
}

// `text` with every LF turned into CR LF: a statement as the script reader hands it on.
std::string CrLf(const std::string& text) {
    std::string result;
    for (const char c : text) {
        if (c == '\n') {
            result += '\r';
        }
        result += c;
    }
    return result;
}

// The message the server gives for `sql` run as the runner runs a statement.
std::string ExecutionError(const std::string& database, const std::string& sql) {
    Connection c(database);
    ibclient::TIBSQL statement;
    statement.SetTransaction(&c.tr);
    statement.SetParamCheck(false);
    statement.SQL().SetText(sql);
    try {
        statement.RunStatement();
    } catch (const ibclient::Exception& e) {
        c.tr.Rollback();
        return e.Message();
    }
    ADD_FAILURE() << sql << " ran";
    return "";
}

// The message opening `sql` as a query (a declaration's SELECT) gives.
std::string QueryError(const std::string& database, const std::string& sql) {
    Connection c(database);
    ibclient::TIBQuery query;
    query.SetTransaction(&c.tr);
    query.SetSQLText(sql);
    try {
        query.Open();
    } catch (const ibclient::Exception& e) {
        return e.Message();
    }
    ADD_FAILURE() << sql << " opened";
    return "";
}

class UpgradeProcess : public runnertest::RunnerProcessFixture {
protected:
    // The texts of numbers and dates follow the locale; the C locale keeps them fixed.
    UpgradeProcess() {
        if (const char* old = std::getenv("LC_ALL")) {
            oldLocale_ = old;
        }
        ::setenv("LC_ALL", "C", 1);
    }
    ~UpgradeProcess() override {
        if (oldLocale_) {
            ::setenv("LC_ALL", oldLocale_->c_str(), 1);
        } else {
            ::unsetenv("LC_ALL");
        }
    }

    // Writes the statements as a script, separated by blank lines; returns the statements
    // as the runner logs them.
    std::vector<std::string> WriteStatements(const std::vector<std::string>& statements,
                                             const std::string& separator = "\n\n") const {
        std::string content;
        std::vector<std::string> asRead;
        for (const std::string& statement : statements) {
            content += (content.empty() ? "" : separator) + statement;
            asRead.push_back(CrLf(statement));
        }
        WriteFile(script, content + "\n");
        return asRead;
    }

private:
    std::optional<std::string> oldLocale_;
};

// Entries of the executed statements (declarations are not logged).
std::vector<std::string> ExecutedEntries(const std::vector<std::string>& statements) {
    std::vector<std::string> entries;
    for (const std::string& statement : statements) {
        if (statement.rfind("VAR ", 0) != 0 && statement.rfind("var ", 0) != 0) {
            entries.push_back(Executed(statement));
        }
    }
    return entries;
}

TEST_F(UpgradeProcess, RealisticScriptUpgradesEveryDatabaseEmbeddedAndOverTheServer) {
    std::vector<std::string> databases{NewDatabase("main.fdb"), NewDatabase("archive.fdb")};
    if (testsupport::ServerAvailable()) {
        const std::string remote = "localhost:" + dir.File("remote.fdb");
        testsupport::CreateDatabase(remote, 1);
        databases.push_back(remote);
    }
    // Trigger and procedure bodies hold semicolons and a :NAME reference that must reach the
    // server untouched; the @carry reference runs before @carry is declared, in every run.
    const std::vector<std::string> statements = WriteStatements(
        {"/* Release 2.4: customer numbering */\n"
         "CREATE TABLE CUSTOMER (\n"
         "  ID INTEGER NOT NULL PRIMARY KEY,\n"
         "  NAME VARCHAR(40) NOT NULL\n"
         ")",
         "CREATE TABLE CARRY (V VARCHAR(20))", "INSERT INTO CARRY VALUES ('(@carry)')",
         "CREATE GENERATOR GEN_CUSTOMER_ID", "SET GENERATOR GEN_CUSTOMER_ID TO 100",
         "CREATE TRIGGER CUSTOMER_BI FOR CUSTOMER\n"
         "ACTIVE BEFORE INSERT POSITION 0\n"
         "AS\n"
         "BEGIN\n"
         "  IF (NEW.ID IS NULL) THEN\n"
         "    NEW.ID = GEN_ID(GEN_CUSTOMER_ID, 1);\n"
         "  NEW.NAME = UPPER(NEW.NAME);\n"
         "END",
         "CREATE PROCEDURE ADD_CUSTOMER (NAME VARCHAR(40))\n"
         "RETURNS (NEW_ID INTEGER)\n"
         "AS\n"
         "BEGIN\n"
         "  INSERT INTO CUSTOMER (NAME) VALUES (:NAME);\n"
         "  NEW_ID = GEN_ID(GEN_CUSTOMER_ID, 0);\n"
         "END",
         "VAR @prefix = 'Release 2.4: '", "var @first = SELECT MIN(ID) FROM CUSTOMER",
         "EXECUTE PROCEDURE ADD_CUSTOMER 'Smith'", "  EXECUTE PROCEDURE ADD_CUSTOMER 'O''Brien'",
         "VAR @last = SELECT MAX(ID) FROM CUSTOMER",
         "VAR @lastName = SELECT NAME FROM CUSTOMER WHERE ID = @last",
         "CREATE TABLE UPGRADE_LOG (NOTE VARCHAR(80), FIRST_ID INTEGER, LAST_ID INTEGER)",
         "INSERT INTO UPGRADE_LOG\n  VALUES (@prefix || @lastName, @first, @last)",
         "VAR @carry = leaked"},
        "\n \n\t\n");
    WriteSettings(databases);
    Run();

    std::vector<std::string> expected = Listing(databases);
    for (const std::string& database : databases) {
        expected.push_back(Started(database));
        for (const std::string& entry : ExecutedEntries(statements)) {
            expected.push_back(entry);
        }
        expected.push_back(Succeeded(database));
    }
    expected.push_back(kClose);
    EXPECT_EQ(LogEntries(), expected);
    EXPECT_EQ(SetupStatus(), "Continue");

    for (const std::string& database : databases) {
        SCOPED_TRACE(database);
        EXPECT_EQ(Rows(database, "SELECT ID, NAME FROM CUSTOMER ORDER BY ID"),
                  (std::vector<std::string>{"101|SMITH", "102|O'BRIEN"}));
        // MIN over no rows is NULL, pasted as the word NULL.
        EXPECT_EQ(Rows(database, "SELECT NOTE, FIRST_ID, LAST_ID FROM UPGRADE_LOG"),
                  std::vector<std::string>{"Release 2.4: O'BRIEN|<null>|102"});
        // Variables of one database's run are gone in the next one's: the undeclared reference
        // stays as written inside the literal.
        EXPECT_EQ(Rows(database, "SELECT V FROM CARRY"), std::vector<std::string>{"(@carry)"});
    }
}

TEST_F(UpgradeProcess, VariablesOfEveryFieldClassArePastedIntoLaterStatements) {
    const std::string columns = "ID INTEGER, QTY INTEGER, PRICE NUMERIC(9,2), "
                                "RATIO DOUBLE PRECISION, SMALL SMALLINT, BORN DATE, "
                                "CODE CHAR(6), NAME VARCHAR(60)";
    const std::string db = NewDatabase(
        "fields.fdb", 1,
        "CREATE TABLE SRC (" + columns + ");\n" + "CREATE TABLE DST (" + columns + ");\n" +
            "CREATE TABLE TXT (K VARCHAR(10), V VARCHAR(200));\n"
            "INSERT INTO SRC VALUES (1, -42, 1234.5, 0.1, 32767, '2024-02-29', 'AB', "
            "'O''Brien');\n"
            "INSERT INTO SRC VALUES (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL);\n"
            // A stored text that would end the literal and append a statement if pasted as is.
            "INSERT INTO SRC VALUES (3, 0, -0.25, 1.5e20, -1, '1999-12-31', 'x''y', "
            "'x''); DELETE FROM SRC WHERE (''1''=''1');\n");

    // Each row's columns into variables; the declaration queries use the earlier variables.
    std::vector<std::string> declarations;
    const auto declareRow = [&declarations](const std::string& row) {
        declarations.push_back("VAR @row = " + row);
        for (const char* column : {"QTY", "PRICE", "RATIO", "SMALL", "BORN", "CODE", "NAME"}) {
            declarations.push_back(std::string("VAR @") + column + " = SELECT " + column +
                                   " FROM SRC WHERE ID = @row");
        }
    };
    std::vector<std::string> script;
    declareRow("1");
    script.insert(script.end(), declarations.begin(), declarations.end());
    script.push_back("INSERT INTO TXT VALUES ('1', '@qty|@price|@ratio|@small|@born')");
    script.push_back("INSERT INTO DST VALUES (@row, @qty, @price, @ratio, @small, '@born', @code, "
                     "@name)");
    declarations.clear();
    declareRow("2");
    script.insert(script.end(), declarations.begin(), declarations.end());
    script.push_back("INSERT INTO TXT VALUES ('2', '@qty|@price|@ratio|@small|@born')");
    // NULL of a date pastes NULL, not a text: no quotation marks around @born here.
    script.push_back("INSERT INTO DST VALUES (@row, @qty, @price, @ratio, @small, @born, @code, "
                     "@name)");
    declarations.clear();
    declareRow("3");
    script.insert(script.end(), declarations.begin(), declarations.end());
    script.push_back("INSERT INTO TXT VALUES ('3', '@qty|@price|@ratio|@small|@born')");
    script.push_back("INSERT INTO DST VALUES (@row, @qty, @price, @ratio, @small, '@born', @code, "
                     "@name)");
    // A query without rows undefines the variable; inside the literal the reference then stays
    // as written.
    script.push_back("VAR @gone = 5");
    script.push_back("VAR @GONE = SELECT ID FROM SRC WHERE ID = -1");
    script.push_back("INSERT INTO TXT VALUES ('gone', '(@gone)')");
    const std::vector<std::string> statements = WriteStatements(script);
    WriteSettings({db});
    Run();

    std::vector<std::string> expected = Listing({db});
    expected.push_back(Started(db));
    for (const std::string& entry : ExecutedEntries(statements)) {
        expected.push_back(entry);
    }
    expected.push_back(Succeeded(db));
    expected.push_back(kClose);
    EXPECT_EQ(LogEntries(), expected);
    EXPECT_EQ(SetupStatus(), "Continue");

    EXPECT_EQ(
        Rows(db, "SELECT K, V FROM TXT"),
        (std::vector<std::string>{"1|-42|1234.5|0.1|32767|2/29/2024", "2|NULL|NULL|NULL|NULL|NULL",
                                  "3|0|-0.25|1.5E20|-1|12/31/1999", "gone|(@gone)"}));
    // Every value arrives as stored, except that a NULL of a text column becomes ''.
    const std::string all = "SELECT ID, QTY, PRICE, RATIO, SMALL, BORN, CODE, NAME FROM ";
    std::vector<std::string> source = Rows(db, all + "SRC ORDER BY ID");
    ASSERT_EQ(source.size(), 3u);
    EXPECT_EQ(source[1], "2|<null>|<null>|<null>|<null>|<null>|<null>|<null>");
    source[1] = "2|<null>|<null>|<null>|<null>|<null>|      |";
    EXPECT_EQ(Rows(db, all + "DST ORDER BY ID"), source);
    EXPECT_EQ(Rows(db, "SELECT NAME FROM DST WHERE ID = 1"), std::vector<std::string>{"O'Brien"});
}

TEST_F(UpgradeProcess, FailingStatementsAreReportedWithTheServersTextAndTheScriptGoesOn) {
    const std::string db = NewDatabase("syntax.fdb");
    const std::vector<std::string> statements = WriteStatements({
        "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY)",
        "INSERT INTO T VALUES (1)",
        "CREAT TABLE U (ID INTEGER)",
        // Not a declaration: the keyword must be followed by a blank.
        "VAR\t@x = 1",
        // Fails on its second row: the first one must not stay either.
        "INSERT INTO T SELECT 2 FROM RDB$DATABASE UNION ALL SELECT 1 FROM RDB$DATABASE",
        "INSERT INTO T VALUES (4)",
    });
    WriteSettings({db});
    Run();

    const std::string syntax = ExecutionError(db, statements[2]);
    // The undeclared @x vanishes before the text reaches the server.
    const std::string var = ExecutionError(db, "VAR\t = 1");
    const std::string duplicate = ExecutionError(db, statements[4]);
    EXPECT_NE(syntax.find("Token unknown"), std::string::npos) << syntax;
    EXPECT_NE(duplicate.find("PRIMARY"), std::string::npos) << duplicate;
    std::vector<std::string> expected = Listing({db});
    expected.insert(
        expected.end(),
        {Started(db), Executed(statements[0]), Executed(statements[1]), Executed(statements[2]),
         ExecutionFailed(statements[2], syntax, Location(5, db)), Executed(statements[3]),
         ExecutionFailed(statements[3], var, Location(7, db)), Executed(statements[4]),
         ExecutionFailed(statements[4], duplicate, Location(9, db)), Executed(statements[5]),
         kClose});
    EXPECT_EQ(LogEntries(), expected);
    EXPECT_EQ(SetupStatus(), "Cancel");
    EXPECT_EQ(Rows(db, "SELECT ID FROM T ORDER BY ID"), (std::vector<std::string>{"1", "4"}));
}

TEST_F(UpgradeProcess, MalformedDeclarationEndsTheRunOfEachDatabase) {
    const std::string a = NewDatabase("a.fdb");
    const std::string b = NewDatabase("b.fdb");
    const std::vector<std::string> statements =
        WriteStatements({"CREATE TABLE T (ID INTEGER)", "VAR x = 1", "INSERT INTO T VALUES (1)"});
    WriteSettings({a, b});
    Run();

    const auto error = [this](const std::string& db) {
        return ParsingFailed("Declare variable statement is incorrect SQL:\r\nVAR x = 1",
                             Location(3, db));
    };
    std::vector<std::string> expected = Listing({a, b});
    expected.insert(expected.end(), {Started(a), Executed(statements[0]), error(a), Started(b),
                                     Executed(statements[0]), error(b), kClose});
    EXPECT_EQ(LogEntries(), expected);
    EXPECT_EQ(SetupStatus(), "Cancel");
    for (const std::string& db : {a, b}) {
        EXPECT_EQ(Rows(db, "SELECT COUNT(*) FROM T"), std::vector<std::string>{"0"}) << db;
    }
}

TEST_F(UpgradeProcess, FailingDeclarationQueryEndsOnlyThatDatabasesRun) {
    const std::string a = NewDatabase("a.fdb", 1, "CREATE TABLE DONE (N INTEGER);");
    const std::string b = NewDatabase("b.fdb", 1,
                                      "CREATE TABLE DONE (N INTEGER);\n"
                                      "CREATE TABLE ONLY_B (ID INTEGER);\n"
                                      "INSERT INTO ONLY_B VALUES (1);\n"
                                      "INSERT INTO ONLY_B VALUES (2);");
    const std::vector<std::string> statements =
        WriteStatements({"INSERT INTO DONE VALUES (0)", "VAR @n = SELECT COUNT(*) FROM ONLY_B",
                         "INSERT INTO DONE VALUES (@n)"});
    WriteSettings({a, b});
    Run();

    const std::string message = QueryError(a, "SELECT COUNT(*) FROM ONLY_B");
    std::vector<std::string> expected = Listing({a, b});
    // b is upgraded completely, but after a's error no success is reported any more.
    expected.insert(expected.end(),
                    {Started(a), Executed(statements[0]), ParsingFailed(message, Location(3, a)),
                     Started(b), Executed(statements[0]), Executed(statements[2]), kClose});
    EXPECT_EQ(LogEntries(), expected);
    EXPECT_EQ(SetupStatus(), "Cancel");
    EXPECT_EQ(Rows(a, "SELECT N FROM DONE"), std::vector<std::string>{"0"});
    EXPECT_EQ(Rows(b, "SELECT N FROM DONE ORDER BY N"), (std::vector<std::string>{"0", "2"}));
}

TEST_F(UpgradeProcess, MissingScriptIsAnErrorForEveryDatabase) {
    const std::string a = NewDatabase("a.fdb");
    const std::string b = NewDatabase("b.fdb");
    std::filesystem::remove(script);
    WriteSettings({a, b});
    Run();
    const std::string error = "level 1:   error: coudn't open file " + script +
                              "\r\nerror message: File not found\r\n\r\n";
    std::vector<std::string> expected = Listing({a, b});
    expected.insert(expected.end(), {Started(a), error, Started(b), error, kClose});
    EXPECT_EQ(LogEntries(), expected);
    EXPECT_EQ(SetupStatus(), "Cancel");
}

TEST_F(UpgradeProcess, FirstArgumentNamesTheScriptOnlyWithASqlExtension) {
    const std::string db = NewDatabase("args.fdb", 1, "CREATE TABLE RAN (NAME VARCHAR(20));");
    std::filesystem::create_directory(dir.File("sub"));
    WriteFile(script, "INSERT INTO RAN VALUES ('default')");
    WriteFile(dir.File("sub/up.sql"), "INSERT INTO RAN VALUES ('lower')");
    WriteFile(dir.File("sub/UP2.SQL"), "INSERT INTO RAN VALUES ('upper')");
    WriteFile(dir.File("notes.txt"), "INSERT INTO RAN VALUES ('txt')");
    WriteSettings({db});
    Run(0, {dir.File("sub/up.sql"), dir.File("notes.txt")});
    Run(0, {"sub/UP2.SQL"});  // relative to the working folder
    Run(0, {dir.File("notes.txt")});
    Run(0, {});
    EXPECT_EQ(Rows(db, "SELECT NAME FROM RAN"),
              (std::vector<std::string>{"lower", "upper", "default", "default"}));
    EXPECT_EQ(SetupStatus(), "Continue");
}

TEST_F(UpgradeProcess, LineRulesOfARealScript) {
    const std::string db = NewDatabase("lines.fdb");
    // A tab-only line ends a statement, CR LF and LF end lines, a lone CR vanishes, Ctrl-Z
    // ends the script.
    WriteFile(script, "CREATE TABLE E (N INTEGER,\r\n  V VARCHAR(30))\n\t\n"
                      "INSERT INTO E VALUES (1, 'one')\r\n \r\n"
                      "INSERT INTO E \rVALUES (2, 'lone \rCR')\n\n"
                      "INSERT INTO E VALUES (3, 'three')\x1A\n\nINSERT INTO E VALUES (4, 'z')\n");
    WriteSettings({db});
    Run();
    std::vector<std::string> expected = Listing({db});
    expected.insert(expected.end(),
                    {Started(db), Executed("CREATE TABLE E (N INTEGER,\r\n  V VARCHAR(30))"),
                     Executed("INSERT INTO E VALUES (1, 'one')"),
                     Executed("INSERT INTO E VALUES (2, 'lone CR')"),
                     Executed("INSERT INTO E VALUES (3, 'three')"), Succeeded(db), kClose});
    EXPECT_EQ(LogEntries(), expected);

    // The last statement without a line break after it.
    WriteFile(script, "\n\nINSERT INTO E VALUES (5, 'last')");
    Run();
    EXPECT_EQ(SetupStatus(), "Continue");
    EXPECT_EQ(Rows(db, "SELECT N, V FROM E ORDER BY N"),
              (std::vector<std::string>{"1|one", "2|lone CR", "3|three", "5|last"}));
}

// A conflict that only exists while another transaction holds the row: the runner's update
// waits for it, fails with an update conflict when the other transaction commits, and the
// retry on a fresh connection succeeds without any error being reported.
TEST_F(UpgradeProcess, UpdateConflictIsHealedByTheRetryOnAFreshConnection) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string db = "localhost:" + dir.File("conflict.fdb");
    testsupport::CreateDatabase(
        db, 1,
        "CREATE TABLE ACCOUNT (ID INTEGER NOT NULL PRIMARY KEY, OWNER VARCHAR(20), "
        "ATTACHMENT INTEGER);\n"
        "INSERT INTO ACCOUNT VALUES (1, 'setup', NULL);");
    const std::string update =
        "UPDATE ACCOUNT SET OWNER = 'runner', ATTACHMENT = CURRENT_CONNECTION WHERE ID = 1";
    const std::vector<std::string> statements =
        WriteStatements({update, "INSERT INTO ACCOUNT VALUES (2, 'next', CURRENT_CONNECTION)"});
    WriteSettings({db});

    Connection blocker(db);
    testsupport::ExecSQL(blocker.db, blocker.tr,
                         "UPDATE ACCOUNT SET OWNER = 'blocker' WHERE ID = 1");
    Connection watcher(db);

    testsupport::ProcessResult result;
    std::thread runner([&] { result = testsupport::RunProcess({exe}, dir.Path()); });

    // The runner's update has been logged and is executing on the server, that is, waiting
    // for the blocker's row lock: remember which attachment runs it.
    const std::string waitingQuery =
        "SELECT COALESCE(MAX(MON$ATTACHMENT_ID), 0) FROM MON$STATEMENTS "
        "WHERE MON$STATE = 1 AND MON$SQL_TEXT STARTING WITH '" +
        std::string("UPDATE ACCOUNT SET OWNER = ''runner''") + "'";
    std::int64_t waitingAttachment = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitingAttachment == 0 && std::chrono::steady_clock::now() < deadline) {
        if (ReadFile(log).find(" execute SQL: \r\n" + update) != std::string::npos) {
            // Monitoring tables show a snapshot per transaction: a new one for every look.
            watcher.tr.Commit();
            watcher.tr.Start();
            waitingAttachment = testsupport::QueryInt(watcher.db, watcher.tr, waitingQuery);
        }
        if (waitingAttachment == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    blocker.tr.Commit();
    runner.join();
    watcher.tr.Commit();
    blocker.db.Close();
    watcher.db.Close();
    ASSERT_NE(waitingAttachment, 0) << "the runner's update was never seen waiting\n"
                                    << ReadFile(log);

    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out + result.err, "");
    std::vector<std::string> expected = Listing({db});
    expected.insert(expected.end(), {Started(db), Executed(statements[0]), Executed(statements[1]),
                                     Succeeded(db), kClose});
    EXPECT_EQ(LogEntries(), expected);
    EXPECT_EQ(SetupStatus(), "Continue");
    // The runner's value overwrote the blocker's, written on another attachment than the one
    // that waited; the next statement ran on that new attachment too.
    const std::vector<std::string> rows =
        Rows(db, "SELECT ID, OWNER, ATTACHMENT FROM ACCOUNT ORDER BY ID");
    ASSERT_EQ(rows.size(), 2u);
    const std::string retried = rows[0].substr(rows[0].rfind('|') + 1);
    EXPECT_EQ(rows[0], "1|runner|" + retried);
    EXPECT_NE(retried, std::to_string(waitingAttachment));
    EXPECT_EQ(rows[1], "2|next|" + retried);
}

}  // namespace

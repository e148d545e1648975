// The runner's per-database connection, seen from outside: the dbupgrade executable run as a
// process against missing, embedded and server databases.
#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using runnertest::Occurrences;
using testsupport::ReadFile;

class ConnectionProcess : public runnertest::RunnerProcessFixture {
protected:
    // Writes the settings with DebugMode 5 and the given database entries, runs dbupgrade and
    // returns the log.
    std::string Run(const std::vector<std::string>& databases) {
        WriteSettings(databases);
        RunnerProcessFixture::Run();
        return ReadFile(log);
    }

    // The message that connecting to `name` with the runner's settings raises in this process.
    static std::string ConnectError(const std::string& name) {
        ibclient::TIBDatabase db;
        db.SetDatabaseName(name);
        db.SetLoginPrompt(false);
        db.Params().SetCommaText("user_name=SYSDBA,password=quillfern,lc_ctype=WIN1251");
        db.SetSQLDialect(1);
        try {
            db.Open();
        } catch (const ibclient::Exception& e) {
            return e.Message();
        }
        ADD_FAILURE() << name << " connected";
        return "";
    }
};

TEST_F(ConnectionProcess, MissingFileIsOneLevelOneEntryWithTheClientMessage) {
    const std::string missing = dir.File("missing.fdb");
    const std::string good = dir.File("good.fdb");
    testsupport::CreateDatabase(good, 1);
    const std::string log = Run({missing, good});

    const std::string message = ConnectError(missing);
    ASSERT_NE(message, "");
    EXPECT_NE(message.back(), '\n');
    const std::string entry = "level 1:   error: connect to database " + missing +
                              " failed\r\nerror message: " + message + "\r\n";
    EXPECT_NE(log.find(entry), std::string::npos) << log;
    EXPECT_EQ(Occurrences(log, "level 1:"), 1u) << log;
    EXPECT_EQ(Occurrences(log, " Start upgrade database " + missing), 0u) << log;
    // The next entry is still connected, but no success is reported after a failure.
    EXPECT_EQ(Occurrences(log, "level 5:   Start upgrade database " + good + " \r\n"), 1u) << log;
    EXPECT_EQ(Occurrences(log, "upgrade was successful completed"), 0u) << log;
    EXPECT_EQ(SetupStatus(), "Cancel");
}

TEST_F(ConnectionProcess, EmbeddedDatabaseListedTwiceIsUpgradedTwice) {
    const std::string path = dir.File("twice.fdb");
    testsupport::CreateDatabase(path, 3);
    const std::string log = Run({path, path});
    EXPECT_EQ(Occurrences(log, "level 1:"), 0u) << log;
    EXPECT_EQ(Occurrences(log, "level 5:   Start upgrade database " + path + " \r\n"), 2u) << log;
    EXPECT_EQ(
        Occurrences(log, "level 5:   Database " + path + " upgrade was successful completed\r\n"),
        2u)
        << log;
    EXPECT_EQ(SetupStatus(), "Continue");
}

TEST_F(ConnectionProcess, ServerDatabaseConnects) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string name = "localhost:" + dir.File("server.fdb");
    testsupport::CreateDatabase(name, 1);
    const std::string log = Run({name});
    EXPECT_EQ(Occurrences(log, "level 1:"), 0u) << log;
    EXPECT_EQ(Occurrences(log, "Start upgrade database " + name + " "), 1u) << log;
    EXPECT_EQ(SetupStatus(), "Continue");
}

// The wait settings reach the attach and the transactions without changing what a run does:
// a server and an embedded database are upgraded with a connect timeout and a lock wait limit
// (one above the longest the server takes, which is cut to it), read-write as before.
TEST_F(ConnectionProcess, WaitSettingsKeepAnOrdinaryRunAsItWas) {
    std::vector<std::string> databases{dir.File("embedded.fdb")};
    if (testsupport::ServerAvailable()) {
        databases.push_back("localhost:" + dir.File("server.fdb"));
    }
    std::string settings = "[General]\r\nDebugMode=5\r\nReconnectWait=0\r\nLockTimeout=99999\r\n"
                           "ConnectTimeout=5\r\n[Database]\r\n";
    for (std::size_t i = 0; i < databases.size(); ++i) {
        testsupport::CreateDatabase(databases[i], 1, "CREATE TABLE T (A INTEGER);");
        settings += "db" + std::to_string(i) + "=" + databases[i] + "\r\n";
    }
    testsupport::WriteFile(ini, settings);
    testsupport::WriteFile(script, "INSERT INTO T VALUES (1)\n\nUPDATE T SET A = A + 1\n");
    RunnerProcessFixture::Run();
    const std::string text = ReadFile(log);
    EXPECT_EQ(Occurrences(text, "level 1:"), 0u) << text;
    EXPECT_EQ(SetupStatus(), "Continue");
    for (const std::string& db : databases) {
        EXPECT_EQ(runnertest::Rows(db, "SELECT A FROM T"), std::vector<std::string>{"2"}) << db;
    }
}

TEST_F(ConnectionProcess, EmptyNameIsAnErrorWithAnEntryNamingItsKey) {
    const std::string path = dir.File("after.fdb");
    testsupport::CreateDatabase(path, 1);
    const std::string log = Run({"", path});
    EXPECT_EQ(Occurrences(log, "level 1:"), 1u) << log;
    EXPECT_EQ(Occurrences(log, "level 1:   error: database db0 has an empty name; it is not "
                               "upgraded\r\n"),
              1u)
        << log;
    EXPECT_EQ(Occurrences(log, "Start upgrade database "), 1u) << log;
    EXPECT_EQ(Occurrences(log, "upgrade was successful completed"), 0u) << log;
    EXPECT_EQ(SetupStatus(), "Cancel");
}

}  // namespace

// The runner's per-database connection, seen from outside: the dbupgrade executable run as a
// process against missing, embedded and server databases.
#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "runner/ConnectionParams.h"
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/Processes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
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

namespace {

// Who the connection is made as, by what the settings file and the environment name.
TEST(ConnectionCredentials, SettingsThenEnvironmentThenTheBuiltInUser) {
    struct Case {
        const char* name;
        const char* user;  // settings
        const char* password;
        const char* envUser;  // null: unset
        const char* envPassword;
        const char* expectedUser;
        const char* expectedPassword;
    };
    const Case cases[] = {
        {"nothing named", "", "", nullptr, nullptr, "SYSDBA", "quillfern"},
        {"empty environment", "", "", "", "", "SYSDBA", "quillfern"},
        {"settings", "APP", "secret", "ENVUSER", "envsecret", "APP", "secret"},
        {"settings password alone is SYSDBA's", "", "secret", "ENVUSER", "envsecret", "SYSDBA",
         "secret"},
        {"settings user alone has no password", "APP", "", "ENVUSER", "envsecret", "APP", ""},
        {"environment", "", "", "ENVUSER", "envsecret", "ENVUSER", "envsecret"},
        {"environment password alone is SYSDBA's", "", "", nullptr, "envsecret", "SYSDBA",
         "envsecret"},
        {"environment user alone", "", "", "ENVUSER", nullptr, "ENVUSER", ""},
    };
    for (const Case& c : cases) {
        runner::TGeneralSettings settings;
        settings.User = c.user;
        settings.Password = c.password;
        settings.Role = "R";
        const runner::TCredentials credentials =
            runner::ConnectionCredentials(settings, c.envUser, c.envPassword);
        EXPECT_EQ(credentials.User, c.expectedUser) << c.name;
        EXPECT_EQ(credentials.Password, c.expectedPassword) << c.name;
        EXPECT_EQ(credentials.Role, "R") << c.name;
    }
}

// A database owned by a user of the server's own (not SYSDBA), upgraded as that user: with
// user, password and role from the settings file, and with ISC_USER and ISC_PASSWORD from the
// environment (the settings file's user comes first when it names one). The new table is the
// user's and its statements run as the user, in the role. A wrong password fails the
// database with the server's message; a user who may not create tables in a database of
// SYSDBA's cannot create the history table there, and that database fails with its entry. The
// password is in no log entry, also at DebugMode 5.
TEST_F(ConnectionProcess, TheConnectionsUserFromTheSettingsOrTheEnvironment) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const testsupport::ServerUser user("pass,word=1 'x'");
    const std::string owned = "localhost:" + dir.File("owned.fdb");
    testsupport::CreateDatabase(owned, 1,
                                "CREATE ROLE UPGRADER;\nGRANT UPGRADER TO " + user.Name() + ";",
                                user.Name(), user.Password());
    const std::string sysdbas = "localhost:" + dir.File("sysdba.fdb");
    testsupport::CreateDatabase(sysdbas, 1);
    const std::string credentials =
        "User=" + user.Name() + "\r\nPassword=" + user.Password() + "\r\n";
    struct Case {
        const char* name;
        std::string general;
        std::vector<std::string> environment;
        std::string database;
        std::string failure;  // the level-1 entry's start; empty when the run succeeds
        const char* role;
    };
    const std::vector<Case> cases{
        {"settings", credentials + "Role=UPGRADER\r\n", {}, owned, "", "UPGRADER"},
        {"environment",
         "",
         {"ISC_USER=" + user.Name(), "ISC_PASSWORD=" + user.Password()},
         owned,
         "",
         "NONE"},
        {"settings first",
         credentials,
         {"ISC_USER=SYSDBA", "ISC_PASSWORD=wrong"},
         owned,
         "",
         "NONE"},
        {"wrong password",
         "User=" + user.Name() + "\r\nPassword=not" + user.Password() + "\r\n",
         {},
         owned,
         "level 1:   error: connect to database " + owned +
             " failed\r\nerror message: Your user name and password are not defined",
         ""},
        {"a password too long to pass",
         "User=" + user.Name() + "\r\nPassword=" + std::string(300, 'p') + "\r\n",
         {},
         owned,
         "level 1:   error: connect to database " + owned +
             " failed\r\nerror message: DPB Constant (isc_dpb_password) value is longer than "
             "255 bytes\r\n",
         ""},
        {"no right to create the history table",
         credentials + "HistoryTable=DBU_HISTORY\r\n",
         {},
         sysdbas,
         "level 1:   error: history table DBU_HISTORY cannot be created or written in database " +
             sysdbas +
             "\r\nerror message: unsuccessful metadata update\r\nCREATE TABLE "
             "DBU_HISTORY failed\r\nThere is no privilege for this operation",
         ""},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string table = "T" + std::to_string(++round);
        testsupport::WriteFile(ini, "[General]\r\nDebugMode=5\r\n" + c.general +
                                        "[Database]\r\nDB=" + c.database + "\r\n");
        testsupport::WriteFile(
            script, "CREATE TABLE " + table + " (U VARCHAR(31), R VARCHAR(31))\n\nINSERT INTO " +
                        table + " SELECT CURRENT_USER, CURRENT_ROLE FROM RDB$DATABASE\n");
        testsupport::Child runner({exe}, {dir.Path(), dir.File("out.txt"), c.environment, nullptr});
        EXPECT_EQ(runner.Wait(std::chrono::seconds(60)), std::optional<int>(0));
        const std::string text = ReadFile(log);
        EXPECT_EQ(text.find(user.Password()), std::string::npos) << text;
        EXPECT_EQ(text.find("pass,word"), std::string::npos) << text;
        EXPECT_EQ(text.find("ppppp"), std::string::npos) << text;
        if (!c.failure.empty()) {
            EXPECT_NE(text.find(c.failure), std::string::npos) << text;
            EXPECT_EQ(SetupStatus(), "Cancel");
            continue;
        }
        EXPECT_EQ(SetupStatus(), "Continue") << text;
        EXPECT_EQ(runnertest::Rows(c.database, "SELECT TRIM(RDB$OWNER_NAME) FROM RDB$RELATIONS "
                                               "WHERE RDB$RELATION_NAME = '" +
                                                   table + "'"),
                  std::vector<std::string>{user.Name()});
        EXPECT_EQ(runnertest::Rows(c.database, "SELECT TRIM(U), TRIM(R) FROM " + table),
                  std::vector<std::string>{user.Name() + "|" + c.role});
    }
}

}  // namespace

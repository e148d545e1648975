// The fixture of the tests that run the dbupgrade executable while faults happen around it:
// a data folder of databases with table T, settings and a log with content of an earlier run,
// runners started without waiting (each with a Firebird lock folder of its own, since they
// may be killed), Firebird tools run through that lock folder, and a look at the statements a
// server is executing.
#pragma once

#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/Processes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace runnertest {

using namespace std::chrono_literals;

// A connection holding an uncommitted update of row 0 of T: the runner's statements on that
// row wait for its lock until this transaction ends.
inline std::unique_ptr<Connection> HoldRowLock(const std::string& database) {
    auto blocker = std::make_unique<Connection>(database);
    testsupport::ExecSQL(blocker->db, blocker->tr, "UPDATE T SET A = 5 WHERE ID = 0");
    return blocker;
}

inline const std::string kTable = "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, A INTEGER);\n"
                                  "INSERT INTO T VALUES (0, NULL);";
inline const std::string kInsert1 = "INSERT INTO T (ID) VALUES (1)";
inline const std::string kUpdate = "UPDATE T SET A = 10 WHERE ID = 0";
inline const std::string kInsert2 = "INSERT INTO T (ID) VALUES (2)";
inline const std::string kRowsOfT = "SELECT ID, A FROM T ORDER BY ID";

// The database of the loops that stop runs at random points: two source rows, and the table
// that every statement of BatchStatements changes as a whole (two rows per insert, every row
// per update).
inline const std::string kBatchTables = "CREATE TABLE SRC (N INTEGER);\n"
                                        "INSERT INTO SRC VALUES (1);\n"
                                        "INSERT INTO SRC VALUES (2);\n"
                                        "CREATE TABLE T (BATCH INTEGER, K INTEGER);\n"
                                        "CREATE GENERATOR G;";

// Batches of T that a statement left half-applied: not two rows, or rows that one update
// reached and the other not.
inline const std::string kTornBatches = "SELECT COUNT(*) FROM (SELECT BATCH FROM T GROUP BY BATCH "
                                        "HAVING COUNT(*) <> 2 OR MIN(K) <> MAX(K))";

// `batches` times: a batch number from the generator, an insert of two rows, an update of all.
inline std::vector<std::string> BatchStatements(int batches) {
    std::vector<std::string> statements;
    for (int i = 0; i < batches; ++i) {
        statements.push_back("VAR @batch = SELECT GEN_ID(G, 1) FROM RDB$DATABASE");
        statements.push_back("INSERT INTO T (BATCH, K) SELECT @batch, 0 FROM SRC");
        statements.push_back("UPDATE T SET K = K + 1");
    }
    return statements;
}

// An entry of an earlier run, which every log must still start with afterwards.
inline const std::string kEarlierEntry =
    "07-12-2026 10:15:02.120 level 1:   an entry of an earlier run\r\n";

inline std::string Executed(const std::string& statement) {
    return "level 5:   execute SQL: \r\n" + statement + "\r\n\r\n";
}

class FaultProcess : public runnertest::RunnerProcessFixture {
protected:
    FaultProcess() {
        std::filesystem::create_directory(lockFolder);
        std::filesystem::permissions(lockFolder, std::filesystem::perms::all);
    }

    // A new database in the data folder with table T holding row (0, NULL).
    std::string Database(const std::string& name) const {
        const std::string path = data.File(name);
        testsupport::CreateDatabase(path, 1, kTable);
        return path;
    }

    // Settings with comments, CR LF line ends, a section after [Common] and an old
    // SetupStatus; the script of `statements`; and a log with an entry of an earlier run.
    // `general` holds further lines of section General, each ending with CR LF.
    void Prepare(const std::vector<std::string>& databases,
                 const std::vector<std::string>& statements = {kInsert1, kUpdate, kInsert2},
                 int debugMode = 5, const std::string& general = "") {
        oldSettings_ = "; settings of the upgrade step\r\n[General]\r\nDebugMode=" +
                       std::to_string(debugMode) + "\r\n" + general + "[Database]\r\n";
        for (std::size_t i = 0; i < databases.size(); ++i) {
            oldSettings_ += "db" + std::to_string(i) + "=" + databases[i] + "\r\n";
        }
        oldSettings_ += "[Common]\r\nSetupStatus=Pending\r\n[Later]\r\nKept=yes\r\n";
        testsupport::WriteFile(ini, oldSettings_);
        std::string text;
        for (const std::string& statement : statements) {
            text += statement + "\n\n";
        }
        testsupport::WriteFile(script, text);
        testsupport::WriteFile(log, kEarlierEntry);
    }

    const std::string& OldSettings() const { return oldSettings_; }

    // The settings as the runner leaves them: only the value of SetupStatus changed.
    std::string NewSettings(const std::string& status) const {
        std::string text = oldSettings_;
        const std::string old = "SetupStatus=Pending";
        return text.replace(text.find(old), old.size(), "SetupStatus=" + status);
    }

    // The entries this run added to the log, after checking that it kept the earlier one.
    std::vector<std::string> NewEntries() const {
        EXPECT_EQ(testsupport::ReadFile(log).rfind(kEarlierEntry, 0), 0u)
            << "the earlier entry is lost";
        std::vector<std::string> entries = LogEntries();
        if (!entries.empty()) {
            entries.erase(entries.begin());
        }
        return entries;
    }

    // Starts the runner without waiting for it; its output goes to a file of the data folder.
    // An embedded engine keeps its lock tables in shared memory files of the lock folder, and
    // a process killed while it holds one of them can leave every other user of that folder
    // waiting: the runners that these tests may kill get a lock folder of their own instead
    // of the one that the shared server and everyone else use.
    // `environment` holds further NAME=value entries for it.
    std::unique_ptr<testsupport::Child> Start(std::vector<std::string> environment = {}) const {
        environment.push_back("FIREBIRD_LOCK=" + lockFolder);
        return std::make_unique<testsupport::Child>(
            std::vector<std::string>{exe},
            testsupport::Child::Options{dir.Path(), output, environment, nullptr});
    }

    // Runs a Firebird tool on a database of the runners through their lock folder; its
    // output, or a failure when it has not ended within a minute.
    std::string Tool(std::vector<std::string> argv) const {
        argv.insert(argv.begin(), {"/usr/bin/env", "FIREBIRD_LOCK=" + lockFolder});
        const std::string toolOutput = data.File("tool.out");
        testsupport::Child tool(argv,
                                testsupport::Child::Options{data.Path(), toolOutput, {}, nullptr});
        const std::optional<int> exitCode = tool.Wait(60s);
        EXPECT_EQ(exitCode, std::optional<int>(0))
            << argv[2] << ": " << testsupport::ReadFile(toolOutput);
        return testsupport::ReadFile(toolOutput);
    }

    // The single value that `select` gives on the embedded database `path`.
    std::string Value(const std::string& path, const std::string& select) const {
        testsupport::WriteFile(data.File("query.sql"), "SET HEADING OFF;\n" + select + ";\n");
        std::istringstream words(
            Tool({"/usr/bin/isql-fb", "-q", "-user", "SYSDBA", "-password",
                  testsupport::kServerPassword, "-i", data.File("query.sql"), path}));
        std::string value;
        words >> value;
        return value;
    }

    std::string Output() const { return testsupport::ReadFile(output); }

    // The attachment whose statement starting with `text` is executing on the server
    // (waiting for a lock, in these tests); 0 when none shows up within 60 seconds. Looks
    // through `watcher`, a connection of its own.
    static std::int64_t WaitingAttachment(Connection& watcher, const std::string& text) {
        const std::string query = "SELECT COALESCE(MAX(MON$ATTACHMENT_ID), 0) FROM MON$STATEMENTS "
                                  "WHERE MON$STATE = 1 AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
                                  "AND MON$SQL_TEXT STARTING WITH '" +
                                  text + "'";
        std::int64_t attachment = 0;
        testsupport::WaitUntil(
            [&] {
                // Monitoring tables show one snapshot per transaction: a new one every look.
                watcher.tr.Commit();
                watcher.tr.Start();
                attachment = testsupport::QueryInt(watcher.db, watcher.tr, query);
                return attachment != 0;
            },
            60s);
        return attachment;
    }

    testsupport::TempDir data;
    const std::string output = data.File("runner.out");
    const std::string lockFolder = data.File("lock");

private:
    std::string oldSettings_;
};

}  // namespace runnertest

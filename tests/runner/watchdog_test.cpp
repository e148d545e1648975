// The watchdog of a run of the dbupgrade executable, with real processes and real databases:
// StatementTimeout against a statement and a declaration query that wait for a lock, against
// a server that stops answering (a frozen relay, a server stopped with SIGSTOP) and with a
// client library that cannot cancel; SIGTERM and SIGINT during a statement, where nothing can
// be cancelled, and at random moments of many runs.
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/FaultProcessFixture.h"
#include "tests/support/Processes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using runnertest::Connection;
using runnertest::Executed;
using runnertest::FaultProcess;
using runnertest::HoldRowLock;
using runnertest::kInsert1;
using runnertest::kInsert2;
using runnertest::kRowsOfT;
using runnertest::kTable;
using runnertest::kTornBatches;
using runnertest::kUpdate;
using runnertest::Rows;
using testsupport::Child;
using testsupport::Clock;
using testsupport::PrivateServer;
using testsupport::ReadFile;
using testsupport::WaitUntil;
using testsupport::WriteFile;

const std::vector<std::string> kUpgradedRows{"0|10", "1|<null>", "2|<null>"};
const std::vector<std::string> kFirstInsertOnly{"0|<null>", "1|<null>"};

// The entries of the run's start with two databases.
std::vector<std::string> Listing(const std::string& first, const std::string& second) {
    return {"level 5:   Database list count = 2\r\n", "level 5:   database_0 - " + first + "\r\n",
            "level 5:   database_1 - " + second + "\r\n",
            "level 5:   Start upgrade database " + first + " \r\n"};
}

// The entries of a complete, undisturbed upgrade of `db` with the three statements, as the
// second database of a run that already failed.
std::vector<std::string> UpgradedAfterAFailure(const std::string& db) {
    return {"level 5:   Start upgrade database " + db + " \r\n", Executed(kInsert1),
            Executed(kUpdate), Executed(kInsert2)};
}

std::vector<std::string> Joined(std::vector<std::string> entries,
                                const std::vector<std::string>& more) {
    entries.insert(entries.end(), more.begin(), more.end());
    return entries;
}

// The entries of a failed statement and of a script run that ends, with `location`
// (RunnerProcessFixture::Location) saying where.
std::string FailedStatement(const std::string& statement, const std::string& message,
                            const std::string& location) {
    return "level 1:   error: there was an error during execution SQL: \r\n" + statement +
           "\r\nerror message: " + message + "\r\n" + location + "\r\n";
}

std::string FailedScript(const std::string& message, const std::string& location) {
    return "level 1:   error: there was an error during parsing SQL \r\nerror message: " + message +
           "\r\n" + location + "\r\n";
}

const std::string kClose = "level 5:   Close application\r\n";

// A statement that waits for a lock longer than StatementTimeout is cancelled on the server:
// its entry says that it timed out, it is not run again (the generator it reads advanced
// once), and the script goes on with its next statement on the same connection. A declaration
// query that waits the same way ends that database's script. Either way the next database is
// upgraded and the run ends in order with "Cancel".
TEST_F(FaultProcess, StatementTimeoutCancelsAnOperationThatWaitsTooLong) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string counted = "UPDATE T SET A = GEN_ID(G, 1) WHERE ID = 0";
    const std::string declaration = "VAR @a = SELECT ID FROM T WHERE ID = 0 WITH LOCK";
    struct Case {
        const char* what;
        std::string waiting;
        // The start of its text on the server.
        std::string lookedFor;
        std::string message;
        // The entries of the next database.
        std::vector<std::string> next;
        std::vector<std::string> rows;
    } const cases[] = {
        {"statement",
         counted,
         counted,
         "timed out: the statement did not end within StatementTimeout (2 seconds) and was "
         "cancelled",
         {Executed(kInsert1), Executed(counted), Executed(kInsert2)},
         {"0|<null>", "1|<null>", "2|<null>"}},
        {"declaration",
         declaration,
         "SELECT ID FROM T",
         "timed out: the declaration query did not end within StatementTimeout (2 seconds) and "
         "was cancelled",
         // Declarations have no entry of their own at DebugMode 5.
         {Executed(kInsert1), Executed(kInsert2)},
         kFirstInsertOnly},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = data.File(std::string(c.what) + ".fdb");
        const std::string next = data.File(std::string(c.what) + "-next.fdb");
        for (const std::string& file : {path, next}) {
            testsupport::CreateDatabase(file, 1, kTable + "\nCREATE GENERATOR G;");
        }
        const std::string db = "localhost:" + path;
        Prepare({db, next}, {kInsert1, c.waiting, kInsert2}, 5, "StatementTimeout=2\r\n");

        const auto blocker = HoldRowLock(db);
        Connection watcher(db);
        auto runner = Start();
        ASSERT_NE(WaitingAttachment(watcher, c.lookedFor), 0) << ReadFile(log);
        const std::optional<int> exitCode = runner->Wait(60s);
        ASSERT_TRUE(exitCode) << "the runner still waits\n" << ReadFile(log);
        blocker->tr.Rollback();
        watcher.tr.Commit();

        EXPECT_EQ(*exitCode, 0) << Output();
        EXPECT_EQ(Output(), "");
        // The script's second statement, on its line 3, is the one that waits.
        const std::vector<std::string> failure =
            c.waiting == declaration
                ? std::vector<std::string>{FailedScript(c.message, Location(3, db))}
                : std::vector<std::string>{Executed(c.waiting),
                                           FailedStatement(c.waiting, c.message, Location(3, db)),
                                           Executed(kInsert2)};
        EXPECT_EQ(
            NewEntries(),
            Joined(Joined(Joined(Listing(db, next), {Executed(kInsert1)}), failure),
                   Joined(Joined({"level 5:   Start upgrade database " + next + " \r\n"}, c.next),
                          {kClose})));
        EXPECT_EQ(Settings(), NewSettings("Cancel"));
        EXPECT_EQ(Rows(db, kRowsOfT), c.rows);
        if (c.waiting == counted) {
            EXPECT_EQ(Rows(db, "SELECT GEN_ID(G, 0) FROM RDB$DATABASE"),
                      std::vector<std::string>{"1"});
        }
    }
}

// A server that stops answering while a statement runs: a relay on 127.0.0.1 that passes
// nothing any more, and a private server stopped with SIGSTOP (the shared one stays up). With
// StatementTimeout=5 the statement is cancelled; the cancel gets no answer, so its connection
// is dropped: the statement's entry says so, the rest of that database's script is skipped,
// and the next database is upgraded. The run ends in order with "Cancel".
TEST_F(FaultProcess, StatementTimeoutDropsTheConnectionOfAServerThatHangs) {
    struct Case {
        const char* what;
        // Makes the server that holds `path` reachable under the name it returns, which the
        // runner uses, and sets `freeze` (and `resume`) to make it stop answering (go on).
        std::function<std::string(const std::string& path)> reach;
    };
    std::unique_ptr<testsupport::Relay> relay;
    std::unique_ptr<PrivateServer> server;
    std::function<void()> freeze;
    std::function<void()> resume = [] {};
    const Case cases[] = {
        {"relay",
         [&](const std::string& path) {
             relay = std::make_unique<testsupport::Relay>(3050);
             freeze = [&] { relay->Freeze(); };
             return relay->Name(path);
         }},
        {"sigstop",
         [&](const std::string& path) {
             server = std::make_unique<PrivateServer>();
             freeze = [&] { server->Freeze(); };
             resume = [&] { server->Resume(); };
             return server->Name(path);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "sigstop") {
            if (const std::string why = PrivateServer::Unavailable(); !why.empty()) {
                GTEST_SKIP() << why;
            }
        } else if (!testsupport::ServerAvailable()) {
            GTEST_SKIP() << "no Firebird server on localhost:3050";
        }
        const std::string path = Database(std::string(c.what) + ".fdb");
        const std::string remote = c.reach(path);
        // The test's own connections go to the server directly, past the relay.
        const std::string direct = server ? server->Name(path) : "localhost:" + path;
        const std::string next = Database(std::string(c.what) + "-next.fdb");
        Prepare({remote, next}, {kInsert1, kUpdate, kInsert2}, 5, "StatementTimeout=5\r\n");

        auto blocker = HoldRowLock(direct);
        auto watcher = std::make_unique<Connection>(direct);
        auto runner = Start();
        ASSERT_NE(WaitingAttachment(*watcher, kUpdate), 0) << ReadFile(log);
        freeze();
        const std::optional<int> exitCode = runner->Wait(60s);
        resume();
        blocker->tr.Rollback();
        blocker.reset();
        watcher.reset();
        ASSERT_TRUE(exitCode) << "the runner still waits\n" << ReadFile(log);

        EXPECT_EQ(*exitCode, 0) << Output();
        EXPECT_EQ(Output(), "");
        EXPECT_EQ(NewEntries(),
                  Joined(Joined(Listing(remote, next),
                                {Executed(kInsert1), Executed(kUpdate),
                                 FailedStatement(
                                     kUpdate,
                                     "timed out: the statement did not end within "
                                     "StatementTimeout (5 seconds) and was cancelled; the cancel "
                                     "got no answer within 3 seconds, so the connection was "
                                     "dropped",
                                     Location(3, remote)),
                                 FailedScript("Transaction is not active", Location(3, remote))}),
                         Joined(UpgradedAfterAFailure(next), {kClose})));
        EXPECT_EQ(Settings(), NewSettings("Cancel"));
        EXPECT_EQ(Rows(next, kRowsOfT), kUpgradedRows);
        EXPECT_EQ(Rows(direct, kRowsOfT), kFirstInsertOnly);
        relay.reset();
        server.reset();
        resume = [] {};
    }
}

// A copy of the system's client library that lacks fb_cancel_operation, as libraries before
// Firebird 2.5 do: the entry point's name is changed in the copy's dynamic symbol table, so
// that the binding cannot find it. Empty when there is no client library to copy.
std::string ClientLibraryWithoutCancel(const std::string& folder) {
    const std::string original = "/usr/lib/x86_64-linux-gnu/libfbclient.so.2";
    if (!testsupport::FileExists(original)) {
        return "";
    }
    std::string bytes = ReadFile(original);
    const std::string name = std::string("fb_cancel_operation") + '\0';
    const std::size_t at = bytes.find(name);
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(bytes.find(name, at + 1), std::string::npos);
    bytes.replace(at, name.size(), std::string("fb_cancel_operatioX") + '\0');
    const std::string copy = folder + "/libfbclient-without-cancel.so";
    WriteFile(copy, bytes);
    return copy;
}

// With a client library that cannot cancel, a statement that waits longer than
// StatementTimeout can be neither cancelled nor dropped: as the last resort the run ends
// there, with its entry, "Cancel" and exit code 1, and nothing on the console.
TEST_F(FaultProcess, StatementTimeoutEndsTheRunWhenNothingCanStopTheStatement) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string library = ClientLibraryWithoutCancel(data.Path());
    if (library.empty()) {
        GTEST_SKIP() << "no libfbclient.so.2 to copy";
    }
    const std::string path = Database("stuck.fdb");
    const std::string db = "localhost:" + path;
    const std::string next = Database("never.fdb");
    Prepare({db, next}, {kInsert1, kUpdate, kInsert2}, 5, "StatementTimeout=2\r\n");

    auto blocker = HoldRowLock(db);
    Connection watcher(db);
    auto runner = Start({"DBU_CLIENT_LIBRARY=" + library});
    ASSERT_NE(WaitingAttachment(watcher, kUpdate), 0) << ReadFile(log);
    const std::optional<int> exitCode = runner->Wait(60s);
    blocker->tr.Rollback();
    watcher.tr.Commit();
    ASSERT_TRUE(exitCode) << "the runner still waits\n" << ReadFile(log);

    EXPECT_EQ(*exitCode, 1);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(NewEntries(),
              Joined(Listing(db, next),
                     {Executed(kInsert1), Executed(kUpdate),
                      "level 1:   error: the statement on database " + db +
                          " did not end within StatementTimeout (2 seconds), and the client "
                          "library cannot cancel it (it lacks fb_cancel_operation): the run ends "
                          "here\r\n"}));
    EXPECT_EQ(Settings(), NewSettings("Cancel"));
    EXPECT_EQ(Rows(db, kRowsOfT), kFirstInsertOnly);
    EXPECT_EQ(Rows(next, kRowsOfT), std::vector<std::string>{"0|<null>"});
}

// SIGTERM or SIGINT while a statement waits for a lock: the statement is cancelled and rolled
// back, one level-1 entry says that the run was interrupted, the next statement and database
// are not run, and the run ends in order ("Close application") with "Cancel" and exit code 1.
TEST_F(FaultProcess, StopSignalDuringAStatementEndsTheRunInOrder) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    for (const auto& [signal, name] :
         {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGINT, "SIGINT"}}) {
        SCOPED_TRACE(name);
        const std::string db = "localhost:" + Database(std::string(name) + ".fdb");
        const std::string next = Database(std::string(name) + "-next.fdb");
        Prepare({db, next});

        const auto blocker = HoldRowLock(db);
        Connection watcher(db);
        auto runner = Start();
        ASSERT_NE(WaitingAttachment(watcher, kUpdate), 0) << ReadFile(log);
        runner->Signal(signal);
        const std::optional<int> exitCode = runner->Wait(60s);
        blocker->tr.Rollback();
        watcher.tr.Commit();
        ASSERT_TRUE(exitCode) << ReadFile(log);

        EXPECT_EQ(*exitCode, 1);
        EXPECT_EQ(Output(), "");
        EXPECT_EQ(NewEntries(),
                  Joined(Listing(db, next),
                         {Executed(kInsert1), Executed(kUpdate),
                          "level 1:   error: the run was interrupted by " + std::string(name) +
                              ": it stops here; work not yet committed is rolled back, and the "
                              "remaining statements and databases are not run\r\n",
                          kClose}));
        EXPECT_EQ(Settings(), NewSettings("Cancel"));
        EXPECT_EQ(Rows(db, kRowsOfT), kFirstInsertOnly);
        EXPECT_EQ(Rows(next, kRowsOfT), std::vector<std::string>{"0|<null>"});
    }
}

// SIGTERM while the run waits for something no cancel reaches (its script is a FIFO that this
// test holds open and never writes to): the run cannot end in order, and after its grace the
// watchdog ends it as the last resort, with its entry, "Cancel" and exit code 1.
TEST_F(FaultProcess, StopSignalWhereNothingCanBeCancelledEndsTheRunAtTheLastResort) {
    const std::string db = Database("a.fdb");
    Prepare({db});
    ASSERT_EQ(::unlink(script.c_str()), 0);
    ASSERT_EQ(::mkfifo(script.c_str(), 0666), 0);
    const int writer = ::open(script.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    auto runner = Start();
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadFile(log).find("Start upgrade database") != std::string::npos; }, 60s));
    runner->Signal(SIGTERM);
    const std::optional<int> exitCode = runner->Wait(60s);
    ::close(writer);
    ASSERT_TRUE(exitCode) << ReadFile(log);

    EXPECT_EQ(*exitCode, 1);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(
        NewEntries(),
        (std::vector<std::string>{
            "level 5:   Database list count = 1\r\n", "level 5:   database_0 - " + db + "\r\n",
            "level 5:   Start upgrade database " + db + " \r\n",
            "level 1:   error: the run was interrupted by SIGTERM and did not end in order "
            "within 10 seconds: it ends here\r\n"}));
    EXPECT_EQ(Settings(), NewSettings("Cancel"));
}

// True once process `pid` blocks SIGTERM (the runner does so first thing in main): from then
// on the signal is the runner's to handle, and not the default action's. Also true once it has
// ended.
bool BlocksStopSignals(pid_t pid) {
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("State:", 0) == 0 && line.find('Z') != std::string::npos) {
            return true;
        }
        if (line.rfind("SigBlk:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (SIGTERM - 1) & 1) != 0;
        }
    }
    return status.str().empty();
}

// Rounds of the stop-signal loop: a sanitizer build starts its runners several times slower, and
// the plain build of the same suite runs the full number.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSignalRounds = 40;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kSignalRounds = 40;
#else
constexpr int kSignalRounds = 200;
#endif
#else
constexpr int kSignalRounds = 200;
#endif

// SIGTERM and SIGINT, in turn, at random moments of many runs on the same database (200, 40 in
// a sanitizer build, or DBU_SIGNAL_ROUNDS; scripts/signal-rounds.sh runs 1,000). Every run ends on
// its own within a bounded time and never by a crash: interrupted, with exit code 1, "Cancel" and
// one entry saying so; or, when the signal came after the run had stopped listening, with exit code
// 0 and "Continue". The log keeps its earlier entries and ends with a whole one, and every
// statement is applied in full or not at all.
TEST_F(FaultProcess, StopSignalsAtRandomMomentsNeverCrash) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string path = data.File("signals.fdb");
    testsupport::CreateDatabase(path, 1, runnertest::kBatchTables);
    const std::string db = "localhost:" + path;
    Prepare({db}, runnertest::BatchStatements(4), 1);
    const char* const configured = std::getenv("DBU_SIGNAL_ROUNDS");
    const int rounds = configured != nullptr ? std::atoi(configured) : kSignalRounds;

    // Two undisturbed runs first: how long a run lasts here from the moment it blocks the stop
    // signals, which is where the rounds below start their pause (the process's start before
    // that, several times longer in a sanitizer build, is not part of the window; the first run
    // also pays for setting up the lock folder).
    Clock::duration runTime = Clock::duration::max();
    for (int run = 0; run < 2; ++run) {
        WriteFile(ini, OldSettings());
        const auto runner = Start();
        ASSERT_TRUE(WaitUntil([&] { return BlocksStopSignals(runner->Pid()); }, 10s));
        const auto started = Clock::now();
        ASSERT_EQ(runner->Wait(60s), std::optional<int>(0)) << Output();
        runTime = std::min(runTime, Clock::now() - started);
        ASSERT_EQ(Settings(), NewSettings("Continue"));
    }

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("random seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Pauses over the run's first half: the moments that matter are those while it works, and a
    // loaded machine makes single runs several times faster or slower than the measured one.
    std::uniform_int_distribution<long long> pause(
        0, std::chrono::duration_cast<std::chrono::microseconds>(runTime).count() / 2);
    const std::string interrupted = ": it stops here; work not yet committed is rolled back";
    int interruptions = 0;
    for (int round = 0; round < rounds; ++round) {
        const int signal = round % 2 == 0 ? SIGTERM : SIGINT;
        SCOPED_TRACE("round " + std::to_string(round));
        WriteFile(ini, OldSettings());
        const std::string before = ReadFile(log);
        const auto runner = Start();
        ASSERT_TRUE(WaitUntil([&] { return BlocksStopSignals(runner->Pid()); }, 10s));
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        runner->Signal(signal);
        const std::optional<int> exitCode = runner->Wait(60s);
        ASSERT_TRUE(exitCode) << "the run did not end\n" << ReadFile(log);
        const std::string after = ReadFile(log);
        ASSERT_EQ(after.compare(0, before.size(), before), 0) << "earlier entries lost";
        ASSERT_TRUE(after.ends_with("\r\n")) << "torn entry at the end";
        const std::string added = after.substr(before.size());
        if (*exitCode == 1) {
            ++interruptions;
            ASSERT_EQ(runnertest::Occurrences(added, interrupted), 1u) << added;
            ASSERT_EQ(runnertest::Occurrences(added, "level 1:"), 1u) << added;
            ASSERT_EQ(Settings(), NewSettings("Cancel"));
        } else {
            ASSERT_EQ(*exitCode, 0) << Output() << added;
            ASSERT_EQ(added, "");
            ASSERT_EQ(Settings(), NewSettings("Continue"));
        }
        ASSERT_EQ(Output(), "");
    }
    // A good share of the signals must really have met a running process.
    EXPECT_GE(interruptions, rounds / 4);
    EXPECT_EQ(Value(db, kTornBatches), "0");
}

}  // namespace

// Each statement exactly once, with real processes around a run: a commit whose answer is lost
// with the connection (a relay that passes the commit on to a server of the test's own and
// then cuts the runner off), and two runs of the same setup started together.
#include "platform/Text.h"
#include "tests/runner/FaultProcessFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::chrono_literals;
using runnertest::Connection;
using runnertest::FaultProcess;
using runnertest::kInsert1;
using runnertest::kInsert2;
using runnertest::kRowsOfT;
using runnertest::kUpdate;
using runnertest::Occurrences;
using runnertest::Rows;
using testsupport::ReadFile;

// Operations of Firebird's wire protocol (XDR: 4-byte big-endian words).
constexpr std::uint32_t kOpCommit = 30;
constexpr std::uint32_t kOpFreeStatement = 67;

std::uint32_t Word(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// True when a piece of the client's bytes is a commit request: an op_commit packet (operation
// and transaction) at its end, after nothing but deferred op_free_statement packets (operation,
// statement, option) that the client sends along with its next request.
bool IsCommit(std::string_view piece) {
    std::size_t at = 0;
    while (piece.size() - at >= 12 + 8 && Word(piece, at) == kOpFreeStatement) {
        at += 12;
    }
    return piece.size() - at == 8 && Word(piece, at) == kOpCommit;
}

// The statement whose commit the relay cuts off: a second run of it shows in A.
const std::string kCounted = "UPDATE T SET A = COALESCE(A, 0) + 1 WHERE ID = 0";

// The runner commits the counting update; the relay passes the commit on to the server and
// closes the runner's side before the answer comes back. The server has committed, the
// runner cannot know. With a history table, the retry finds the statement's row on its new
// connection: applied once, logged at level 5, Continue. Without one (the limit the README
// states) the update runs a second time: A is 2, the log says that the commit was in doubt,
// and the run still says Continue.
TEST_F(FaultProcess, CommitInDoubtIsSettledByTheHistoryTable) {
    if (const std::string why = testsupport::PrivateServer::Unavailable(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    for (const bool history : {true, false}) {
        SCOPED_TRACE(history ? "with a history table" : "without a history table");
        // The commit must be seen on the wire: no wire encryption.
        testsupport::PrivateServer server("WireCrypt = Disabled\n");
        testsupport::Relay relay(server.Port());
        const std::string path = Database(history ? "settled.fdb" : "twice.fdb");
        const std::string name = relay.Name(path);
        Prepare({name}, {kInsert1, kCounted, kInsert2}, 5,
                history ? "HistoryTable=DBU_HISTORY\r\n" : "");
        // Armed once the counting update has gone to the server; cuts its commit, once.
        std::atomic<bool> armed{false};
        std::atomic<bool> cut{false};
        relay.Inspect([&](std::string_view bytes) {
            if (bytes.find(kCounted) != std::string_view::npos) {
                armed = true;
            } else if (armed && !cut && IsCommit(bytes)) {
                cut = true;
                return testsupport::Relay::Verdict::PassThenCutClient;
            }
            return testsupport::Relay::Verdict::Pass;
        });

        const std::optional<int> exitCode = Start()->Wait(120s);
        ASSERT_EQ(exitCode, std::optional<int>(0)) << Output() << ReadFile(log);
        EXPECT_EQ(relay.Cuts(), 1);
        const std::string text = ReadFile(log).substr(runnertest::kEarlierEntry.size());
        EXPECT_EQ(Occurrences(text, "level 1:"), 0u) << text;
        EXPECT_EQ(Settings(), NewSettings("Continue"));
        const std::string database = server.Name(path);
        const std::vector<std::string> rows = Rows(database, kRowsOfT);
        if (history) {
            EXPECT_EQ(rows, (std::vector<std::string>{"0|1", "1|<null>", "2|<null>"}));
            EXPECT_EQ(Occurrences(text, " before the error, not run again: \r\n" + kCounted +
                                            "\r\nerror message: "),
                      1u)
                << text;
        } else {
            EXPECT_EQ(rows, (std::vector<std::string>{"0|2", "1|<null>", "2|<null>"}));
            EXPECT_EQ(Occurrences(text, "level 5:   commit in doubt: without a history table the "
                                        "SQL runs again and may be applied twice: \r\n" +
                                            kCounted + "\r\nerror message: "),
                      1u)
                << text;
        }
    }
}

// The row of a statement whose transaction is still ending is waited for. Another connection
// has applied the counting update and written its row, and has not committed yet (as a commit
// that the server is still finishing): the runner's row waits for the key and fails after the
// lock time-out; on the new connection the look-up for the row waits for that transaction as
// well, which then commits. The statement counts as applied (level 5) and does not run again.
TEST_F(FaultProcess, RowOfATransactionStillEndingIsWaitedFor) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string db = "localhost:" + Database("waited.fdb");
    const std::string general = "HistoryTable=DBU_HISTORY\r\nLockTimeout=5\r\n";
    Prepare({db}, {kInsert1}, 5, general);  // makes the table
    ASSERT_EQ(Start()->Wait(60s), std::optional<int>(0)) << ReadFile(log);
    Prepare({db}, {kInsert1, kCounted}, 5, general);

    Connection other(db);
    testsupport::ExecSQL(other.db, other.tr, kCounted);
    testsupport::ExecSQL(other.db, other.tr,
                         "INSERT INTO DBU_HISTORY (STATEMENT_HASH, OCCURRENCE, FIRST_LINE, "
                         "SCRIPT_FILE, APPLIED_AT, STATEMENT_TEXT) VALUES ('" +
                             platform::HexHash(kCounted) + "', 1, 3, 'other.sql', 'NOW', '" +
                             kCounted + "')");
    Connection watcher(db);
    auto runner = Start();
    ASSERT_NE(WaitingAttachment(watcher, "SELECT STATEMENT_TEXT"), 0) << ReadFile(log);
    other.tr.Commit();
    ASSERT_EQ(runner->Wait(60s), std::optional<int>(0)) << ReadFile(log);
    watcher.tr.Commit();

    const std::string text = ReadFile(log).substr(runnertest::kEarlierEntry.size());
    EXPECT_EQ(Occurrences(text, "level 1:"), 0u) << text;
    EXPECT_EQ(Occurrences(text, " before the error, not run again: \r\n" + kCounted), 1u) << text;
    EXPECT_EQ(Settings(), NewSettings("Continue"));
    EXPECT_EQ(Rows(db, kRowsOfT), (std::vector<std::string>{"0|1", "1|<null>"}));
}

// Two runs of the same setup started together while a row lock holds the first one's update
// (so that neither can end before the other has started): one of them finds the other's lock,
// logs one level-1 entry and exits with code 1 without touching the database or the settings
// file; the other one upgrades the database once and its Continue stands.
TEST_F(FaultProcess, TwoRunsStartedTogetherApplyTheScriptOnce) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string db = "localhost:" + Database("together.fdb");
    Prepare({db});
    auto blocker = runnertest::HoldRowLock(db);
    std::vector<std::unique_ptr<testsupport::Child>> runners;
    runners.push_back(Start());
    runners.push_back(Start());

    // The one that loses ends at once, while the other waits for the row lock.
    std::optional<std::size_t> loser;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            for (std::size_t i = 0; i < runners.size(); ++i) {
                if (runners[i]->Wait(0s)) {
                    loser = i;
                    return true;
                }
            }
            return false;
        },
        60s))
        << ReadFile(log);
    EXPECT_EQ(runners[*loser]->Wait(0s), std::optional<int>(1));
    Connection watcher(db);
    ASSERT_NE(WaitingAttachment(watcher, kUpdate), 0) << ReadFile(log);
    watcher.tr.Commit();
    EXPECT_EQ(Occurrences(ReadFile(log), "level 5:   Start upgrade database "), 1u)
        << ReadFile(log);
    EXPECT_EQ(Occurrences(ReadFile(log), "level 1:   error: another run of this setup is in "
                                         "progress (" +
                                             ini + ")\r\n"),
              1u)
        << ReadFile(log);
    // The winner wrote Cancel before its first database; the loser wrote nothing.
    EXPECT_EQ(Settings(), NewSettings("Cancel"));

    blocker->tr.Rollback();
    const std::optional<int> winner = runners[1 - *loser]->Wait(60s);
    EXPECT_EQ(winner, std::optional<int>(0)) << Output();
    EXPECT_EQ(Settings(), NewSettings("Continue"));
    EXPECT_EQ(Occurrences(ReadFile(log), "level 1:"), 2u) << ReadFile(log);  // with the earlier one
    EXPECT_EQ(Rows(db, kRowsOfT), (std::vector<std::string>{"0|10", "1|<null>", "2|<null>"}));
}

}  // namespace

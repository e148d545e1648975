// Faults around a run of the dbupgrade executable, with real processes and real databases: a
// server that dies under a statement, the runner's attachment deleted by another connection, a
// lock that is never released, a log that cannot be written, a settings file that is
// read-only, deleted or a link, and SIGKILL at random points. Every case checks the log,
// SetupStatus, the exit code and the databases, and that the settings file holds either its
// old or its new complete content and the log kept its earlier entries.
#include "runner/Settings.h"
#include "tests/ibclient/ConnectionFixture.h"
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/FaultProcessFixture.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/Processes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using runnertest::Connection;
using runnertest::Executed;
using runnertest::FaultProcess;
using runnertest::HoldRowLock;
using runnertest::kBatchTables;
using runnertest::kEarlierEntry;
using runnertest::kInsert1;
using runnertest::kInsert2;
using runnertest::kRowsOfT;
using runnertest::kTable;
using runnertest::kTornBatches;
using runnertest::kUpdate;
using runnertest::Rows;
using testsupport::Child;
using testsupport::Clock;
using testsupport::FileExists;
using testsupport::PrivateServer;
using testsupport::ReadFile;
using testsupport::WaitUntil;
using testsupport::WriteFile;

// Makes the mounts this test process makes its own: no other process sees them, and they go
// away with the process even when the test dies half-way. Empty on success, else the reason.
std::string EnterPrivateMountNamespace() {
    if (::geteuid() != 0) {
        return "mounting needs root";
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        return std::string("no mount namespace of our own (unshare: ") + std::strerror(errno) + ")";
    }
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("mounts cannot be made private: ") + std::strerror(errno);
    }
    return "";
}

// A mount over a folder; detached again at the end of its scope.
class Mount {
public:
    explicit Mount(std::string target) : target_(std::move(target)) {}
    ~Mount() { ::umount2(target_.c_str(), MNT_DETACH); }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

private:
    std::string target_;
};

// Another transaction holds a row lock for longer than the run would last. The runner's
// transactions wait for locks without a time limit, so the run does not end on its own: after
// a generous time it still waits in that statement, with nothing written since its start.
// Killed then, it leaves the settings saying "Cancel" (written before the first database) and
// otherwise as they were, and the work before that statement done.
TEST_F(FaultProcess, LockHeldLongerThanTheRunKeepsTheRunnerWaiting) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string path = Database("locked.fdb");
    const std::string db = "localhost:" + path;
    Prepare({db});

    const auto blocker = HoldRowLock(db);
    Connection watcher(db);
    auto runner = Start();
    const std::int64_t waiting = WaitingAttachment(watcher, kUpdate);
    ASSERT_NE(waiting, 0) << ReadFile(log);
    const std::string logWhileWaiting = ReadFile(log);
    EXPECT_FALSE(runner->Wait(5s)) << "the runner stopped waiting for the lock\n" << ReadFile(log);
    EXPECT_EQ(WaitingAttachment(watcher, kUpdate), waiting);
    EXPECT_EQ(ReadFile(log), logWhileWaiting);
    EXPECT_EQ(runner->Kill(SIGKILL), 128 + SIGKILL);
    blocker->tr.Rollback();
    watcher.tr.Commit();

    EXPECT_EQ(Output(), "");
    EXPECT_EQ(NewEntries(), (std::vector<std::string>{
                                "level 5:   Database list count = 1\r\n",
                                "level 5:   database_0 - " + db + "\r\n",
                                "level 5:   Start upgrade database " + db + " \r\n",
                                Executed(kInsert1),
                                Executed(kUpdate),
                            }));
    // The run wrote "Cancel" before its first database: a killed run never reads as success.
    EXPECT_EQ(Settings(), NewSettings("Cancel"));
    EXPECT_EQ(Rows(db, kRowsOfT), (std::vector<std::string>{"0|<null>", "1|<null>"}));
}

// The entries of a complete run of the three statements on `db` at DebugMode 5.
std::vector<std::string> CompleteRun(const std::string& db) {
    return {
        "level 5:   Database list count = 1\r\n",
        "level 5:   database_0 - " + db + "\r\n",
        "level 5:   Start upgrade database " + db + " \r\n",
        Executed(kInsert1),
        Executed(kUpdate),
        Executed(kInsert2),
        "level 5:   Database " + db + " upgrade was successful completed\r\n",
        "level 5:   Close application\r\n",
    };
}

const std::vector<std::string> kUpgradedRows{"0|10", "1|<null>", "2|<null>"};

// An update that adds to the value it finds: applied twice, it would leave 20 instead of 10.
const std::string kAdd = "UPDATE T SET A = COALESCE(A, 0) + 10 WHERE ID = 0";

// The server dies while the runner's statement waits for a row lock (a private server: the
// shared one stays up) and comes back, as a guardian restarts it. The first attempt fails with
// the broken connection; the retry drops the dead attachment, waits for the server, attaches
// anew and applies the statement once. Nothing is reported: "Continue".
TEST_F(FaultProcess, ServerKilledAndRestartedWhileAStatementWaitsIsHealed) {
    if (const std::string why = PrivateServer::Unavailable(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    PrivateServer server;
    const std::string path = Database("remote.fdb");
    const std::string remote = server.Name(path);
    Prepare({remote}, {kInsert1, kAdd, kInsert2}, 5, "ReconnectWait=60\r\nConnectTimeout=10\r\n");

    auto blocker = HoldRowLock(remote);
    auto watcher = std::make_unique<Connection>(remote);
    auto runner = Start();
    ASSERT_NE(WaitingAttachment(*watcher, kAdd), 0) << ReadFile(log);
    server.Kill();
    watcher.reset();
    blocker.reset();
    server.Restart();
    const std::optional<int> exitCode = runner->Wait(120s);
    ASSERT_TRUE(exitCode) << "the runner did not end after the server came back\n" << ReadFile(log);

    EXPECT_EQ(*exitCode, 0) << Output();
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(NewEntries(),
              (std::vector<std::string>{
                  "level 5:   Database list count = 1\r\n",
                  "level 5:   database_0 - " + remote + "\r\n",
                  "level 5:   Start upgrade database " + remote + " \r\n",
                  Executed(kInsert1),
                  Executed(kAdd),
                  Executed(kInsert2),
                  "level 5:   Database " + remote + " upgrade was successful completed\r\n",
                  "level 5:   Close application\r\n",
              }));
    EXPECT_EQ(Settings(), NewSettings("Continue"));
    EXPECT_EQ(Rows(remote, kRowsOfT), (std::vector<std::string>{"0|10", "1|<null>", "2|<null>"}));
}

// The server dies while the runner's statement waits and stays down. The retry's reconnect
// keeps trying for ReconnectWait seconds, then gives up: the statement is reported with the
// first error. Without a connection no transaction is active, so the rollback after the
// report fails and ends that database's script as a parsing error. The next database is
// upgraded, and the run ends in order, "Cancel".
TEST_F(FaultProcess, ServerKilledAndKeptDownGivesUpAfterReconnectWait) {
    if (const std::string why = PrivateServer::Unavailable(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    PrivateServer server;
    const std::string path = Database("remote.fdb");
    const std::string remote = server.Name(path);
    const std::string local = Database("local.fdb");
    Prepare({remote, local}, {kInsert1, kUpdate, kInsert2}, 5, "ReconnectWait=2\r\n");

    auto blocker = HoldRowLock(remote);
    auto watcher = std::make_unique<Connection>(remote);
    auto runner = Start();
    ASSERT_NE(WaitingAttachment(*watcher, kUpdate), 0) << ReadFile(log);
    server.Kill();
    const auto killed = Clock::now();
    const std::optional<int> exitCode = runner->Wait(120s);
    ASSERT_TRUE(exitCode) << "the runner did not end after the server died\n" << ReadFile(log);
    // The reconnect did wait for the server before it gave up.
    EXPECT_GE(Clock::now() - killed, 2s);
    watcher.reset();
    blocker.reset();

    EXPECT_EQ(*exitCode, 0) << Output();
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(NewEntries(),
              (std::vector<std::string>{
                  "level 5:   Database list count = 2\r\n",
                  "level 5:   database_0 - " + remote + "\r\n",
                  "level 5:   database_1 - " + local + "\r\n",
                  "level 5:   Start upgrade database " + remote + " \r\n",
                  Executed(kInsert1),
                  Executed(kUpdate),
                  "level 1:   error: there was an error during execution SQL: \r\n" + kUpdate +
                      "\r\nerror message: Error reading data from the connection\r\n" +
                      Location(3, remote) + "\r\n",
                  "level 1:   error: there was an error during parsing SQL \r\nerror message: "
                  "Transaction is not active\r\n" +
                      Location(3, remote) + "\r\n",
                  "level 5:   Start upgrade database " + local + " \r\n",
                  Executed(kInsert1),
                  Executed(kUpdate),
                  Executed(kInsert2),
                  "level 5:   Close application\r\n",
              }));
    EXPECT_EQ(Settings(), NewSettings("Cancel"));
    // Only what was committed before the server died is in the file.
    EXPECT_EQ(Rows(path, kRowsOfT), (std::vector<std::string>{"0|<null>", "1|<null>"}));
    EXPECT_EQ(Rows(local, kRowsOfT), (std::vector<std::string>{"0|10", "1|<null>", "2|<null>"}));
}

// Deletes the attachments of process `pid` through a connection of its own to `database`.
void DeleteAttachmentsOf(const std::string& database, pid_t pid) {
    Connection killer(database);
    testsupport::ExecSQL(killer.db, killer.tr,
                         "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> "
                         "CURRENT_CONNECTION AND MON$REMOTE_PID = " +
                             std::to_string(pid));
    killer.tr.Commit();
}

// The attachment is deleted while the runner's statement waits for a row lock. The attempt
// fails with "connection shutdown"; the retry drops the dead attachment and attaches anew: its
// statement waits for the same lock again, on a new attachment. Once the lock is released the
// statement is applied, nothing is reported and the run ends with "Continue".
TEST_F(FaultProcess, AttachmentDeletedWhileAStatementWaitsIsHealed) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string path = Database("deleted.fdb");
    const std::string db = "localhost:" + path;
    Prepare({db});

    const auto blocker = HoldRowLock(db);
    Connection watcher(db);
    auto runner = Start();
    const std::int64_t first = WaitingAttachment(watcher, kUpdate);
    ASSERT_NE(first, 0) << ReadFile(log);
    DeleteAttachmentsOf(db, runner->Pid());
    std::int64_t second = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            second = WaitingAttachment(watcher, kUpdate);
            return second != 0 && second != first;
        },
        60s))
        << "no new attachment waits for the lock\n"
        << ReadFile(log);
    blocker->tr.Rollback();
    const std::optional<int> exitCode = runner->Wait(60s);
    ASSERT_TRUE(exitCode) << ReadFile(log);
    watcher.tr.Commit();

    EXPECT_EQ(*exitCode, 0) << Output();
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(NewEntries(), CompleteRun(db));
    EXPECT_EQ(Settings(), NewSettings("Continue"));
    EXPECT_EQ(Rows(db, kRowsOfT), kUpgradedRows);
}

// The same while a declaration's query waits for a row lock (SELECT ... WITH LOCK). A
// declaration is not retried: its error ends the script as a parsing error. Closing the
// database then fails on the dead attachment (the commit, and the rollback after it): the
// attachment is dropped, the failure logged, and the next database is upgraded. Exit code 0,
// "Cancel".
TEST_F(FaultProcess, AttachmentDeletedWhileADeclarationQueryWaits) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string db = "localhost:" + Database("declaration.fdb");
    const std::string next = Database("next.fdb");
    const std::string declaration = "VAR @a = SELECT ID FROM T WHERE ID = 0 WITH LOCK";
    Prepare({db, next}, {kInsert1, declaration, kInsert2});

    const auto blocker = HoldRowLock(db);
    Connection watcher(db);
    auto runner = Start();
    ASSERT_NE(WaitingAttachment(watcher, "SELECT ID FROM T"), 0) << ReadFile(log);
    DeleteAttachmentsOf(db, runner->Pid());
    const std::optional<int> exitCode = runner->Wait(60s);
    blocker->tr.Rollback();
    ASSERT_TRUE(exitCode) << ReadFile(log);
    watcher.tr.Commit();

    EXPECT_EQ(*exitCode, 0) << Output();
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(NewEntries(),
              (std::vector<std::string>{
                  "level 5:   Database list count = 2\r\n",
                  "level 5:   database_0 - " + db + "\r\n",
                  "level 5:   database_1 - " + next + "\r\n",
                  "level 5:   Start upgrade database " + db + " \r\n",
                  Executed(kInsert1),
                  "level 1:   error: there was an error during parsing SQL \r\nerror message: "
                  "connection shutdown\r\n" +
                      Location(3, db) + "\r\n",
                  "level 1:   error: close database " + db +
                      " failed\r\nerror message: Error writing data to the connection\r\n",
                  "level 5:   Start upgrade database " + next + " \r\n",
                  Executed(kInsert1),
                  Executed(kInsert2),
                  "level 5:   Close application\r\n",
              }));
    EXPECT_EQ(Settings(), NewSettings("Cancel"));
    EXPECT_EQ(Rows(db, kRowsOfT), (std::vector<std::string>{"0|<null>", "1|<null>"}));
    EXPECT_EQ(Rows(next, kRowsOfT), (std::vector<std::string>{"0|<null>", "1|<null>", "2|<null>"}));
}

// With LockTimeout a lock that is held for the whole run no longer holds the run up: each
// attempt of the statement waits two seconds, then fails; the statement is reported with the
// server's lock time-out (Firebird reports it as a deadlock), the script goes on, and the next
// database is upgraded. "Cancel".
TEST_F(FaultProcess, LockTimeoutEndsTheWaitForALockHeldForTheWholeRun) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string path = Database("locked.fdb");
    const std::string db = "localhost:" + path;
    const std::string next = Database("next.fdb");
    Prepare({db, next}, {kInsert1, kUpdate, kInsert2}, 5, "LockTimeout=2\r\n");

    const auto blocker = HoldRowLock(db);
    const auto started = Clock::now();
    auto runner = Start();
    const std::optional<int> exitCode = runner->Wait(60s);
    ASSERT_TRUE(exitCode) << "the runner still waits for the lock\n" << ReadFile(log);
    // Both attempts waited for the lock before they gave up.
    EXPECT_GE(Clock::now() - started, 3s);
    blocker->tr.Rollback();

    EXPECT_EQ(*exitCode, 0) << Output();
    EXPECT_EQ(Output(), "");
    const std::vector<std::string> entries = NewEntries();
    ASSERT_EQ(entries.size(), 13u) << ReadFile(log);
    const std::string reported = "level 1:   error: there was an error during execution SQL: \r\n" +
                                 kUpdate + "\r\nerror message: deadlock\r\n";
    EXPECT_EQ(entries[6].rfind(reported, 0), 0u) << entries[6];
    EXPECT_EQ(entries[7], Executed(kInsert2));
    EXPECT_EQ(entries[8], "level 5:   Start upgrade database " + next + " \r\n");
    EXPECT_EQ(entries[12], "level 5:   Close application\r\n");
    EXPECT_EQ(Settings(), NewSettings("Cancel"));
    EXPECT_EQ(Rows(db, kRowsOfT), (std::vector<std::string>{"0|<null>", "1|<null>", "2|<null>"}));
    EXPECT_EQ(Rows(next, kRowsOfT), kUpgradedRows);
}

// The executable's folder, which holds the log, is read-only: a read-only bind mount, since
// permissions do not stop root. No entry can be added, and the settings file in the same
// folder cannot be replaced either. The database is upgraded; the log and the settings stay
// as they were, and exit code 1 tells that SetupStatus was not written.
TEST_F(FaultProcess, LogFolderReadOnly) {
    const std::string db = Database("a.fdb");
    Prepare({db});
    if (const std::string why = EnterPrivateMountNamespace(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const Mount readOnly(dir.Path());
    ASSERT_EQ(::mount(dir.Path().c_str(), dir.Path().c_str(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(
        ::mount(nullptr, dir.Path().c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0)
        << std::strerror(errno);
    ASSERT_LT(::open(dir.File("probe").c_str(), O_WRONLY | O_CREAT, 0666), 0);

    const auto result = Run(1);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ReadFile(log), kEarlierEntry);
    EXPECT_EQ(Settings(), OldSettings());
    EXPECT_EQ(Rows(db, kRowsOfT), kUpgradedRows);
}

// True while another process holds the exclusive lock of `path`.
bool LockedElsewhere(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}

// A statement whose variables expand to more memory than the process may have (its address
// space limited to 700 MB; 1,000 references to a 1 MiB value): the standard library's
// allocation error ends that database's run as a script error, and the loop goes on: the
// next database gets its own run of the script (which ends the same way). Exit code 0,
// "Cancel".
TEST_F(FaultProcess, OutOfMemoryInAScriptRunEndsOnlyThatRun) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
#endif
    const std::string first = Database("first.fdb");
    const std::string second = Database("second.fdb");
    std::string huge = "SELECT 1 FROM RDB$DATABASE WHERE ''";
    for (int i = 0; i < 1000; ++i) {
        huge += " @x";
    }
    huge += " = ''";
    const std::string declaration = "VAR @x = '" + std::string(1 << 20, 'x') + "'";
    Prepare({first, second}, {kInsert1, declaration, huge, kInsert2});
    Child runner({"/bin/sh", "-c", "ulimit -v 700000 && exec \"$0\"", exe},
                 Child::Options{dir.Path(), output, {"FIREBIRD_LOCK=" + lockFolder}, nullptr});
    const std::optional<int> exitCode = runner.Wait(120s);
    ASSERT_TRUE(exitCode) << ReadFile(log).substr(0, 2000);
    EXPECT_EQ(*exitCode, 0) << Output();
    EXPECT_EQ(Output(), "");
    const std::vector<std::string> entries = NewEntries();
    const auto outOfMemory = [this](const std::string& database) {
        return "level 1:   error: there was an error during parsing SQL \r\nerror message: "
               "std::bad_alloc\r\n" +
               Location(5, database) + "\r\n";
    };
    EXPECT_EQ(entries, (std::vector<std::string>{
                           "level 5:   Database list count = 2\r\n",
                           "level 5:   database_0 - " + first + "\r\n",
                           "level 5:   database_1 - " + second + "\r\n",
                           "level 5:   Start upgrade database " + first + " \r\n",
                           Executed(kInsert1),
                           outOfMemory(first),
                           "level 5:   Start upgrade database " + second + " \r\n",
                           Executed(kInsert1),
                           outOfMemory(second),
                           "level 5:   Close application\r\n",
                       }));
    EXPECT_EQ(Settings(), NewSettings("Cancel"));
    for (const std::string& db : {first, second}) {
        EXPECT_EQ(Rows(db, kRowsOfT), (std::vector<std::string>{"0|<null>", "1|<null>"}));
    }
}

// Milliseconds since midnight of each entry's time stamp, in file order.
std::vector<long> StampTimes(const std::string& text) {
    std::vector<long> times;
    for (std::size_t at = text.find(" level "); at != std::string::npos;
         at = text.find(" level ", at + 1)) {
        // "dd-mm-yyyy hh:nn:ss.zzz level ": the time stands just in front.
        if (at < 23 || (at > 23 && text.compare(at - 25, 2, "\r\n") != 0)) {
            continue;
        }
        const std::string stamp = text.substr(at - 12, 12);
        times.push_back(((std::stol(stamp.substr(0, 2)) * 60 + std::stol(stamp.substr(3, 2))) * 60 +
                         std::stol(stamp.substr(6, 2))) *
                            1000 +
                        std::stol(stamp.substr(9, 3)));
    }
    return times;
}

// Another process holds the log's lock (flock) for the whole run of 1,000 statements at
// DebugMode 5. The run waits two seconds for the lock once, at its first entry; every later
// entry is appended at once without the lock. Every entry is whole, nothing is lost, and the
// run goes on.
TEST_F(FaultProcess, LogLockedByAnotherProcessCostsOneWaitPerRun) {
    if (!FileExists("/usr/bin/flock")) {
        GTEST_SKIP() << "flock(1) is missing";
    }
    const std::string db = Database("a.fdb");
    const std::string failing = "INSERT INTO MISSING VALUES (1)";
    std::vector<std::string> statements{failing};
    for (int i = 1; i < 1000; ++i) {
        statements.push_back("INSERT INTO T (ID) VALUES (" + std::to_string(i) + ")");
    }
    Prepare({db}, statements, 5);
    if (FileExists("/usr/bin/gfix")) {
        // A thousand commits without waiting for the disk each time: the test is about the log.
        Tool({"/usr/bin/gfix", "-write", "async", "-user", "SYSDBA", "-password",
              testsupport::kServerPassword, db});
    }
    Child holder({"/usr/bin/flock", "--exclusive", log, "/bin/sleep", "120"}, {});
    ASSERT_TRUE(WaitUntil([&] { return LockedElsewhere(log); }, 10s));

    const auto started = Clock::now();
    Run();
    EXPECT_GE(Clock::now() - started, 2s);
    EXPECT_TRUE(LockedElsewhere(log));
    holder.Kill();

    const std::vector<std::string> entries = NewEntries();
    ASSERT_EQ(entries.size(), 1005u) << ReadFile(log).substr(0, 2000);
    EXPECT_EQ(entries[3], Executed(failing));
    EXPECT_EQ(entries[4].rfind("level 1:   error: there was an error during execution SQL: \r\n" +
                                   failing + "\r\nerror message: ",
                               0),
              0u)
        << entries[4];
    for (int i = 1; i < 1000; ++i) {
        EXPECT_EQ(entries[static_cast<std::size_t>(4 + i)],
                  Executed("INSERT INTO T (ID) VALUES (" + std::to_string(i) + ")"));
    }
    EXPECT_EQ(entries.back(), "level 5:   Close application\r\n");
    // A time stamp is taken before its entry waits: a wait shows as a gap to the next stamp.
    const std::vector<long> times = StampTimes(ReadFile(log));
    ASSERT_EQ(times.size(), 1006u);
    int waits = 0;
    for (std::size_t i = 2; i < times.size(); ++i) {
        waits += (times[i] - times[i - 1] + 86400000) % 86400000 >= 1900 ? 1 : 0;
    }
    EXPECT_LE(waits, 1);
    EXPECT_EQ(Settings(), NewSettings("Cancel"));
    EXPECT_EQ(Rows(db, "SELECT COUNT(*) FROM T"), std::vector<std::string>{"1000"});
}

// The log is a FIFO that nobody reads. It is never opened blocking, so the run does not wait
// for a reader: its entries are lost, the database is upgraded and SetupStatus written.
TEST_F(FaultProcess, FifoAsTheLogNeverHoldsTheRunUp) {
    const std::string db = Database("a.fdb");
    Prepare({db});
    std::filesystem::remove(log);
    ASSERT_EQ(::mkfifo(log.c_str(), 0666), 0) << std::strerror(errno);
    auto runner = Start();
    const std::optional<int> exitCode = runner->Wait(60s);
    ASSERT_TRUE(exitCode) << "the runner waits for a reader of the log";
    EXPECT_EQ(*exitCode, 0) << Output();
    EXPECT_EQ(Output(), "");
    EXPECT_TRUE(std::filesystem::is_fifo(log));
    EXPECT_EQ(Settings(), NewSettings("Continue"));
    EXPECT_EQ(Rows(db, kRowsOfT), kUpgradedRows);
}

// The log's file system is full: a small tmpfs, mounted over the executable's folder in a
// mount namespace of the test's own, and filled up before the run. The log's last block has
// room for the first entry and a part of the second. The first entry is written; the second
// cannot be written whole and leaves nothing behind, nor does any later one. The settings
// file cannot be replaced (its new copy finds no room): it keeps its old content, and exit
// code 1 tells the caller. The database is upgraded all the same.
TEST_F(FaultProcess, LogDiskFull) {
    const std::string db = Database("a.fdb");
    if (const std::string why = EnterPrivateMountNamespace(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    constexpr std::size_t kBlock = 4096;  // tmpfs hands out space in pages
    const std::uintmax_t exeSize = std::filesystem::file_size(exe);
    const Mount tmpfs(dir.Path());
    const std::string options = "size=" + std::to_string((exeSize / kBlock + 64) * kBlock);
    ASSERT_EQ(::mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, options.c_str()), 0)
        << std::strerror(errno);
    std::filesystem::copy_file(testsupport::ExecutablePath(), exe);
    Prepare({db});
    // An earlier entry long enough that 100 bytes of the log's block are left: the first
    // entry of the run takes 60 of them, the second would need 40 + 36.
    const std::string padded = "07-12-2026 10:15:02.121 level 1:   ";
    const std::string earlier =
        kEarlierEntry + padded +
        std::string(kBlock - 100 - kEarlierEntry.size() - padded.size() - 2, 'x') + "\r\n";
    WriteFile(log, earlier);
    {
        const int fd = ::open(dir.File("filler").c_str(), O_WRONLY | O_CREAT, 0666);
        ASSERT_GE(fd, 0);
        const std::string block(65536, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, "x", 1) > 0) {
        }
        ::close(fd);
    }

    const auto result = Run(1);
    EXPECT_EQ(result.err, "");
    const std::string text = ReadFile(log);
    ASSERT_EQ(text.rfind(earlier, 0), 0u) << "earlier entries are lost";
    const std::vector<std::string> entries = LogEntries();
    ASSERT_EQ(entries.size(), 3u) << text.substr(earlier.size());
    EXPECT_EQ(entries[2], "level 5:   Database list count = 1\r\n");
    EXPECT_EQ(Settings(), OldSettings());
    EXPECT_EQ(Rows(db, kRowsOfT), kUpgradedRows);
}

// The settings file has no write permission bit: it is not replaced, also not by root. The
// database is upgraded, the failure is logged, and exit code 1 tells the caller.
TEST_F(FaultProcess, SettingsFileReadOnly) {
    const std::string db = Database("a.fdb");
    Prepare({db});
    ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
    const auto result = Run(1);
    EXPECT_EQ(result.err, "");
    const std::string notWritten =
        "level 1:   error: SetupStatus was not written\r\nerror message: "
        "Unable to write to " +
        ini + "\r\n";
    // The "Cancel" before the first database fails as well; the run goes on all the same.
    std::vector<std::string> expected = CompleteRun(db);
    expected.insert(expected.begin() + 2, notWritten);
    expected.push_back(notWritten);
    EXPECT_EQ(NewEntries(), expected);
    EXPECT_EQ(Settings(), OldSettings());
    EXPECT_EQ(Rows(db, kRowsOfT), kUpgradedRows);
}

// The settings file's disk is full and the file must be rewritten in place (it has a second
// hard link) with a longer content, which needs a page that the disk no longer has. The write
// is refused before any byte changes, so the file keeps its old content instead of a torn mix;
// once there is room again, it goes through.
TEST(SettingsOnAFullDisk, InPlaceRewriteChangesNothingWhenItCannotFinish) {
    const testsupport::TempDir dir;
    if (const std::string why = EnterPrivateMountNamespace(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const Mount tmpfs(dir.Path());
    ASSERT_EQ(::mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, "size=64k"), 0)
        << std::strerror(errno);
    const std::string ini = dir.File("dbupgrade.ini");
    std::string content = "[Common]\nSetupStatus=Pending\n;";
    content += std::string(4096 - content.size() - 1, 'x') + "\n";  // exactly one page
    WriteFile(ini, content);
    ASSERT_EQ(::link(ini.c_str(), dir.File("other.ini").c_str()), 0);
    {
        const int fd = ::open(dir.File("filler").c_str(), O_WRONLY | O_CREAT, 0666);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    EXPECT_THROW(runner::WriteSetupStatus(ini, "Common", "SetupStatus", "Continue"),
                 runner::EIniFileException);
    EXPECT_EQ(ReadFile(ini), content);

    ASSERT_EQ(::unlink(dir.File("filler").c_str()), 0);
    runner::WriteSetupStatus(ini, "Common", "SetupStatus", "Continue");
    std::string expected = content;
    EXPECT_EQ(ReadFile(dir.File("other.ini")), expected.replace(21, 7, "Continue"));
}

// The settings file is deleted while the runner waits for a row lock. The run has read it
// already and goes on; SetupStatus is written into a new file of its own.
TEST_F(FaultProcess, SettingsFileDeletedDuringTheRun) {
    if (!testsupport::ServerAvailable()) {
        GTEST_SKIP() << "no Firebird server on localhost:3050";
    }
    const std::string db = "localhost:" + Database("a.fdb");
    Prepare({db});
    const auto blocker = HoldRowLock(db);
    Connection watcher(db);
    auto runner = Start();
    ASSERT_NE(WaitingAttachment(watcher, kUpdate), 0) << ReadFile(log);
    ASSERT_EQ(::unlink(ini.c_str()), 0);
    blocker->tr.Rollback();
    const std::optional<int> exitCode = runner->Wait(60s);
    ASSERT_TRUE(exitCode) << ReadFile(log);
    watcher.tr.Commit();

    EXPECT_EQ(*exitCode, 0);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(NewEntries(), CompleteRun(db));
    EXPECT_EQ(Settings(), "[Common]\nSetupStatus=Continue\n");
    EXPECT_EQ(Rows(db, kRowsOfT), kUpgradedRows);
}

// The settings file is a symbolic link (relative) into another folder: the link stays a link
// and the file it points to gets the new content; no temporary file is left behind.
TEST_F(FaultProcess, SettingsFileIsASymbolicLink) {
    const std::string db = Database("a.fdb");
    Prepare({db});
    std::filesystem::create_directory(dir.File("conf"));
    std::filesystem::rename(ini, dir.File("conf/settings.ini"));
    ASSERT_EQ(::symlink("conf/settings.ini", ini.c_str()), 0);
    Run();
    EXPECT_EQ(NewEntries(), CompleteRun(db));
    EXPECT_TRUE(std::filesystem::is_symlink(ini));
    EXPECT_EQ(std::filesystem::read_symlink(ini), "conf/settings.ini");
    EXPECT_EQ(ReadFile(dir.File("conf/settings.ini")), NewSettings("Continue"));
    for (const std::string& folder : {dir.Path(), dir.File("conf")}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
                << entry.path();
        }
    }
    EXPECT_EQ(Rows(db, kRowsOfT), kUpgradedRows);
}

// The runner is killed while it waits for its script (a FIFO that this test holds open for
// writing and never writes to), connected to its database already. The settings file said
// "Continue" from an earlier run; it now says "Cancel" and is otherwise as it was.
TEST_F(FaultProcess, KilledBeforeTheEndLeavesCancel) {
    const std::string db = Database("a.fdb");
    Prepare({db});
    WriteFile(ini, NewSettings("Continue"));
    ASSERT_EQ(::unlink(script.c_str()), 0);
    ASSERT_EQ(::mkfifo(script.c_str(), 0666), 0);
    const int writer = ::open(script.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    auto runner = Start();
    const std::string fds = "/proc/" + std::to_string(runner->Pid()) + "/fd";
    // The log's entry comes after the start of the program (the forked child still holds the
    // writer's descriptor until it starts the runner) and right before the script is opened.
    const auto readsScript = [&] {
        if (ReadFile(log).find("Start upgrade database") == std::string::npos) {
            return false;
        }
        std::error_code ec;
        for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
            if (std::filesystem::read_symlink(fd.path(), ec) == script) {
                return true;
            }
        }
        return false;
    };
    const bool waiting = WaitUntil(readsScript, 60s);
    EXPECT_EQ(runner->Kill(SIGKILL), 128 + SIGKILL);
    ::close(writer);
    ASSERT_TRUE(waiting) << ReadFile(log);

    EXPECT_EQ(Settings(), NewSettings("Cancel"));
    EXPECT_EQ(NewEntries(), (std::vector<std::string>{
                                "level 5:   Database list count = 1\r\n",
                                "level 5:   database_0 - " + db + "\r\n",
                                "level 5:   Start upgrade database " + db + " \r\n",
                            }));
    EXPECT_EQ(Rows(db, kRowsOfT), (std::vector<std::string>{"0|<null>"}));
}

// The runner is killed with SIGKILL at random points of a run, 20 times on the same database.
// Each time the settings file holds its old content or a new complete one ("Cancel" from the
// start of the run, "Continue" from its end), the log still starts with everything it held
// before and ends with a whole entry, and every statement is either applied in full or not at
// all. A last run then ends in order on the same database, which the engine still finds sound.
TEST_F(FaultProcess, KilledAtRandomPoints) {
    // Only the runners and isql-fb (through the runners' lock folder) touch this database:
    // a killed runner cannot hold up anyone else's.
    const std::string db = data.File("kill.fdb");
    testsupport::CreateDatabase(db, 1, kBatchTables);
    Prepare({db}, runnertest::BatchStatements(12));
    const auto check = [&](const std::string& when) {
        SCOPED_TRACE(when);
        const std::string settings = Settings();
        EXPECT_TRUE(settings == OldSettings() || settings == NewSettings("Cancel") ||
                    settings == NewSettings("Continue"))
            << settings;
        EXPECT_EQ(Value(db, kTornBatches), "0");
    };

    // Two undisturbed runs first: how long a run lasts here (the first one also pays for
    // setting up the lock folder).
    Clock::duration runTime = Clock::duration::max();
    for (int run = 1; run <= 2; ++run) {
        WriteFile(ini, OldSettings());
        const auto started = Clock::now();
        const auto runner = Start();
        ASSERT_EQ(runner->Wait(120s), std::optional<int>(0)) << Output();
        runTime = std::min(runTime, Clock::now() - started);
        check("undisturbed run " + std::to_string(run));
        EXPECT_EQ(Settings(), NewSettings("Continue"));
        EXPECT_EQ(Value(db, "SELECT COUNT(*) FROM T"), std::to_string(24 * run));
    }

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("random seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> pause(
        0, std::chrono::duration_cast<std::chrono::microseconds>(runTime).count());
    int killed = 0;
    for (int round = 0; round < 20; ++round) {
        WriteFile(ini, OldSettings());
        const std::string before = ReadFile(log);
        const auto runner = Start();
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        killed += runner->Kill(SIGKILL) == 128 + SIGKILL ? 1 : 0;
        const std::string after = ReadFile(log);
        EXPECT_EQ(after.compare(0, before.size(), before), 0) << "round " << round;
        EXPECT_TRUE(after.size() >= 2 && after.compare(after.size() - 2, 2, "\r\n") == 0)
            << "round " << round << ": torn entry at the end";
        check("round " + std::to_string(round));
    }
    // Most rounds must really have hit a running process.
    EXPECT_GE(killed, 10);

    WriteFile(ini, OldSettings());
    ASSERT_EQ(Start()->Wait(120s), std::optional<int>(0)) << Output();
    check("last run");
    EXPECT_EQ(Settings(), NewSettings("Continue"));
    EXPECT_EQ(LogEntries().back(), "level 5:   Close application\r\n");
    if (FileExists("/usr/bin/gfix")) {
        // A killed process leaves pages it had allocated but not yet used (orphan pages) and
        // back versions of its undone work (orphan back versions): warnings that cost only
        // space. Any error is a damaged database.
        std::istringstream lines(Tool({"/usr/bin/gfix", "-validate", "-full", "-no_update", "-user",
                                       "SYSDBA", "-password", testsupport::kServerPassword, db}));
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(line == "Summary of validation errors" ||
                        line.find(" warnings\t: ") != std::string::npos)
                << line;
        }
    }
}

}  // namespace

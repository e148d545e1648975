// The log file writer against real files: entry format, threshold, appending, unwritable
// paths, and several writers sharing one file.
#include "logging/Logger.h"

#include "ibclient/FormatSettings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace {

using logging::FormatLogEntry;
using logging::TLogger;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// Splits a log into its entries (each ends with "\r\n" and starts with a time stamp).
std::vector<std::string> Entries(const std::string& log) {
    static const std::regex stamp(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\.\d{3} level )");
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        // An entry may span lines; the next one starts after a "\r\n" followed by a stamp.
        while (end != std::string::npos && end + 2 < log.size() &&
               !std::regex_search(log.substr(end + 2, 30), stamp,
                                  std::regex_constants::match_continuous)) {
            end = log.find("\r\n", end + 2);
        }
        if (end == std::string::npos) {
            result.push_back(log.substr(start));
            break;
        }
        result.push_back(log.substr(start, end + 2 - start));
        start = end + 2;
    }
    return result;
}

// A literal with its embedded NUL bytes.
template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// The text after the time stamp ("level ...").
std::string WithoutStamp(const std::string& entry) { return entry.substr(24); }

TEST(LogEntryFormat, LevelMessageAndLineBreak) {
    struct Case {
        int32_t level;
        std::string message;
        std::string expected;
    } const cases[] = {
        {5, " Close application", "S level 5:   Close application\r\n"},
        {1, "", "S level 1:  \r\n"},
        {-3, "x", "S level -3:  x\r\n"},
        {1, " error: a\r\nerror message: b\r\n", "S level 1:   error: a\r\nerror message: b\r\n\r\n"},
        {2147483647, std::string("\0\xff", 2), Bytes("S level 2147483647:  \0\xff\r\n")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatLogEntry("S", c.level, c.message), c.expected) << c.message;
    }
}

TEST(LogEntryFormat, TimeStampIsLocalNowWithTheLocaleTimeSeparator) {
    const ibclient::TFormatSettings saved = ibclient::FormatSettings();
    ibclient::TFormatSettings dotted = saved;
    dotted.TimeSeparator = '.';
    ibclient::SetFormatSettings(dotted);
    const std::time_t before = std::time(nullptr);
    const std::string stamp = logging::CurrentTimeStamp();
    const std::time_t after = std::time(nullptr);
    ibclient::SetFormatSettings(saved);

    std::smatch m;
    ASSERT_TRUE(std::regex_match(stamp, m,
                                 std::regex(R"((\d\d)-(\d\d)-(\d{4}) (\d\d)\.(\d\d)\.(\d\d)\.\d{3})")))
        << stamp;
    std::tm parsed{};
    parsed.tm_mday = std::stoi(m[1]);
    parsed.tm_mon = std::stoi(m[2]) - 1;
    parsed.tm_year = std::stoi(m[3]) - 1900;
    parsed.tm_hour = std::stoi(m[4]);
    parsed.tm_min = std::stoi(m[5]);
    parsed.tm_sec = std::stoi(m[6]);
    parsed.tm_isdst = -1;
    const std::time_t t = std::mktime(&parsed);
    EXPECT_GE(t, before - 1);
    EXPECT_LE(t, after + 1);
}

TEST(Logger, ThresholdDecidesWhatReachesTheFile) {
    TempDir dir;
    const std::string path = dir.File("run.log");
    TLogger log(path, 1);
    log.Log(5, " progress");
    EXPECT_FALSE(FileExists(path)) << "a level above the threshold must not create the file";
    log.Log(1, " error: first");
    log.Log(2, " dropped");
    log.Log(-7, " negative");
    const auto entries = Entries(ReadFile(path));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(WithoutStamp(entries[0]), "level 1:   error: first\r\n");
    EXPECT_EQ(WithoutStamp(entries[1]), "level -7:   negative\r\n");
}

TEST(Logger, ThresholdZeroOrLessNeverCreatesTheFile) {
    TempDir dir;
    for (const int32_t threshold : {0, -1}) {
        const std::string path = dir.File("t" + std::to_string(threshold) + ".log");
        TLogger log(path, threshold);
        for (const int32_t level : {1, 5, 100}) {
            log.Log(level, "message");
        }
        EXPECT_FALSE(FileExists(path)) << threshold;
    }
}

TEST(Logger, AppendsAfterExistingContentAndNeverTruncates) {
    TempDir dir;
    const std::string path = dir.File("run.log");
    const std::string earlier = "earlier run line without a line break";
    WriteFile(path, earlier);
    {
        TLogger first(path, 5);
        first.Log(5, "one");
    }
    TLogger second(path, 5);
    second.Log(1, "two\r\nspans lines");
    const std::string log = ReadFile(path);
    ASSERT_EQ(log.rfind(earlier, 0), 0u);
    const auto entries = Entries(log.substr(earlier.size()));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(WithoutStamp(entries[0]), "level 5:  one\r\n");
    EXPECT_EQ(WithoutStamp(entries[1]), "level 1:  two\r\nspans lines\r\n");
}

TEST(Logger, UnwritablePathsAreSilentlyDropped) {
    TempDir dir;
    WriteFile(dir.File("plain-file"), "x");
    for (const std::string& path :
         {dir.File("missing/dir/run.log"), dir.File("plain-file/run.log"), std::string(),
          dir.Path()}) {
        TLogger log(path, 5);
        log.Log(1, "lost");
        log.Log(5, "lost again");
    }
    EXPECT_FALSE(FileExists(dir.File("missing")));
    EXPECT_EQ(ReadFile(dir.File("plain-file")), "x");
    // A later call on a path that has become writable succeeds.
    const std::string later = dir.File("later/run.log");
    TLogger log(later, 1);
    log.Log(1, "before");
    ASSERT_EQ(::mkdir(dir.File("later").c_str(), 0777), 0);
    log.Log(1, "after");
    const auto entries = Entries(ReadFile(later));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(WithoutStamp(entries[0]), "level 1:  after\r\n");
}

TEST(Logger, WaitsForAnotherWritersLockInsteadOfInterleaving) {
    TempDir dir;
    const std::string path = dir.File("run.log");
    WriteFile(path, "");
    const int holder = ::open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    TLogger log(path, 1);
    std::thread writer([&] { log.Log(1, "entry"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Written while the other writer holds the lock: must stand before the logger's entry.
    const std::string held = "held line\r\n";
    ASSERT_EQ(::write(holder, held.data(), held.size()), static_cast<ssize_t>(held.size()));
    ::close(holder);
    writer.join();

    const std::string log_text = ReadFile(path);
    ASSERT_EQ(log_text.rfind(held, 0), 0u) << log_text;
    const auto entries = Entries(log_text.substr(held.size()));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(WithoutStamp(entries[0]), "level 1:  entry\r\n");
}

TEST(Logger, ConcurrentProcessesLoseNoEntry) {
    TempDir dir;
    const std::string path = dir.File("shared.log");
    constexpr int kProcesses = 3;
    constexpr int kEntries = 1500;
    // A message long enough that torn writes would show, and with an inner line break.
    const std::string padding(300, 'p');
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            TLogger log(path, 5);
            for (int i = 0; i < kEntries; ++i) {
                log.Log(5, "p" + std::to_string(p) + " e" + std::to_string(i) + "\r\n" + padding);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const auto entries = Entries(ReadFile(path));
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kProcesses * kEntries));
    std::set<std::string> seen;
    std::vector<int> next(kProcesses, 0);
    const std::regex shape("level 5:  p(\\d) e(\\d+)\r\n" + padding + "\r\n");
    for (const auto& entry : entries) {
        std::smatch m;
        const std::string body = WithoutStamp(entry);
        ASSERT_TRUE(std::regex_match(body, m, shape)) << entry.substr(0, 80);
        const int p = std::stoi(m[1]);
        const int i = std::stoi(m[2]);
        // Each process's own entries keep their order.
        EXPECT_EQ(i, next[p]++);
        seen.insert(body);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kProcesses * kEntries));
}

}  // namespace

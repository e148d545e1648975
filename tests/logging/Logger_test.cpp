// The log file writer against real files: entry format, threshold, appending, unwritable
// paths, and several writers sharing one file.
#include "logging/Logger.h"

#include "platform/FormatSettings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
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

// True when `text` starts with a time stamp "dd-mm-yyyy hh?nn?ss.zzz" (any separator `sep`).
bool StartsWithStamp(std::string_view text, char sep = ':') {
    static constexpr std::string_view kShape = "00-00-0000 00:00:00.000";
    if (text.size() < kShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const char want = kShape[i] == ':' ? sep : kShape[i];
        const bool ok = want == '0' ? (text[i] >= '0' && text[i] <= '9') : text[i] == want;
        if (!ok) {
            return false;
        }
    }
    return true;
}

// Splits a log into its entries: each starts with a time stamp and " level ", and ends with
// the "\r\n" before the next one (an entry may span lines).
std::vector<std::string> Entries(const std::string& log) {
    const auto startsEntry = [&log](std::size_t pos) {
        return StartsWithStamp(std::string_view(log).substr(pos)) &&
               log.compare(pos + 23, 7, " level ") == 0;
    };
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        while (end != std::string::npos && end + 2 < log.size() && !startsEntry(end + 2)) {
            end = log.find("\r\n", end + 2);
        }
        const std::size_t next = end == std::string::npos ? log.size() : end + 2;
        result.push_back(log.substr(start, next - start));
        start = next;
    }
    return result;
}

// A literal with its embedded NUL bytes.
template <std::size_t N> std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// The text after the time stamp ("level ...").
std::string WithoutStamp(const std::string& entry) {
    return entry.substr(24);
}

TEST(LogEntryFormat, LevelMessageAndLineBreak) {
    struct Case {
        int32_t level;
        std::string message;
        std::string expected;
    } const cases[] = {
        {5, " Close application", "S level 5:   Close application\r\n"},
        {1, "", "S level 1:  \r\n"},
        {-3, "x", "S level -3:  x\r\n"},
        {1, " error: a\r\nerror message: b\r\n",
         "S level 1:   error: a\r\nerror message: b\r\n\r\n"},
        {2147483647, std::string("\0\xff", 2), Bytes("S level 2147483647:  \0\xff\r\n")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatLogEntry("S", c.level, c.message), c.expected) << c.message;
    }
}

TEST(LogEntryFormat, TimeStampIsLocalNowWithTheLocaleTimeSeparator) {
    const platform::TFormatSettings saved = platform::FormatSettings();
    platform::TFormatSettings dotted = saved;
    dotted.TimeSeparator = '.';
    platform::SetFormatSettings(dotted);
    const std::time_t before = std::time(nullptr);
    const std::string stamp = logging::CurrentTimeStamp();
    const std::time_t after = std::time(nullptr);
    platform::SetFormatSettings(saved);

    ASSERT_EQ(stamp.size(), 23u) << stamp;
    ASSERT_TRUE(StartsWithStamp(stamp, '.')) << stamp;
    std::tm parsed{};
    parsed.tm_mday = std::stoi(stamp.substr(0, 2));
    parsed.tm_mon = std::stoi(stamp.substr(3, 2)) - 1;
    parsed.tm_year = std::stoi(stamp.substr(6, 4)) - 1900;
    parsed.tm_hour = std::stoi(stamp.substr(11, 2));
    parsed.tm_min = std::stoi(stamp.substr(14, 2));
    parsed.tm_sec = std::stoi(stamp.substr(17, 2));
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
        DBU_FALSE_WRESTRICT_BEGIN
        const std::string path = dir.File("t" + std::to_string(threshold) + ".log");
        DBU_FALSE_WRESTRICT_END
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
    for (const std::string& path : {dir.File("missing/dir/run.log"), dir.File("plain-file/run.log"),
                                    std::string(), dir.Path()}) {
        TLogger log(path, 5);
        log.Log(1, "lost");
        log.Log(5, "lost again");
    }
    EXPECT_FALSE(FileExists(dir.File("missing")));
    EXPECT_EQ(ReadFile(dir.File("plain-file")), "x");
    // A FIFO is no log: without a reader it would block the open, with one it would take the
    // entries away from the file they belong in. Neither happens.
    const std::string fifo = dir.File("run.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    TLogger(fifo, 5).Log(1, "lost");
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    TLogger(fifo, 5).Log(1, "lost");
    char byte = 0;
    EXPECT_EQ(::read(reader, &byte, 1), 0);  // nothing was written to it
    ::close(reader);
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
                DBU_FALSE_WRESTRICT_BEGIN
                log.Log(5, "p" + std::to_string(p) + " e" + std::to_string(i) + "\r\n" + padding);
                DBU_FALSE_WRESTRICT_END
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
    for (const auto& entry : entries) {
        // "level 5:  p<P> e<I>\r\n<padding>\r\n", whole and untorn.
        const std::string body = WithoutStamp(entry);
        ASSERT_EQ(body.rfind("level 5:  p", 0), 0u) << entry.substr(0, 80);
        const std::size_t e = body.find(" e");
        const std::size_t br = body.find("\r\n");
        ASSERT_TRUE(e != std::string::npos && br != std::string::npos && e < br) << entry;
        ASSERT_EQ(body.substr(br), "\r\n" + padding + "\r\n") << entry.substr(0, 80);
        const int p = std::stoi(body.substr(11, e - 11));
        const int i = std::stoi(body.substr(e + 2, br - e - 2));
        ASSERT_TRUE(p >= 0 && p < kProcesses) << entry;
        // Each process's own entries keep their order.
        EXPECT_EQ(i, next[p]++);
        seen.insert(body);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kProcesses * kEntries));
}

} // namespace

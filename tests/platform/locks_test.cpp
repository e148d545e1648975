// Locks between processes: entries appended by two processes at once stay whole, and the lock
// of a run keeps a second holder of the same file out, in this process and in another.
#include "tests/platform/TestHost.h"

#include "platform/FileLock.h"
#include "platform/RunLock.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>

namespace {

using namespace platformtest;

TEST(AppendUnderLock, TwoProcessesKeepEveryEntryWhole) {
    const TempFolder dir;
    const std::string log = dir.File("dbupgrade.log");
    constexpr int kEntries = 300;
    {
        Child first(SelfPath(), {"--child", "append", log, std::to_string(kEntries), "first"});
        Child second(SelfPath(), {"--child", "append", log, std::to_string(kEntries), "second"});
        ASSERT_EQ(first.Wait(), 0);
        ASSERT_EQ(second.Wait(), 0);
    }
    const std::string content = ReadBytes(log);
    ASSERT_EQ(content.size(), 2u * kEntries * 1000u);
    std::map<std::string, int> next;  // the next index expected of each writer
    for (std::size_t at = 0; at < content.size(); at += 1000) {
        const std::string entry = content.substr(at, 1000);
        ASSERT_TRUE(entry.ends_with(std::string(10, 'x') + "\r\n")) << "torn at byte " << at;
        std::istringstream fields(entry);
        std::string tag;
        int index = -1;
        fields >> tag >> index;
        ASSERT_EQ(index, next[tag]++) << "at byte " << at;
    }
    EXPECT_EQ(next["first"], kEntries);
    EXPECT_EQ(next["second"], kEntries);
}

TEST(RunLock, OneHolderAtATimePerFile) {
    const TempFolder dir;
    const std::string path = dir.File("dbupgrade.ini");
    std::optional<platform::RunLock> held = platform::RunLock::TryAcquire(path);
    ASSERT_TRUE(held.has_value());

    // The same file under another name, in this process and in another; the file need not
    // exist, nor its folder be writable.
    EXPECT_FALSE(platform::RunLock::TryAcquire(Utf8(Fs(dir.Path()) / "." / "dbupgrade.ini")));
    EXPECT_EQ(RunChild(SelfPath(), {"--child", "trylock", path}), 1);
    EXPECT_TRUE(platform::RunLock::TryAcquire(dir.File("other.ini")));

    held.reset();
    EXPECT_EQ(RunChild(SelfPath(), {"--child", "trylock", path}), 0);
}

}  // namespace

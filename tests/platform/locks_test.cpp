// File locks between processes: entries appended by two processes at once stay whole, and the
// exclusive lock of a run keeps a second holder out, in this process and in another, but no
// reader.
#include "tests/platform/TestHost.h"

#include "platform/FileLock.h"

#include <gtest/gtest.h>

#include <map>
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

TEST(FileLock, OneHolderAtATimeAndReadersStayIn) {
    const TempFolder dir;
    const std::string path = dir.File("dbupgrade.ini.lock");
    platform::FileLock held = platform::FileLock::TryLock(path);
    ASSERT_TRUE(held.IsHeld());

    const platform::FileLock again = platform::FileLock::TryLock(path);
    EXPECT_FALSE(again.IsHeld());
    EXPECT_TRUE(again.HeldByAnother());
    EXPECT_EQ(RunChild(SelfPath(), {"--child", "trylock", path}), 1);
    WriteBytes(dir.File("other"), "content");
    const platform::FileLock other = platform::FileLock::TryLock(dir.File("other"));
    EXPECT_TRUE(other.IsHeld());
    EXPECT_EQ(ReadBytes(dir.File("other")), "content");

    held.Release();
    EXPECT_EQ(RunChild(SelfPath(), {"--child", "trylock", path}), 0);

    const platform::FileLock nowhere = platform::FileLock::TryLock(dir.File("no folder/x.lock"));
    EXPECT_FALSE(nowhere.IsHeld());
    EXPECT_FALSE(nowhere.HeldByAnother());
    EXPECT_NE(nowhere.ErrorNumber(), 0);
}

}  // namespace

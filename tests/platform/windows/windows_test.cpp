// What only Windows has: the file attributes that a replacement keeps, a replacement that
// Windows refuses, the sharing of the script, the log's lock past its content, the Firebird
// instance that its installer registers, and the active code page (1251 under Wine's
// ru_RU.UTF-8).
#include "tests/platform/TestHost.h"

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileLock.h"
#include "platform/Files.h"
#include "platform/Library.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

using namespace platformtest;

std::wstring Wide(const std::string& utf8) {
    return Fs(utf8).wstring();
}

std::size_t FilesIn(const std::string& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(Fs(folder))) {
        ++count;
    }
    return count;
}

TEST(WindowsReplaceFile, KeepsAttributesOrRewritesInPlace) {
    const TempFolder dir;
    const std::string path = dir.File("dbupgrade.ini");
    WriteBytes(path, "[Common]\r\n");
    ASSERT_TRUE(
        SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    const auto append = [](std::string_view current) { return std::string(current) + "A=1\r\n"; };
    EXPECT_EQ(platform::ReplaceFileContent(path, append), platform::ReplaceOutcome::Replaced);
    EXPECT_EQ(ReadBytes(path), "[Common]\r\nA=1\r\n");
    EXPECT_NE(GetFileAttributesW(Wide(path).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

    // Open elsewhere without FILE_SHARE_DELETE: no new file can take its place.
    const HANDLE reader =
        CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::ReplaceFileContent(path, append), platform::ReplaceOutcome::Rewritten);
    CloseHandle(reader);
    EXPECT_EQ(ReadBytes(path), "[Common]\r\nA=1\r\nA=1\r\n");
    EXPECT_EQ(FilesIn(dir.Path()), 1u) << "a temporary file was left";

    ASSERT_TRUE(SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(platform::ReplaceFileContent(path, append), platform::ReplaceOutcome::NotWritten);
    EXPECT_EQ(ReadBytes(path), "[Common]\r\nA=1\r\nA=1\r\n");
}

TEST(WindowsReadLockedFile, WritersAreShutOutBothWays) {
    const TempFolder dir;
    const std::string path = dir.File("dbupgrade.sql");
    WriteBytes(path, "SELECT 1 FROM RDB$DATABASE\r\n");
    const auto openForWriting = [&] {
        return CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    {
        platform::ReadLockedFile script(path);
        platform::ReadLockedFile second(path);  // readers share
        EXPECT_EQ(openForWriting(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    const HANDLE writer = openForWriting();
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    try {
        platform::ReadLockedFile script(path);
        ADD_FAILURE() << "opened a file that is open for writing";
    } catch (const platform::EInOutError& error) {
        EXPECT_EQ(error.ErrorCode(), 5);
        EXPECT_EQ(error.Message(), "File access denied");
    }
    CloseHandle(writer);
}

TEST(WindowsAppendUnderLock, WaitsOnceForAStuckHolderAndKeepsNoReaderOut) {
    const TempFolder dir;
    const std::string log = dir.File("dbupgrade.log");
    WriteBytes(log, "old\r\n");
    // Another appender holding the lock: the byte that every appender locks (0x4000000000000000,
    // far beyond any content).
    const HANDLE holder = CreateFileW(Wide(log).c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    OVERLAPPED at{};
    at.OffsetHigh = 0x40000000;
    ASSERT_TRUE(
        LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));

    bool waitForLock = true;
    EXPECT_TRUE(platform::AppendUnderLock(log, "first\r\n", waitForLock));
    EXPECT_FALSE(waitForLock) << "the wait ran out, and is not waited again";
    EXPECT_TRUE(platform::AppendUnderLock(log, "second\r\n", waitForLock));
    EXPECT_EQ(ReadBytes(log), "old\r\nfirst\r\nsecond\r\n");

    UnlockFileEx(holder, 0, 1, 0, &at);
    CloseHandle(holder);
}

TEST(WindowsClientLibrary, RegisteredFirebirdInstance) {
    SetEnvironment("DBU_CLIENT_LIBRARY", "");
    const wchar_t* const key = L"SOFTWARE\\Firebird Project\\Firebird Server\\Instances";
    HKEY instances = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &instances, nullptr),
              ERROR_SUCCESS);
    // The test's own value, and the one that was there before (if any) put back at the end.
    DWORD size = 0;
    const bool hadValue = RegGetValueW(instances, nullptr, L"DefaultInstance", RRF_RT_REG_SZ,
                                       nullptr, nullptr, &size) == ERROR_SUCCESS;
    std::wstring old(size / sizeof(wchar_t), L'\0');
    if (hadValue) {
        RegGetValueW(instances, nullptr, L"DefaultInstance", RRF_RT_REG_SZ, nullptr, old.data(),
                     &size);
    }
    const std::wstring folder = L"C:\\Program Files\\Firebird\\Firebird_3_0";
    RegSetValueExW(instances, L"DefaultInstance", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    const std::vector<std::string> candidates = platform::ClientLibraryCandidates();
    if (hadValue) {
        RegSetValueExW(instances, L"DefaultInstance", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(old.c_str()), size);
    } else {
        RegDeleteValueW(instances, L"DefaultInstance");
    }
    RegCloseKey(instances);

    const std::string own = Utf8(Fs(SelfPath()).parent_path()) + "\\";
    EXPECT_EQ(candidates, (std::vector<std::string>{
                              own + "fbclient.dll", own + "gds32.dll",
                              "C:\\Program Files\\Firebird\\Firebird_3_0\\fbclient.dll",
                              "C:\\Program Files\\Firebird\\Firebird_3_0\\bin\\fbclient.dll",
                              "fbclient.dll", "gds32.dll"}));
}

TEST(WindowsCodePage, ActiveCodePageIs1251UnderRussian) {
    if (GetACP() != 1251) {
        GTEST_SKIP() << "active code page " << GetACP();
    }
    // "При" in code page 1251.
    EXPECT_EQ(platform::ActiveCodePageToUtf8("\xCF\xF0\xE8"), "\xD0\x9F\xD1\x80\xD0\xB8");
    bool lossless = false;
    EXPECT_EQ(platform::Utf8ToActiveCodePage("\xD0\x9F\xD1\x80\xD0\xB8", &lossless),
              "\xCF\xF0\xE8");
    EXPECT_TRUE(lossless);
    EXPECT_EQ(platform::Utf8ToActiveCodePage("a\xE4\xB8\xAD", &lossless), "a?");
    EXPECT_FALSE(lossless);
}

}  // namespace

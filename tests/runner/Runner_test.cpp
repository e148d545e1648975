// The main sequence's own rules, in process: DebugMode texts, the database list read from the
// settings file, and what happens after an error escapes the sequence.
#include "runner/Runner.h"

#include "ibclient/Errors.h"
#include "runner/RunnerContext.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using runner::ParseDebugMode;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(DebugMode, DecimalAndHexadecimalTexts) {
    struct Case {
        const char* text;
        int32_t expected;
    } const cases[] = {
        {"5", 5},
        {"0", 0},
        {"-3", -3},
        {"+7", 7},
        {"  12", 12},
        {"0x0A", 10},
        {"0X0a", 10},
        {"$A", 10},
        {"xff", 255},
        {"Xff", 255},
        {"-$10", -16},
        {"+0x10", 16},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$7FFFFFFF", INT32_MAX},
        {"-$80000000", INT32_MIN},
        // Everything else gives the default 1.
        {"", 1},
        {"abc", 1},
        {"5a", 1},
        {"5 ", 1},
        {"\t5", 1},
        {"$", 1},
        {"0x", 1},
        {"-", 1},
        {"+-5", 1},
        {"0x-5", 1},
        {"00x10", 1},
        {"2147483648", 1},
        {"-2147483649", 1},
        {"$80000000", 1},
        {"99999999999999999999", 1},
        {"1e3", 1},
        {"1.5", 1},
        {"$$A", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseDebugMode(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ReadSettings, MissingFileGivesDefaults) {
    TempDir dir;
    const runner::RunSettings s = runner::ReadSettings(dir.File("none.ini"));
    EXPECT_EQ(s.General.DebugMode, 1);
    EXPECT_EQ(s.General.ReconnectWait, 30);
    EXPECT_EQ(s.General.LockTimeout, 0);
    EXPECT_EQ(s.General.ConnectTimeout, 0);
    EXPECT_TRUE(s.DatabaseList.empty());
    EXPECT_FALSE(s.DatabaseListCut);
}

TEST(ReadSettings, WaitsAreNumbersOfGeneralWithTheDebugModeSyntax) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    WriteFile(path, "[General]\r\nreconnectwait = 0\r\nLockTimeout=$A\r\nConnectTimeout=' 15'\r\n");
    runner::RunSettings s = runner::ReadSettings(path);
    EXPECT_EQ(s.General.ReconnectWait, 0);
    EXPECT_EQ(s.General.LockTimeout, 10);
    EXPECT_EQ(s.General.ConnectTimeout, 15);
    // Not numbers: the defaults, whatever the other keys say.
    WriteFile(path, "[General]\r\nReconnectWait=5s\r\nLockTimeout=\r\nConnectTimeout=abc\r\n"
                    "DebugMode=5\r\n");
    s = runner::ReadSettings(path);
    EXPECT_EQ(s.General.ReconnectWait, 30);
    EXPECT_EQ(s.General.LockTimeout, 0);
    EXPECT_EQ(s.General.ConnectTimeout, 0);
    EXPECT_EQ(s.General.DebugMode, 5);
}

TEST(ReadSettings, OnErrorIsContinueOrStopInAnyCase) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    for (const auto& [text, expected] :
         std::vector<std::pair<std::string, runner::TOnError>>{
             {"", runner::TOnError::Continue},
             {"OnError=stop\r\n", runner::TOnError::Stop},
             {"onerror = 'CONTINUE'\r\n", runner::TOnError::Continue},
             {"OnError=Halt\r\nOnError=Stop\r\n", runner::TOnError::Continue},
         }) {
        WriteFile(path, "[General]\r\n" + text);
        EXPECT_EQ(runner::ReadSettings(path).General.OnError, expected) << text;
    }
}

TEST(ReadSettings, DatabaseEntriesAreKeyEqualsValueInFileOrder) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    WriteFile(path, "[general]\r\ndebugmode = \" 0x10\"\r\n[Database]\r\nB = ' /b.fdb ' \r\n"
                    "a=localhost:/a.fdb\r\nempty=\r\nb=dup\r\n");
    const runner::RunSettings s = runner::ReadSettings(path);
    EXPECT_EQ(s.General.DebugMode, 16);
    // The key b occurs twice (names ignore case): each line is an entry with its own value.
    EXPECT_EQ(s.DatabaseList,
              (std::vector<std::string>{"B= /b.fdb ", "a=localhost:/a.fdb", "empty=", "b=dup"}));
    EXPECT_EQ(runner::EntryValue(s.DatabaseList[1]), "localhost:/a.fdb");
    EXPECT_EQ(runner::EntryValue("k=v=w"), "v=w");
}

TEST(ReadSettings, ThousandsOfKeysUpToTheKeyBuffer) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    std::string content = "[Database]\n";
    for (int i = 0; i < 3000; ++i) {
        DBU_FALSE_WRESTRICT_BEGIN
        content += "D" + std::to_string(10000 + i) + "=/db" + std::to_string(i) + "\n";
        DBU_FALSE_WRESTRICT_END
    }
    WriteFile(path, content);
    const runner::RunSettings s = runner::ReadSettings(path);
    // Six characters per name and a terminator each: (16384 - 1) / 7 names fit.
    ASSERT_EQ(s.DatabaseList.size(), 2340u);
    EXPECT_TRUE(s.DatabaseListCut);
    EXPECT_EQ(s.DatabaseList.front(), "D10000=/db0");
    EXPECT_EQ(s.DatabaseList.back(), "D12339=/db2339");
}

// The README's list of the keys of [General] is the table's: every key with its default and
// meaning, in the table's order, however the README wraps its lines.
TEST(GeneralSettings, ReadmeListsTheTable) {
    const auto words = [](const std::string& text) {
        std::string joined;
        std::istringstream in(text);
        for (std::string word; in >> word;) {
            joined += word + " ";
        }
        return joined;
    };
    const std::string readme = words(ReadFile(testsupport::SourceDir() + "/README.md"));
    EXPECT_NE(readme.find(words(runner::GeneralSettingsMarkdown())), std::string::npos)
        << "the README should list, however wrapped:\n"
        << runner::GeneralSettingsMarkdown();
}

TEST(EscapedError, ReportIsOneLineWithClassModuleAndMessage) {
    EXPECT_EQ(runner::UnhandledErrorReport(
                  ibclient::EIBClientError(1, "Unable to complete network request\r\nto host"),
                  "dbupgrade"),
              "Exception EIBClientError in module dbupgrade: Unable to complete network request "
              "to host\n");
    EXPECT_EQ(runner::UnhandledErrorReport(std::runtime_error("a\nb\rc"), "m"),
              "Exception std::runtime_error in module m: a b c\n");
}

TEST(EscapedError, SetupStatusBecomesCancel) {
    TempDir dir;
    runner::RunnerContext context;
    context.ExecutablePath = dir.File("dbupgrade");
    const std::string ini = dir.File("dbupgrade.ini");
    WriteFile(ini, "[Database]\nMain=/m.fdb\n[Common]\nSetupStatus=Continue\n");
    runner::WriteCancelAfterEscapedError(context);
    EXPECT_EQ(ReadFile(ini), "[Database]\nMain=/m.fdb\n[Common]\nSetupStatus=Cancel\n");

    // A file that cannot be written stays as it is, and nothing is raised.
    WriteFile(ini, "[Common]\nSetupStatus=Continue\n");
    ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
    runner::WriteCancelAfterEscapedError(context);
    EXPECT_EQ(ReadFile(ini), "[Common]\nSetupStatus=Continue\n");

    // Without the executable's path there is no settings file to write.
    runner::RunnerContext unknown;
    runner::WriteCancelAfterEscapedError(unknown);
    EXPECT_FALSE(testsupport::FileExists(".ini"));
}

} // namespace

// The dbupgrade executable run as a real process: a copy of it in a temporary folder finds
// its .ini, .log and .sql beside itself. Every orderly end must leave stdout and stderr empty.
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace {

using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

using RunnerProcess = runnertest::RunnerProcessFixture;

TEST_F(RunnerProcess, NoSettingsFile) {
    Run();
    EXPECT_EQ(LogEntries(),
              std::vector<std::string>{"level 1:   error: database list count = 0\r\n"});
    EXPECT_EQ(Settings(), "[Common]\nSetupStatus=Cancel\n");
}

TEST_F(RunnerProcess, EmptyListIsListedAtDebugMode5WithoutClosing) {
    WriteFile(ini, "[General]\r\nDebugMode=5\r\n[Database]\r\n");
    Run();
    EXPECT_EQ(LogEntries(),
              (std::vector<std::string>{"level 1:   error: database list count = 0\r\n",
                                        "level 5:   Database list count = 0\r\n"}));
    EXPECT_EQ(Settings(),
              "[General]\r\nDebugMode=5\r\n[Database]\r\n[Common]\r\nSetupStatus=Cancel\r\n");
}

TEST_F(RunnerProcess, ThresholdZeroOrLessWritesNoLogButSetupStatus) {
    const std::string db = NewDatabase("a.fdb");
    for (const std::string mode : {"0", "-1", "-$A"}) {
        WriteFile(ini, "[General]\nDebugMode=" + mode + "\n[Database]\nA=" + db + "\n");
        Run();
        EXPECT_FALSE(FileExists(log)) << mode;
        EXPECT_EQ(Settings(), "[General]\nDebugMode=" + mode + "\n[Database]\nA=" + db +
                                  "\n[Common]\nSetupStatus=Continue\n");
    }
}

TEST_F(RunnerProcess, DebugModeTextsDecideTheListing) {
    struct Case {
        const char* mode;
        bool listed;
    } const cases[] = {{"4", false},     {"5", true},    {"0x0A", true}, {"$A", true}, {"X5", true},
                       {"' 0X5'", true}, {"abc", false}, {"5a", false},  {"$", false}};
    for (const auto& c : cases) {
        WriteFile(ini, std::string("[General]\nDebugMode=") + c.mode + "\n");
        std::filesystem::remove(log);
        Run();
        std::vector<std::string> expected{"level 1:   error: database list count = 0\r\n"};
        if (c.listed) {
            expected.push_back("level 5:   Database list count = 0\r\n");
        }
        EXPECT_EQ(LogEntries(), expected) << c.mode;
    }
}

TEST_F(RunnerProcess, TwoDatabasesUpgradedWithTheRestOfTheFileKept) {
    const std::string a = NewDatabase("a.fdb");
    const std::string b = NewDatabase("b.fdb");
    const std::string before = "; written by setup\r\n[General]\r\n  DebugMode = 5 \r\n\r\n"
                               "[Database]\r\nMain = \"" +
                               a +
                               "\"\r\n; Old=/gone.fdb\r\n"
                               "second=  " +
                               b +
                               "  \r\n\r\n[Common]\r\nOther=keep\r\n"
                               "SetupStatus = Cancel\r\n[Tail]\r\nx=\xC0\xFF\r\n";
    WriteFile(ini, before);
    Run();
    EXPECT_EQ(LogEntries(),
              (std::vector<std::string>{
                  "level 5:   Database list count = 2\r\n", "level 5:   database_0 - " + a + "\r\n",
                  "level 5:   database_1 - " + b + "\r\n",
                  "level 5:   Start upgrade database " + a + " \r\n",
                  "level 5:   Database " + a + " upgrade was successful completed\r\n",
                  "level 5:   Start upgrade database " + b + " \r\n",
                  "level 5:   Database " + b + " upgrade was successful completed\r\n",
                  "level 5:   Close application\r\n"}));
    std::string after = before;
    after.replace(after.find("SetupStatus = Cancel"), 20, "SetupStatus = Continue");
    EXPECT_EQ(Settings(), after);

    // A second run appends to the log; SetupStatus is rewritten in place once more.
    Run();
    EXPECT_EQ(LogEntries().size(), 16u);
    EXPECT_EQ(Settings(), after);
}

TEST_F(RunnerProcess, AfterAFailedEntryNoLaterEntryReportsSuccess) {
    const std::string b = NewDatabase("b.fdb");
    WriteFile(ini, "[General]\nDebugMode=5\n[Database]\nblank=   \nB=" + b + "\n");
    Run();
    EXPECT_EQ(LogEntries(),
              (std::vector<std::string>{"level 5:   Database list count = 2\r\n",
                                        "level 5:   database_0 - \r\n",
                                        "level 5:   database_1 - " + b + "\r\n",
                                        "level 1:   error: database blank has an empty name; "
                                        "it is not upgraded\r\n",
                                        "level 5:   Start upgrade database " + b + " \r\n",
                                        "level 5:   Close application\r\n"}));
    EXPECT_NE(Settings().find("SetupStatus=Cancel\n"), std::string::npos);
}

// A database name is never cut or taken in part: an empty value, one holding a NUL byte and one
// longer than the value limit are each a failed database with an entry naming its key; the
// database after them is upgraded, and the run says "Cancel". The NUL case names a database
// that exists in front of the NUL, which must stay untouched.
TEST_F(RunnerProcess, DatabaseNamesThatCannotBeUsedWholeAreFailedDatabases) {
    const std::string front = NewDatabase("front.fdb", 1, "CREATE TABLE T (A INTEGER);");
    const std::string good = NewDatabase("good.fdb", 1, "CREATE TABLE T (A INTEGER);");
    WriteFile(script, "INSERT INTO T VALUES (1)\n");
    const std::string longName = "/" + std::string(2047, 'x');
    struct Case {
        const char* what;
        std::string line;
        std::string entry;
    } const cases[] = {
        {"empty", "Main=", "level 1:   error: database Main has an empty name; it is not upgraded\r\n"},
        {"NUL byte", "Main=" + front + std::string(1, '\0') + ".backup-do-not-touch",
         "level 1:   error: the name of database Main holds a NUL byte; it is not upgraded (only "
         "the part in front of it would be opened)\r\n"},
        {"longer than the limit", "Main=" + longName,
         "level 1:   error: the name of database Main is longer than 2047 characters; it is not "
         "upgraded\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(log);
        WriteFile(ini, "[General]\nDebugMode=1\n[Database]\n" + c.line + "\nNext=" + good + "\n");
        Run();
        EXPECT_EQ(LogEntries(), std::vector<std::string>{c.entry});
        EXPECT_EQ(SetupStatus(), "Cancel");
    }
    EXPECT_EQ(testsupport::RunIsqlOn(front, "SELECT COUNT(*) FROM T;").find(" 1"), std::string::npos);
    EXPECT_NE(testsupport::RunIsqlOn(good, "SELECT COUNT(*) FROM T;").find(" 3"), std::string::npos);
}

// SetupStatus is written wherever a reader may look for it: in every [Common] section, every
// line of the key; and a file with lone CR line ends is read line by line and keeps its line
// ends (a run of such a file used to read it as one line and append a [Common] after the old
// SetupStatus=Continue).
TEST_F(RunnerProcess, SetupStatusReplacesEveryOldOutcome) {
    const std::string db = NewDatabase("a.fdb");
    struct Case {
        const char* what;
        std::string before;
        std::string after;
    } const cases[] = {
        {"two [Common] sections and a repeated key",
         "[Common]\nSetupStatus=Continue\n[Database]\nA=missing.fdb\n[common]\n"
         "SetupStatus=Continue\nSetupStatus=Continue\n",
         "[Common]\nSetupStatus=Cancel\n[Database]\nA=missing.fdb\n[common]\n"
         "SetupStatus=Cancel\nSetupStatus=Cancel\n"},
        {"lone CR line ends", "[Database]\rA=missing.fdb\r[Common]\rSetupStatus=Continue\r",
         "[Database]\rA=missing.fdb\r[Common]\rSetupStatus=Cancel\r"},
        {"lone CR line ends, [Common] added", "[General]\rDebugMode=1\r[Database]\rA=" + db + "\r",
         "[General]\rDebugMode=1\r[Database]\rA=" + db + "\r[Common]\rSetupStatus=Continue\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(ini, c.before);
        Run();
        EXPECT_EQ(Settings(), c.after);
    }
}

TEST_F(RunnerProcess, ReadOnlySettingsFileIsLoggedAndEndsWithExitCode1) {
    const std::string db = NewDatabase("a.fdb");
    const std::string content = "[Database]\nA=" + db + "\n[Common]\nSetupStatus=Cancel\n";
    WriteFile(ini, content);
    ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
    Run(1);
    // Both writes fail: the "Cancel" before the first database and the outcome at the end.
    const std::string notWritten =
        "level 1:   error: SetupStatus was not written\r\nerror message: "
        "Unable to write to " +
        ini + "\r\n";
    EXPECT_EQ(LogEntries(), (std::vector<std::string>{notWritten, notWritten}));
    EXPECT_EQ(Settings(), content);
}

TEST_F(RunnerProcess, SettingsPathThatIsAFolder) {
    ASSERT_EQ(::mkdir(ini.c_str(), 0777), 0);
    Run(1);
    EXPECT_EQ(LogEntries(), (std::vector<std::string>{
                                "level 1:   error: database list count = 0\r\n",
                                "level 1:   error: SetupStatus was not written\r\nerror message: "
                                "Unable to write to " +
                                    ini + "\r\n"}));
}

TEST_F(RunnerProcess, UnwritableLogPathLosesOnlyTheLog) {
    ASSERT_EQ(::mkdir(log.c_str(), 0777), 0);
    WriteFile(ini, "[General]\nDebugMode=5\n");
    Run();
    EXPECT_EQ(Settings(), "[General]\nDebugMode=5\n[Common]\nSetupStatus=Cancel\n");
}

TEST_F(RunnerProcess, BinarySettingsFileIsKeptByteForByte) {
    std::mt19937 random(20261207);
    std::string junk(2 * 1024 * 1024, '\0');
    for (char& c : junk) {
        c = static_cast<char>(random() & 0xFF);
    }
    // No accidental section of the names the runner uses.
    for (std::size_t pos = 0; (pos = junk.find('[', pos)) != std::string::npos;) {
        junk[pos] = '(';
    }
    WriteFile(ini, junk);
    Run();
    const std::string after = Settings();
    ASSERT_GT(after.size(), junk.size());
    EXPECT_EQ(after.compare(0, junk.size(), junk), 0);
    DBU_FALSE_WRESTRICT_BEGIN
    EXPECT_EQ(after.substr(junk.size()),
              (junk.back() == '\n' ? "" : "\n") + std::string("[Common]\nSetupStatus=Cancel\n"));
    DBU_FALSE_WRESTRICT_END
}

TEST_F(RunnerProcess, HugeSettingsFileWithThousandsOfKeys) {
    // 40 MB of other sections, then a Database section of 2,000 keys with empty values, each
    // a failed database with its entry.
    std::string content;
    const std::string filler =
        "[Other]\n" + std::string(200, 'x') + "=" + std::string(800, 'y') + "\n";
    while (content.size() < 40u * 1024 * 1024) {
        content += filler;
    }
    content += "[General]\nDebugMode=5\n[Database]\n";
    for (int i = 0; i < 2000; ++i) {
        DBU_FALSE_WRESTRICT_BEGIN
        content += "k" + std::to_string(i) + "=\n";
        DBU_FALSE_WRESTRICT_END
    }
    WriteFile(ini, content);
    Run();
    const auto entries = LogEntries();
    ASSERT_EQ(entries.size(), 2000u + 2000 + 2);
    EXPECT_EQ(entries.front(), "level 5:   Database list count = 2000\r\n");
    EXPECT_EQ(entries[1], "level 5:   database_0 - \r\n");
    EXPECT_EQ(entries[2000], "level 5:   database_1999 - \r\n");
    EXPECT_EQ(entries[2001],
              "level 1:   error: database k0 has an empty name; it is not upgraded\r\n");
    EXPECT_EQ(entries[4000],
              "level 1:   error: database k1999 has an empty name; it is not upgraded\r\n");
    EXPECT_EQ(entries.back(), "level 5:   Close application\r\n");
    EXPECT_EQ(Settings(), content + "[Common]\nSetupStatus=Cancel\n");
}

TEST_F(RunnerProcess, EscapedErrorSetsCancelAndReportsOneLine) {
    // No client library: creating the connection objects fails before the first database.
    WriteFile(ini, "[General]\nDebugMode=5\n[Database]\nA=" + dir.File("a.fdb") +
                       "\n[Common]\nSetupStatus=Continue\n");
    ASSERT_EQ(::setenv("DBU_CLIENT_LIBRARY", dir.File("no-such-library.so").c_str(), 1), 0);
    const auto r = Run(1);
    ::unsetenv("DBU_CLIENT_LIBRARY");
    EXPECT_EQ(r.err.rfind("Exception EIBClientError in module dbupgrade: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    EXPECT_EQ(LogEntries(),
              (std::vector<std::string>{"level 5:   Database list count = 1\r\n",
                                        "level 5:   database_0 - " + dir.File("a.fdb") + "\r\n",
                                        "level 5:   Close application\r\n"}));
    EXPECT_EQ(Settings(), "[General]\nDebugMode=5\n[Database]\nA=" + dir.File("a.fdb") +
                              "\n[Common]\nSetupStatus=Cancel\n");
}

TEST_F(RunnerProcess, KeysBeyondTheKeyBufferAreAnError) {
    std::string content = "[General]\nDebugMode=1\n[Database]\n";
    for (int i = 0; i < 3000; ++i) {
        content += "Key" + std::to_string(1000 + i) + "=\n";
    }
    WriteFile(ini, content);
    Run();
    // Then each of the empty names read is a failed database of its own.
    const std::vector<std::string> entries = LogEntries();
    ASSERT_EQ(entries.size(), 1u + 2047);
    EXPECT_EQ(entries[0], "level 1:   error: the key names of section Database exceed 16384 "
                          "characters; only the first 2047 databases were read\r\n");
    EXPECT_EQ(entries[1],
              "level 1:   error: database Key1000 has an empty name; it is not upgraded\r\n");
    EXPECT_NE(Settings().find("SetupStatus=Cancel\n"), std::string::npos);
}

} // namespace

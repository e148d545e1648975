// Both programs as a person at a terminal meets them: --help, -h and --version answer on
// standard output and touch no file; dbupgrade started from a folder where it may not write its
// files, without a settings file beside it, says where that file must be and writes nothing.
#include "runner/CommandLine.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunProcess;
using testsupport::TempDir;

constexpr uid_t kOtherUser = 65534;

// Every file of a folder with its content.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        files[entry.path().string()] = entry.is_regular_file() ? ReadFile(entry.path()) : "";
    }
    return files;
}

TEST(Terminal, HelpAndVersionOfBothProgramsTouchNoFile) {
    const TempDir dir;
    // Copies without any file beside them: a run would create dbupgrade.ini and .log here.
    const std::string runner = dir.File("dbupgrade");
    const std::string check = dir.File("dbupgrade-check");
    fs::copy_file(testsupport::ExecutablePath(), runner);
    fs::copy_file(DBU_CHECK_EXECUTABLE, check);
    const auto before = Snapshot(dir.Path());
    struct Case {
        std::string program;
        const char* argument;
        std::string out;
    } const cases[] = {
        {runner, "--help", runner::RunnerUsage()},
        {runner, "-h", runner::RunnerUsage()},
        {runner, "--version", "dbupgrade " DBU_PROJECT_VERSION "\n"},
        {check, "--help", runner::CheckUsage()},
        {check, "-h", runner::CheckUsage()},
        {check, "--version", "dbupgrade-check " DBU_PROJECT_VERSION "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fs::path(c.program).filename().string() + " " + c.argument);
        const auto r = RunProcess({c.program, c.argument}, dir.Path());
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(Snapshot(dir.Path()), before);
    }
    // The usage says where the files are and names the manual page.
    for (const char* part : {"NAME.ini", "NAME.sql", "NAME.log", "dbupgrade(1)"}) {
        EXPECT_NE(runner::RunnerUsage().find(part), std::string::npos) << part;
    }
    EXPECT_EQ(runner::RunnerUsage().rfind("usage: dbupgrade [SCRIPT.sql]\n", 0), 0u);
    EXPECT_EQ(runner::CheckUsage().rfind("usage: dbupgrade-check [--settings FILE] SCRIPT\n", 0),
              0u);
    EXPECT_NE(runner::CheckUsage().find("dbupgrade-check(1)"), std::string::npos);
}

// A user who may not write the program's folder (a copy in a folder of root's) starts it
// without a settings file beside it: one line on standard error says where the settings file
// must be, exit code 2, and nothing is written. With a settings file there the run goes as
// always (it cannot write its log and says "Cancel" in the settings file it may write).
TEST(Terminal, ProgramInAFolderItMayNotWriteNeedsItsSettingsFile) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as another user";
    }
    const TempDir dir;
    const std::string folder = dir.File("readonly");
    fs::create_directory(folder);
    const std::string program = folder + "/upgrade";
    fs::copy_file(testsupport::ExecutablePath(), program);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    const std::vector<std::string> asOtherUser{"/usr/bin/setpriv",
                                               "--reuid=" + std::to_string(kOtherUser),
                                               "--regid=" + std::to_string(kOtherUser),
                                               "--clear-groups",
                                               "--",
                                               program};
    const auto before = Snapshot(folder);
    const auto refused = RunProcess(asOtherUser, dir.Path());
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err,
              "upgrade: no settings file " + folder +
                  "/upgrade.ini: the settings file must be beside the program, named after the "
                  "path it is started by, in a folder where it may write its log; link or copy "
                  "the program into the setup's folder, beside its settings file and script (see "
                  "dbupgrade(1))\n");
    EXPECT_EQ(Snapshot(folder), before);

    testsupport::WriteFile(folder + "/upgrade.ini", "[General]\nDebugMode=1\n");
    ASSERT_EQ(::chmod((folder + "/upgrade.ini").c_str(), 0666), 0);
    const auto run = RunProcess(asOtherUser, dir.Path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(folder + "/upgrade.ini"),
              "[General]\nDebugMode=1\n[Common]\nSetupStatus=Cancel\n");
}

}  // namespace

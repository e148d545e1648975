// How the dbupgrade executable finds and writes its files in a setup, run as a process the way
// installers start it: through a symbolic link or PATH, as root and as an unprivileged setup
// user, with settings files in UTF-16, with repeated [Database] keys, and with database paths
// whose folder names hold Cyrillic letters and blanks, under the C locale and UTF-8 locales;
// and who may read the log it creates.
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using runnertest::Rows;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::RunProcess;
using testsupport::WriteFile;

namespace fs = std::filesystem;

// The setup user: no account of its own is needed, only numbers. kSetupGroup is its primary
// group, kSharedGroup one it belongs to as well, kForeignGroup one it does not belong to.
constexpr uid_t kSetupUser = 65534;
constexpr gid_t kSetupGroup = 64101;
constexpr gid_t kSharedGroup = 64102;
constexpr gid_t kForeignGroup = 64103;

const std::string kScript = "CREATE TABLE T (A INTEGER)\n\nINSERT INTO T VALUES (7)\n";
const std::vector<std::string> kUpgraded{"7"};

// `text` (UTF-8) in `code` ("UTF-16LE", "UTF-16BE"), converted by the C library.
std::string Iconv(const std::string& text, const char* to, const char* from = "UTF-8") {
    const iconv_t cd = ::iconv_open(to, from);
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in = text;
    std::string out(text.size() * 4 + 16, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    EXPECT_NE(::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<std::size_t>(-1));
    ::iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

class SetupFiles : public runnertest::RunnerProcessFixture {
protected:
    SetupFiles() {
        fs::create_directory(lockFolder);
        fs::permissions(lockFolder, fs::perms::all);
        WriteFile(script, kScript);
    }

    // A new database with the script's table missing, at `path` (folders created as needed).
    // It is made under a plain name and then moved, so that isql-fb's locale plays no part.
    std::string Database(const std::string& path) const {
        const std::string plain = dir.File("plain-" + std::to_string(++databases_) + ".fdb");
        testsupport::CreateDatabase(plain, 1);
        fs::create_directories(fs::path(path).parent_path());
        fs::permissions(fs::path(path).parent_path(), fs::perms::all);
        fs::rename(plain, path);
        return path;
    }

    // Runs `argv` with the environment entries `env` added (and FIREBIRD_LOCK set to a folder
    // of the test's own, since the setup user cannot use root's), as root or as the setup user
    // with the given groups (the first one primary).
    testsupport::ProcessResult RunWith(std::vector<std::string> argv,
                                       const std::vector<std::string>& env = {},
                                       const std::vector<gid_t>& groups = {},
                                       const std::string& workDir = "") const {
        std::vector<std::string> command;
        if (!groups.empty()) {
            std::string supplementary;
            for (const gid_t g : groups) {
                supplementary += (supplementary.empty() ? "" : ",") + std::to_string(g);
            }
            command = {"/usr/bin/setpriv", "--reuid=" + std::to_string(kSetupUser),
                       "--regid=" + std::to_string(groups.front()), "--groups=" + supplementary,
                       "--"};
        }
        command.push_back("/usr/bin/env");
        command.push_back("FIREBIRD_LOCK=" + lockFolder);
        command.insert(command.end(), env.begin(), env.end());
        command.insert(command.end(), argv.begin(), argv.end());
        return RunProcess(command, workDir.empty() ? dir.Path() : workDir);
    }

    const std::string lockFolder = dir.File("lock");

private:
    mutable int databases_ = 0;
};

// ---- the executable's own path ----

// A setup folder holds a symbolic link "upgrade" to the installed program beside its
// upgrade.ini and upgrade.sql. Started by the link's path (absolute, relative, or found
// through PATH), the run reads and writes the files beside the link; the files beside the
// program stay untouched. Started under a name that is not the program's, it falls back to the
// program's own folder.
TEST_F(SetupFiles, SymbolicLinkInASetupFolderFindsTheFilesBesideIt) {
    const std::string setup = dir.File("setup");
    fs::create_directory(setup);
    const std::string link = setup + "/upgrade";
    ASSERT_EQ(::symlink(exe.c_str(), link.c_str()), 0);
    WriteFile(setup + "/upgrade.sql", kScript);
    const std::string besideProgram = "[Database]\nDB=/nowhere/x.fdb\n";
    WriteFile(ini, besideProgram);

    struct Start {
        const char* what;
        std::vector<std::string> argv;
        std::string workDir;
    } const starts[] = {
        {"absolute path", {link}, dir.Path()},
        {"relative path", {"./upgrade"}, setup},
        {"relative path with folders", {"../setup/./upgrade"}, dir.File("lock")},
        {"found through PATH", {"PATH=/usr/bin:" + setup + ":/bin", "upgrade"}, dir.Path()},
    };
    for (const Start& start : starts) {
        SCOPED_TRACE(start.what);
        const std::string db = Database(setup + "/" + std::string(start.what) + ".fdb");
        WriteFile(setup + "/upgrade.ini", "[General]\r\nDebugMode=5\r\n[Database]\r\nDB=" + db +
                                              "\r\n[Common]\r\nSetupStatus=Cancel\r\n");
        fs::remove(setup + "/upgrade.log");
        const auto r = RunWith(start.argv, {}, {}, start.workDir);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ReadFile(setup + "/upgrade.ini"),
                  "[General]\r\nDebugMode=5\r\n[Database]\r\nDB=" + db +
                      "\r\n[Common]\r\nSetupStatus=Continue\r\n");
        EXPECT_NE(ReadFile(setup + "/upgrade.log").find("Start upgrade database " + db + " \r\n"),
                  std::string::npos);
        EXPECT_EQ(Rows(db, "SELECT A FROM T"), kUpgraded);
        EXPECT_EQ(ReadFile(ini), besideProgram);
        EXPECT_FALSE(FileExists(log));
    }

    // A name that names no file of the program: its own path counts.
    const auto r = RunProcess({"/bin/bash", "-c", "exec -a no-such-program " + link}, setup);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(ini), besideProgram + "[Common]\nSetupStatus=Cancel\n");
    EXPECT_TRUE(FileExists(log));
}

// ---- the log ----

// The log can hold statements verbatim (passwords of CREATE USER among them), so a new one is
// not for every local user to read: created with mode 0640 (under the umask 022 here), it
// keeps other users out; in a folder with a default ACL it gets what the ACL gives, here read
// access for the setup user. A log that exists keeps its mode.
TEST_F(SetupFiles, NewLogIsNotReadableByOtherUsers) {
    const mode_t umask = ::umask(022);
    const auto readable = [this](const std::string& file) {
        return RunProcess({"/usr/bin/setpriv", "--reuid=" + std::to_string(kSetupUser),
                           "--regid=" + std::to_string(kSetupGroup), "--clear-groups", "--",
                           "/bin/cat", file})
                   .exitCode == 0;
    };
    WriteFile(ini, "[General]\nDebugMode=1\n");
    Run();
    EXPECT_EQ(StatOf(log).st_mode & 07777, 0640u);
    EXPECT_FALSE(readable(log));
    ASSERT_EQ(::chmod(log.c_str(), 0644), 0);
    Run();
    EXPECT_EQ(StatOf(log).st_mode & 07777, 0644u);
    EXPECT_TRUE(readable(log));

    if (FileExists("/usr/bin/setfacl")) {
        const std::string folder = dir.File("acl");
        fs::create_directory(folder);
        fs::copy_file(exe, folder + "/upgrade");
        WriteFile(folder + "/upgrade.ini", "[General]\nDebugMode=1\n");
        const auto set = RunProcess(
            {"/usr/bin/setfacl", "-d", "-m", "u:" + std::to_string(kSetupUser) + ":r", folder});
        if (set.exitCode == 0) {
            EXPECT_EQ(RunProcess({folder + "/upgrade"}, folder).exitCode, 0);
            EXPECT_TRUE(readable(folder + "/upgrade.log"));
            EXPECT_NE(RunProcess({"/usr/bin/getfacl", "-n", folder + "/upgrade.log"})
                          .out.find("user:" + std::to_string(kSetupUser) + ":r--"),
                      std::string::npos);
        }
    }
    ::umask(umask);
}

// Run as root, the run does not append to a log path that is a symbolic link owned by another
// user (who could point it at any file): its entries are lost, as those of a FIFO are, and the
// file the link points to stays as it was. A link that root owns is followed.
TEST_F(SetupFiles, RootDoesNotWriteThroughAnotherUsersLogLink) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the rule is about runs as root";
    }
    const std::string target = dir.File("someone-elses-file");
    for (const uid_t owner : {kSetupUser, uid_t{0}}) {
        SCOPED_TRACE("link owned by " + std::to_string(owner));
        WriteFile(target, "not a log\n");
        fs::remove(log);
        ASSERT_EQ(::symlink(target.c_str(), log.c_str()), 0);
        ASSERT_EQ(::lchown(log.c_str(), owner, owner), 0);
        WriteFile(ini, "[General]\nDebugMode=1\n");
        Run();
        EXPECT_TRUE(fs::is_symlink(log));
        EXPECT_EQ(ReadFile(target).rfind("not a log\n", 0), 0u);
        EXPECT_EQ(ReadFile(target) == "not a log\n", owner != 0);
        EXPECT_EQ(SetupStatus(), "Cancel");
    }
}

// ---- database names ----

// Database folders with Cyrillic letters and blanks attach under the C locale and under UTF-8
// locales alike, embedded and over the server; the log shows each name as the settings file
// holds it. A missing one is reported with the name unchanged in the client's message.
TEST_F(SetupFiles, NonAsciiAndBlankFolderNamesAttachUnderEveryLocale) {
    std::vector<std::string> locales{"C", "C.UTF-8"};
    const auto available = RunProcess({"/usr/bin/locale", "-a"}).out;
    if (available.find("de_DE.utf8") != std::string::npos) {
        locales.push_back("de_DE.UTF-8");
    }
    for (const std::string& locale : locales) {
        SCOPED_TRACE(locale);
        const std::string folder = dir.File("Данные клиента " + locale);
        const std::string local = Database(folder + "/база данных.fdb");
        std::vector<std::string> names{local};
        if (testsupport::ServerAvailable()) {
            names.push_back("localhost:" + Database(folder + "/сервер.fdb"));
        }
        const std::string missing = folder + "/нет такой.fdb";
        std::string settings = "[General]\nDebugMode=5\n[Database]\n";
        for (const std::string& name : names) {
            settings += "DB=" + name + "\n";
        }
        WriteFile(ini, settings + "DB=" + missing + "\n");
        fs::remove(log);
        const auto r = RunWith({exe}, {"LC_ALL=" + locale});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string text = ReadFile(log);
        for (const std::string& name : names) {
            EXPECT_NE(text.find("Start upgrade database " + name + " \r\n"), std::string::npos)
                << text;
            EXPECT_NE(text.find("Database " + name + " upgrade was successful completed"),
                      std::string::npos)
                << text;
            EXPECT_EQ(Rows(name, "SELECT A FROM T"), kUpgraded);
        }
        EXPECT_NE(text.find("error: connect to database " + missing +
                            " failed\r\nerror message: I/O error during \"open\" operation for "
                            "file \"" +
                            missing + "\""),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("transliterate"), std::string::npos) << text;
        EXPECT_EQ(SetupStatus(), "Cancel");
    }
}

// ---- the settings file's content ----

// Settings files in UTF-16 with a byte order mark, in either byte order, naming databases in
// Cyrillic folders: every database is upgraded, and the file is written back in its own
// encoding with its mark, every other character kept.
TEST_F(SetupFiles, Utf16SettingsFilesAreReadAndWrittenInTheirEncoding) {
    for (const char* code : {"UTF-16LE", "UTF-16BE"}) {
        SCOPED_TRACE(code);
        const std::string first =
            Database(dir.File(std::string("Установка ") + code + "/первая.fdb"));
        const std::string second =
            Database(dir.File(std::string("Установка ") + code + "/вторая.fdb"));
        const std::string text =
            "\xEF\xBB\xBF; Настройки установки 😀\r\n[General]\r\nDebugMode=5\r\n"
            "[Database]\r\nПервая=" +
            first + "\r\nВторая=\"" + second + "\"\r\n[Common]\r\nSetupStatus=Pending\r\n";
        WriteFile(ini, Iconv(text, code));
        ASSERT_EQ(ReadFile(ini).substr(0, 2),
                  std::string(code) == "UTF-16LE" ? "\xFF\xFE" : "\xFE\xFF");
        fs::remove(log);
        const auto r = RunWith({exe}, {"LC_ALL=C"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string logText = ReadFile(log);
        EXPECT_NE(logText.find("database_1 - " + second + "\r\n"), std::string::npos) << logText;
        EXPECT_EQ(Rows(first, "SELECT A FROM T"), kUpgraded);
        EXPECT_EQ(Rows(second, "SELECT A FROM T"), kUpgraded);
        std::string expected = text;
        expected.replace(expected.find("SetupStatus=Pending"), 19, "SetupStatus=Continue");
        EXPECT_EQ(ReadFile(ini), Iconv(expected, code));

        // A failed run changes only the value, in the file's encoding.
        fs::remove(first);
        RunWith({exe});
        expected.replace(expected.find("SetupStatus=Continue"), 20, "SetupStatus=Cancel");
        EXPECT_EQ(ReadFile(ini), Iconv(expected, code));
    }
    // Without a [Common] section, the section is added in the file's encoding and line breaks.
    const std::string db = Database(dir.File("Установка/база.fdb"));
    const std::string text = "\xEF\xBB\xBF[Database]\r\nDB=" + db + "\r\n";
    WriteFile(ini, Iconv(text, "UTF-16LE"));
    RunWith({exe});
    EXPECT_EQ(ReadFile(ini), Iconv(text + "[Common]\r\nSetupStatus=Continue\r\n", "UTF-16LE"));
}

// Two lines of the same key in [Database] are two databases, each upgraded with its own value
// and listed with it; the second of them missing makes the run "Cancel". Other sections keep
// the first of two equal keys.
TEST_F(SetupFiles, EveryLineOfTheDatabaseSectionIsOneDatabase) {
    const std::string a = Database(dir.File("a.fdb"));
    const std::string b = Database(dir.File("b.fdb"));
    WriteFile(ini, "[General]\nDebugMode=5\nDebugMode=0\n[Database]\nDB=" + a + "\ndb=" + b +
                       "\nDB=" + a + "\n");
    Run();
    const std::vector<std::string> entries = LogEntries();
    ASSERT_GE(entries.size(), 4u);
    EXPECT_EQ(entries[0], "level 5:   Database list count = 3\r\n");
    EXPECT_EQ(entries[1], "level 5:   database_0 - " + a + "\r\n");
    EXPECT_EQ(entries[2], "level 5:   database_1 - " + b + "\r\n");
    EXPECT_EQ(entries[3], "level 5:   database_2 - " + a + "\r\n");
    EXPECT_EQ(runnertest::Occurrences(ReadFile(log), "Start upgrade database " + b + " "), 1u);
    EXPECT_EQ(Rows(b, "SELECT A FROM T"), kUpgraded);
    // The second run of the script on a finds its table already there.
    EXPECT_EQ(SetupStatus(), "Cancel");

    WriteFile(script, "INSERT INTO T VALUES (8)\n");
    WriteFile(ini, "[Database]\nDB=" + a + "\nDB=" + dir.File("missing.fdb") + "\n");
    Run();
    EXPECT_EQ(Rows(a, "SELECT A FROM T ORDER BY A"), (std::vector<std::string>{"7", "7", "8"}));
    EXPECT_EQ(SetupStatus(), "Cancel");
}

// ---- writing SetupStatus where a rename cannot keep the file ----

// The setup user may write the settings file but not its folder (which also holds a log file
// it may write): SetupStatus is written in place, the same file with its owner and mode.
TEST_F(SetupFiles, SetupUserWritesSettingsInAFolderItCannotWrite) {
    const std::string db = Database(dir.File("data/a.fdb"));
    ::chmod(db.c_str(), 0666);
    const std::string content =
        "; setup\n[Database]\nDB=" + db + "\n[Common]\nSetupStatus=Continue\n";
    WriteFile(ini, content);
    WriteFile(log, "");
    ASSERT_EQ(::chown(ini.c_str(), kSetupUser, kSetupGroup), 0);
    ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(log.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    const struct stat before = StatOf(ini);

    const auto r = RunWith({exe}, {}, {kSetupGroup});
    EXPECT_EQ(r.exitCode, 0) << r.err << ReadFile(log);
    EXPECT_EQ(ReadFile(ini), content);
    EXPECT_EQ(Rows(db, "SELECT A FROM T"), kUpgraded);
    // A failing run is recorded the same way.
    const auto failed = RunWith({exe}, {}, {kSetupGroup});
    EXPECT_EQ(failed.exitCode, 0) << failed.err;
    std::string cancelled = content;
    EXPECT_EQ(ReadFile(ini), cancelled.replace(cancelled.find("Continue"), 8, "Cancel"));

    const struct stat after = StatOf(ini);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, kSetupUser);
    EXPECT_EQ(after.st_gid, kSetupGroup);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
    }
    ::chmod(dir.Path().c_str(), 0777);
}

// A settings file with a second hard link: both names show the new content (as root and as
// the setup user), the file is the same one.
TEST_F(SetupFiles, HardLinkedSettingsFileKeepsBothNames) {
    const std::string other = dir.File("shared/settings.ini");
    fs::create_directory(dir.File("shared"));
    WriteFile(other, "[Database]\nDB=\n[Common]\nSetupStatus=Continue\n");
    ASSERT_EQ(::chmod(other.c_str(), 0666), 0);
    ASSERT_EQ(::link(other.c_str(), ini.c_str()), 0);
    const struct stat before = StatOf(ini);
    for (const std::vector<gid_t>& user : {std::vector<gid_t>{}, std::vector<gid_t>{kSetupGroup}}) {
        WriteFile(ini, "[Database]\nDB=\n[Common]\nSetupStatus=Continue\n");
        RunWith({exe}, {}, user);
        EXPECT_EQ(ReadFile(other), "[Database]\nDB=\n[Common]\nSetupStatus=Cancel\n");
        const struct stat after = StatOf(ini);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_nlink, 2u);
    }
}

// A settings file of another group. A setup user who belongs to that group gets the file back
// with that group; one who does not, but may write the file, too (written in place); root
// keeps owner and group as well.
TEST_F(SetupFiles, SettingsFileKeepsItsGroup) {
    struct Case {
        const char* what;
        uid_t owner;
        gid_t group;
        mode_t mode;
        std::vector<gid_t> runAs;
    } const cases[] = {
        {"a group of the setup user's",
         kSetupUser,
         kSharedGroup,
         0664,
         {kSetupGroup, kSharedGroup}},
        {"a group the setup user is not in", 0, kForeignGroup, 0666, {kSetupGroup}},
        {"root", kSetupUser, kForeignGroup, 0620, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(ini, "[Common]\nSetupStatus=Continue\n");
        ASSERT_EQ(::chown(ini.c_str(), c.owner, c.group), 0);
        ASSERT_EQ(::chmod(ini.c_str(), c.mode), 0);
        const auto r = RunWith({exe}, {}, c.runAs);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ReadFile(ini), "[Common]\nSetupStatus=Cancel\n");
        const struct stat after = StatOf(ini);
        EXPECT_EQ(after.st_uid, c.owner);
        EXPECT_EQ(after.st_gid, c.group);
        EXPECT_EQ(after.st_mode & 07777, c.mode);
    }
}

// A settings file with an access control list keeps it, as root and as the setup user whom
// the list lets write the file.
TEST_F(SetupFiles, SettingsFileKeepsItsAccessControlList) {
    if (!FileExists("/usr/bin/setfacl") || !FileExists("/usr/bin/getfacl")) {
        GTEST_SKIP() << "setfacl/getfacl missing (package acl)";
    }
    WriteFile(ini, "[Common]\nSetupStatus=Continue\n");
    ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
    const auto set = RunProcess(
        {"/usr/bin/setfacl", "-m",
         "u:" + std::to_string(kSetupUser) + ":rw,g:" + std::to_string(kForeignGroup) + ":r", ini});
    if (set.exitCode != 0) {
        GTEST_SKIP() << "no ACLs here: " << set.err;
    }
    const std::string acl = RunProcess({"/usr/bin/getfacl", "-n", ini}).out;
    for (const std::vector<gid_t>& user : {std::vector<gid_t>{}, std::vector<gid_t>{kSetupGroup}}) {
        WriteFile(ini, "[Common]\nSetupStatus=Continue\n");
        const auto r = RunWith({exe}, {}, user);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ReadFile(ini), "[Common]\nSetupStatus=Cancel\n");
        EXPECT_EQ(RunProcess({"/usr/bin/getfacl", "-n", ini}).out, acl);
    }
}

}  // namespace

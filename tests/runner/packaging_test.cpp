// The Debian package: cpack builds it from this build folder and dpkg installs it into a
// scratch root whose package database starts as a copy of this machine's, so that dpkg checks
// the package's dependencies against what the machine has while the machine's own /usr and its
// dpkg lock stay untouched (other test runs install the same package at the same time). The
// installed dbupgrade, copied into a setup folder beside a settings file and a script, upgrades
// embedded dialect-1 databases.
#include "runner/Settings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace runner {
namespace {

namespace fs = std::filesystem;
using testsupport::ProcessResult;
using testsupport::ReadFile;
using testsupport::RunProcess;
using testsupport::TempDir;
using testsupport::WriteFile;

// The build folder: the test's dbupgrade is built at its top level.
std::string BuildFolder() {
    return fs::path(testsupport::ExecutablePath()).parent_path().string();
}

std::string ReplaceLine(std::string text, const std::string& start, const std::string& line) {
    const std::size_t at = text.find("\n" + start);
    EXPECT_NE(at, std::string::npos) << start;
    if (at == std::string::npos) {
        return text;
    }
    const std::size_t end = text.find('\n', at + 1);
    return text.replace(at + 1, end - at - 1, line);
}

// The value of one field of `dpkg -s` output ("" when absent).
std::string Field(const std::string& control, const std::string& name) {
    const std::string key = name + ": ";
    for (std::size_t at = 0; at < control.size();) {
        const std::size_t end = std::min(control.find('\n', at), control.size());
        if (control.compare(at, key.size(), key) == 0) {
            return control.substr(at + key.size(), end - at - key.size());
        }
        at = end + 1;
    }
    return "";
}

class Packaging : public ::testing::Test {
protected:
    // Builds and installs the package once for the whole suite; a failure is kept and fails
    // every test.
    static void SetUpTestSuite() {
        work_ = std::make_unique<TempDir>();
        failure_ = Install();
    }
    static void TearDownTestSuite() { work_.reset(); }

    void SetUp() override { ASSERT_EQ(failure_, ""); }

    static std::string Root() { return work_->File("root"); }
    static std::string Installed(const std::string& path) { return Root() + path; }

    // A setup folder as the README describes it: the installed program copied (or linked) in as
    // `upgrade`, with upgrade.ini made from the installed example (naming `database`) and
    // upgrade.sql holding `script`. Returns the folder.
    static std::string SetupFolder(const std::string& name, const std::string& database,
                                   const std::string& script, bool link = false) {
        const std::string folder = work_->File(name);
        fs::create_directory(folder);
        if (link) {
            fs::create_symlink(Installed("/usr/bin/dbupgrade"), folder + "/upgrade");
        } else {
            fs::copy_file(Installed("/usr/bin/dbupgrade"), folder + "/upgrade");
        }
        const std::string example = ReadFile(Installed("/usr/share/dbupgrade/dbupgrade.ini"));
        WriteFile(folder + "/upgrade.ini", ReplaceLine(example, "Main=", "Main=" + database));
        WriteFile(folder + "/upgrade.sql", script);
        return folder;
    }

private:
    static std::string Install() {
        const std::string packages = work_->File("packages");
        const ProcessResult cpack =
            RunProcess({"cpack", "--config", BuildFolder() + "/CPackConfig.cmake", "-G", "DEB",
                        "-B", packages},
                       work_->Path());
        if (cpack.exitCode != 0) {
            return "cpack failed: " + cpack.out + cpack.err;
        }
        for (const auto& entry : fs::directory_iterator(packages)) {
            if (entry.path().extension() == ".deb") {
                if (!deb_.empty()) {
                    return "more than one package: " + deb_ + ", " + entry.path().string();
                }
                deb_ = entry.path().string();
            }
        }
        if (deb_.empty()) {
            return "cpack made no .deb: " + cpack.out;
        }

        const std::string admin = Root() + "/var/lib/dpkg";
        for (const char* sub : {"info", "updates", "triggers"}) {
            fs::create_directories(admin + "/" + sub);
        }
        fs::copy_file("/var/lib/dpkg/status", admin + "/status");
        WriteFile(admin + "/available", "");
        const ProcessResult dpkg =
            RunProcess({"dpkg", "--root=" + Root(), "--force-not-root", "-i", deb_});
        if (dpkg.exitCode != 0) {
            return "dpkg -i failed: " + dpkg.out + dpkg.err;
        }
        return "";
    }

    static std::unique_ptr<TempDir> work_;
    static std::string failure_;
    static std::string deb_;
};

std::unique_ptr<TempDir> Packaging::work_;
std::string Packaging::failure_;
std::string Packaging::deb_;

TEST_F(Packaging, ControlFieldsNameTheClientLibraryAndTheEmbeddedEngine) {
    const ProcessResult status = RunProcess({"dpkg", "--root=" + Root(), "-s", "dbupgrade"});
    ASSERT_EQ(status.exitCode, 0) << status.err;
    EXPECT_EQ(Field(status.out, "Status"), "install ok installed") << status.out;
    // The runner loads the client library at run time, so only the package can name it.
    EXPECT_NE(Field(status.out, "Depends").find("libfbclient2"), std::string::npos) << status.out;
    EXPECT_EQ(Field(status.out, "Recommends"), "firebird3.0-server-core") << status.out;
    const std::string maintainer = Field(status.out, "Maintainer");
    EXPECT_NE(maintainer.find('@'), std::string::npos) << status.out;
    EXPECT_EQ(maintainer.find("localhost"), std::string::npos) << status.out;
    // dpkg -L lists what the package owns: the program and its manual page among them.
    const ProcessResult list = RunProcess({"dpkg", "--root=" + Root(), "-L", "dbupgrade"});
    EXPECT_NE(list.out.find("/usr/bin/dbupgrade\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("/usr/share/man/man1/dbupgrade.1.gz\n"), std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("/usr/bin/dbupgrade-check\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("/usr/share/man/man1/dbupgrade-check.1.gz\n"), std::string::npos)
        << list.out;
}

TEST_F(Packaging, InstalledFilesAreCompleteAndTheProgramIsStripped) {
    const std::string binary = Installed("/usr/bin/dbupgrade");
    struct stat info {};
    ASSERT_EQ(::stat(binary.c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXOTH, 0u) << "dbupgrade is not executable for everyone";
    const ProcessResult sections = RunProcess({"readelf", "-S", "--wide", binary});
    ASSERT_EQ(sections.exitCode, 0) << sections.err;
    EXPECT_EQ(sections.out.find(" .symtab "), std::string::npos) << sections.out;
    EXPECT_EQ(sections.out.find(" .debug_info "), std::string::npos) << sections.out;

    const std::string source = testsupport::SourceDir();
    EXPECT_EQ(ReadFile(Installed("/usr/share/dbupgrade/dbupgrade.ini")),
              ReadFile(source + "/examples/dbupgrade.ini"));
    EXPECT_EQ(ReadFile(Installed("/usr/share/dbupgrade/dbupgrade.sql")),
              ReadFile(source + "/examples/dbupgrade.sql"));
    const std::string doc = Installed("/usr/share/doc/dbupgrade");
    EXPECT_EQ(ReadFile(doc + "/README.md"), ReadFile(source + "/README.md"));
    const std::string copyright = ReadFile(doc + "/copyright");
    EXPECT_EQ(copyright.rfind(
                  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n", 0),
              0u)
        << copyright;
    EXPECT_NE(copyright.find("\nLicense: Expat\n"), std::string::npos) << copyright;

    // The compressed changelog is the source one, and its newest entry is this version.
    const ProcessResult changelog = RunProcess({"gzip", "-dc", doc + "/changelog.Debian.gz"});
    ASSERT_EQ(changelog.exitCode, 0) << changelog.err;
    EXPECT_EQ(changelog.out, ReadFile(source + "/packaging/debian/changelog"));
    const std::string version =
        Field(RunProcess({"dpkg", "--root=" + Root(), "-s", "dbupgrade"}).out, "Version");
    EXPECT_EQ(changelog.out.rfind("dbupgrade (" + version + ") ", 0), 0u)
        << changelog.out << version;

    // Every manual page of the source is installed and found by man.
    int pages = 0;
    for (const auto& entry : fs::directory_iterator(source + "/man")) {
        if (entry.path().extension() != ".1") {
            continue;
        }
        ++pages;
        const std::string name = entry.path().stem().string();
        const ProcessResult where =
            RunProcess({"man", "-M", Installed("/usr/share/man"), "-w", name});
        EXPECT_EQ(where.out, Installed("/usr/share/man/man1/" + name + ".1.gz\n")) << where.err;
        const ProcessResult page =
            RunProcess({"gzip", "-dc", Installed("/usr/share/man/man1/" + name + ".1.gz")});
        EXPECT_EQ(page.out, ReadFile(entry.path().string())) << name;
    }
    EXPECT_GE(pages, 1);
}

// The script check comes along, stripped like the runner, and finds nothing in the examples.
TEST_F(Packaging, InstalledScriptCheckFindsNothingInTheShippedExamples) {
    const std::string check = Installed("/usr/bin/dbupgrade-check");
    const ProcessResult sections = RunProcess({"readelf", "-S", "--wide", check});
    ASSERT_EQ(sections.exitCode, 0) << sections.err;
    EXPECT_EQ(sections.out.find(" .symtab "), std::string::npos) << sections.out;
    const ProcessResult checked =
        RunProcess({check, "--settings", Installed("/usr/share/dbupgrade/dbupgrade.ini"),
                    Installed("/usr/share/dbupgrade/dbupgrade.sql")});
    EXPECT_EQ(checked.exitCode, 0) << checked.out << checked.err;
    EXPECT_EQ(checked.out, "5 statements, 0 errors, 0 warnings\n");
    EXPECT_EQ(checked.err, "");
}

TEST_F(Packaging, InstalledProgramUpgradesFromASetupFolder) {
    // Copied in, and as a symbolic link to the installed program: both use the setup folder's
    // files, not those beside /usr/bin.
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "symbolic link" : "copy");
        TempDir data;
        const std::string database = data.File("example.fdb");
        testsupport::CreateDatabase(database, 1);
        const std::string folder =
            SetupFolder(link ? "linked" : "copied", database,
                        ReadFile(Installed("/usr/share/dbupgrade/dbupgrade.sql")), link);
        const std::string settings = ReadFile(folder + "/upgrade.ini");

        const ProcessResult result = RunProcess({folder + "/upgrade"}, data.Path());
        const std::string log = ReadFile(folder + "/upgrade.log");
        EXPECT_EQ(result.exitCode, 0) << result.err << log;
        EXPECT_EQ(result.out + result.err, "");
        EXPECT_EQ(log.find(" error: "), std::string::npos) << log;
        // The example's DebugMode 5 lists the database before its statements.
        EXPECT_NE(log.find(" Start upgrade database " + database + " "), std::string::npos) << log;
        EXPECT_NE(log.find(" execute SQL: "), std::string::npos) << log;

        // SetupStatus is added to the example's [Common] section, which ends the file; every
        // comment and line of the example stays.
        const std::string written = ReadFile(folder + "/upgrade.ini");
        EXPECT_EQ(TSettingsFile(written).ReadString("Common", "SetupStatus", ""), "Continue");
        EXPECT_EQ(written, settings + "SetupStatus=Continue\n");

        // The example script ran: the table exists with the raised version and the variable text.
        const std::string rows = testsupport::RunIsqlOn(
            database, "SET LIST ON;\nSELECT VERSION, NOTE FROM DB_VERSION;\n");
        EXPECT_NE(rows.find("VERSION                         1"), std::string::npos) << rows;
        EXPECT_NE(rows.find("upgraded by dbupgrade"), std::string::npos) << rows;
    }
}

// The installed program started by its bare name, as a person tries it after installing the
// package: no settings file is beside it in /usr/bin, so it says where that file must be (one
// line on standard error), exits with code 2 and writes nothing under /usr/bin. The package is
// installed in a scratch root, whose /usr/bin the child binds over the system's in a mount
// namespace of its own.
TEST_F(Packaging, InstalledProgramStartedByItsBareNameWritesNothingUnderUsrBin) {
    if (::geteuid() != 0 || !testsupport::FileExists("/usr/bin/unshare")) {
        GTEST_SKIP() << "needs root and unshare(1) for a mount namespace";
    }
    const std::string bin = Installed("/usr/bin");
    const auto listing = [&bin] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(bin)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listing();
    const ProcessResult result = RunProcess(
        {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
         "mount --bind \"$0\" /usr/bin && PATH=/usr/bin exec dbupgrade", bin},
        Root());
    if (result.err.find("unshare failed") != std::string::npos) {
        GTEST_SKIP() << "no mount namespace here: " << result.err;
    }
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("dbupgrade: no settings file /usr/bin/dbupgrade.ini: ", 0), 0u)
        << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(listing(), before);
}

// The script rules the README gives installer authors, run by the installed program: a comment
// alone between blank lines is skipped, a blank line inside a procedure body belongs to it, a
// blank line after a complete statement ends it, so that a fragment after it fails as a
// statement of its own (the rest still runs, the run ends "Cancel" with exit code 0), the
// error entry follows its database's start entry and names the script line, and a CAST to
// VARCHAR gives a date in the server's own fixed form, which it reads back as the same value.
TEST_F(Packaging, InstalledProgramFollowsTheReadmeScriptRules) {
    TempDir data;
    const std::string database = data.File("rules.fdb");
    testsupport::CreateDatabase(database, 1,
                                "CREATE TABLE T (VERSION INTEGER, D DATE, D2 DATE, NOTE VARCHAR(40));\n"
                                "INSERT INTO T VALUES (1, '2024-02-29 13:45:10', NULL, NULL);\n");
    const std::string folder = SetupFolder("rules", database,
                                           "/* a comment alone is skipped */\n"
                                           "\n"
                                           "VAR @d = SELECT CAST(D AS VARCHAR(25)) FROM T\n"
                                           "\n"
                                           "VAR @day = SELECT CAST(D AS VARCHAR(11)) FROM T\n"
                                           "\n"
                                           "CREATE PROCEDURE STAMP AS\n"
                                           "BEGIN\n"
                                           "  UPDATE T SET NOTE = NOTE;\n"
                                           "\n"
                                           "  UPDATE T SET D2 = D2;\n"
                                           "END\n"
                                           "\n"
                                           "UPDATE T SET NOTE = @d || ' ' || @day, D2 = @d\n"
                                           "\n"
                                           "UPDATE T SET VERSION = 2\n"
                                           "\n"
                                           "WHERE VERSION = 1\n");

    const ProcessResult result = RunProcess({folder + "/upgrade"}, data.Path(), "");
    const std::string log = ReadFile(folder + "/upgrade.log");
    EXPECT_EQ(result.exitCode, 0) << result.err << log;
    EXPECT_EQ(TSettingsFile(ReadFile(folder + "/upgrade.ini"))
                  .ReadString("Common", "SetupStatus", ""),
              "Cancel");
    const std::size_t start = log.find(" Start upgrade database " + database + " ");
    const std::size_t error = log.find(" level 1:   error: there was an error during execution SQL");
    ASSERT_NE(start, std::string::npos) << log;
    ASSERT_NE(error, std::string::npos) << log;
    EXPECT_LT(start, error) << log;
    EXPECT_EQ(log.find("a comment alone is skipped", start), std::string::npos) << log;
    EXPECT_NE(log.find("WHERE VERSION = 1", error), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nscript: " + folder + "/upgrade.sql:18, database: " + database + "\r\n",
                       error),
              std::string::npos)
        << log;
    EXPECT_NE(testsupport::RunIsqlOn(database,
                                     "SET LIST ON;\nSELECT COUNT(*) AS STAMPS FROM "
                                     "RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = 'STAMP';\n")
                  .find("STAMPS                          1"),
              std::string::npos);

    const std::string rows =
        testsupport::RunIsqlOn(database, "SET LIST ON;\nSELECT VERSION, NOTE, IIF(D2 = D, 'same', 'other') AS READ_BACK FROM T;\n");
    EXPECT_NE(rows.find("VERSION                         2"), std::string::npos) << rows;
    EXPECT_NE(rows.find("29-FEB-2024 13:45:10.0000 29-FEB-2024\n"), std::string::npos) << rows;
    EXPECT_NE(rows.find("READ_BACK                       same"), std::string::npos) << rows;
}

}  // namespace
}  // namespace runner

// The Debian package: cpack builds it from this build folder, `dpkg -x` installs it into a
// scratch root, and the installed dbupgrade, copied beside a settings file made from the
// installed example, upgrades an embedded dialect-1 database with the installed example script.
#include "runner/Settings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>

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

TEST(Packaging, DebInstallsAndRunsFromAScratchRoot) {
    TempDir work;
    const std::string packages = work.File("packages");
    const ProcessResult cpack = RunProcess(
        {"cpack", "--config", BuildFolder() + "/CPackConfig.cmake", "-G", "DEB", "-B", packages},
        work.Path());
    ASSERT_EQ(cpack.exitCode, 0) << cpack.out << cpack.err;

    std::string deb;
    for (const auto& entry : fs::directory_iterator(packages)) {
        if (entry.path().extension() == ".deb") {
            ASSERT_TRUE(deb.empty()) << "more than one package: " << deb << ", " << entry.path();
            deb = entry.path().string();
        }
    }
    ASSERT_FALSE(deb.empty()) << cpack.out;

    // The runner loads the client library at run time, so only the package names it.
    const ProcessResult fields = RunProcess({"dpkg-deb", "--field", deb, "Package", "Depends"});
    ASSERT_EQ(fields.exitCode, 0) << fields.err;
    EXPECT_NE(fields.out.find("Package: dbupgrade"), std::string::npos) << fields.out;
    EXPECT_NE(fields.out.find("libfbclient2"), std::string::npos) << fields.out;

    const std::string root = work.File("root");
    const ProcessResult extract = RunProcess({"dpkg", "-x", deb, root});
    ASSERT_EQ(extract.exitCode, 0) << extract.err;
    const std::string binary = root + "/usr/bin/dbupgrade";
    const std::string exampleIni = root + "/usr/share/dbupgrade/dbupgrade.ini";
    const std::string exampleSql = root + "/usr/share/dbupgrade/dbupgrade.sql";
    ASSERT_TRUE(testsupport::FileExists(binary));
    struct stat info {};
    ASSERT_EQ(::stat(binary.c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXOTH, 0u) << "dbupgrade is not executable for everyone";
    EXPECT_EQ(ReadFile(exampleIni), ReadFile(testsupport::SourceDir() + "/examples/dbupgrade.ini"));
    EXPECT_EQ(ReadFile(exampleSql), ReadFile(testsupport::SourceDir() + "/examples/dbupgrade.sql"));
    EXPECT_EQ(ReadFile(root + "/usr/share/doc/dbupgrade/README.md"),
              ReadFile(testsupport::SourceDir() + "/README.md"));

    // The script check comes along with its manual page, and finds nothing in the examples.
    const std::string check = root + "/usr/bin/dbupgrade-check";
    ASSERT_TRUE(testsupport::FileExists(check));
    EXPECT_TRUE(testsupport::FileExists(root + "/usr/share/man/man1/dbupgrade-check.1") ||
                testsupport::FileExists(root + "/usr/share/man/man1/dbupgrade-check.1.gz"));
    const ProcessResult checked = RunProcess({check, "--settings", exampleIni, exampleSql});
    EXPECT_EQ(checked.exitCode, 0) << checked.out << checked.err;
    EXPECT_EQ(checked.out, "5 statements, 0 errors, 0 warnings\n");

    // The runner finds its files beside its own path: copy it next to the settings and the
    // script, both taken from the installed examples.
    const std::string run = work.File("run");
    fs::create_directory(run);
    fs::copy_file(binary, run + "/dbupgrade");
    const std::string database = run + "/example.fdb";
    testsupport::CreateDatabase(database, 1);
    std::string settings = ReplaceLine(ReadFile(exampleIni), "Main=", "Main=" + database);
    settings = ReplaceLine(settings, "DebugMode=", "DebugMode=5");
    WriteFile(run + "/dbupgrade.ini", settings);
    fs::copy_file(exampleSql, run + "/dbupgrade.sql");

    const ProcessResult result = RunProcess({run + "/dbupgrade"}, run);
    const std::string log = ReadFile(run + "/dbupgrade.log");
    EXPECT_EQ(result.exitCode, 0) << result.err << log;
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_EQ(log.find(" error: "), std::string::npos) << log;
    EXPECT_NE(log.find(" Start upgrade database " + database + " "), std::string::npos) << log;

    // SetupStatus is added to the example's [Common] section, which ends the file; every
    // comment and line of the example stays.
    const std::string written = ReadFile(run + "/dbupgrade.ini");
    EXPECT_EQ(TSettingsFile(written).ReadString("Common", "SetupStatus", ""), "Continue");
    EXPECT_EQ(written, settings + "SetupStatus=Continue\n");

    // The example script ran: the table exists with the raised version and the variable text.
    const std::string rows = testsupport::RunIsqlOn(
        database, "SET LIST ON;\nSELECT VERSION, NOTE FROM DB_VERSION;\n");
    EXPECT_NE(rows.find("VERSION                         1"), std::string::npos) << rows;
    EXPECT_NE(rows.find("upgraded by dbupgrade"), std::string::npos) << rows;
}

}  // namespace
}  // namespace runner

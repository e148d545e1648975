// dbupgrade-check run as a real process: its output lines, summary and exit codes, that it
// writes nothing, and that the statements it calls errors are the ones the real runner fails
// on against a real database.
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using testsupport::ReadFile;
using testsupport::RunProcess;
using testsupport::WriteFile;

const std::string kCheck = DBU_CHECK_EXECUTABLE;

// Every file of a folder with its content.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        files[entry.path().string()] = entry.is_regular_file() ? ReadFile(entry.path()) : "";
    }
    return files;
}

TEST(CheckProcess, FindingsSummaryAndExitCodes) {
    const testsupport::TempDir dir;
    WriteFile(dir.File("up.sql"), "CREATE TABLE T (A INT)\n\nCOMMIT\n\nVAR @x = 1\n");
    WriteFile(dir.File("setup.ini"), "[General]\nDebugMode=high\n[Database]\nmain=/srv/main.fdb\n");
    const auto before = Snapshot(dir.Path());

    // Paths as given, relative to the working folder; the settings file's findings first.
    const auto found = RunProcess({kCheck, "--settings", "setup.ini", "up.sql"}, dir.Path());
    EXPECT_EQ(found.exitCode, 1);
    EXPECT_EQ(found.err, "");
    EXPECT_EQ(found.out,
              "setup.ini:2: warning: DebugMode 'high' is no number: the runner reads it as its "
              "default (1)\n"
              "up.sql:3: error: COMMIT ends the runner's own transaction: the runner runs and "
              "commits every statement in a transaction of its own; remove it\n"
              "up.sql:5: warning: @x is declared and never used\n"
              "3 statements, 1 errors, 2 warnings\n");
    EXPECT_EQ(Snapshot(dir.Path()), before) << "the check wrote a file";

    WriteFile(dir.File("clean.sql"), "VAR @x = 1\n\nUPDATE T SET A = @x\n");
    const auto clean = RunProcess({kCheck, dir.File("clean.sql")});
    EXPECT_EQ(clean.exitCode, 0);
    EXPECT_EQ(clean.out, "2 statements, 0 errors, 0 warnings\n");
    EXPECT_EQ(clean.err, "");

    // After "--" a name that begins with "-" is the script.
    WriteFile(dir.File("-odd.sql"), "UPDATE T SET A = 1\n");
    EXPECT_EQ(RunProcess({kCheck, "--", "-odd.sql"}, dir.Path()).exitCode, 0);

    // A file that cannot be read, or wrong arguments: exit code 2, one line on stderr.
    const std::vector<std::vector<std::string>> unusable = {
        {kCheck},
        {kCheck, dir.File("missing.sql")},
        {kCheck, dir.Path()},
        {kCheck, "--settings", dir.File("missing.ini"), dir.File("clean.sql")},
        {kCheck, "--settings"},
        {kCheck, "--verbose", dir.File("clean.sql")},
        {kCheck, dir.File("clean.sql"), dir.File("up.sql")},
    };
    for (const auto& argv : unusable) {
        const auto r = RunProcess(argv);
        const std::string shown = argv.size() > 1 ? argv[1] : "(none)";
        EXPECT_EQ(r.exitCode, 2) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_TRUE(r.err.starts_with("dbupgrade-check: ")) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    EXPECT_EQ(RunProcess({kCheck, dir.File("missing.sql")}).err,
              "dbupgrade-check: " + dir.File("missing.sql") + ": File not found\n");
}

// The README's example: its script, run from the folder that holds it, gives its output.
TEST(CheckProcess, TheReadmeExample) {
    const std::string readme = ReadFile(testsupport::SourceDir() + "/README.md");
    // The indented block after `from` up to the first line that is neither indented nor blank.
    const auto block = [&readme](const std::string& from) {
        std::size_t at = readme.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        at = readme.find('\n', at) + 1;
        std::string text;
        while (at < readme.size()) {
            const std::size_t end = readme.find('\n', at);
            const std::string line = readme.substr(at, end - at);
            if (!line.empty() && !line.starts_with("    ")) {
                break;
            }
            text += (line.empty() ? "" : line.substr(4)) + "\n";
            at = end + 1;
        }
        text.erase(0, text.find_first_not_of('\n'));
        while (text.ends_with("\n\n")) {
            text.pop_back();
        }
        return text;
    };
    const std::string output = block("    $ dbupgrade-check upgrade.sql");
    const std::string script = block("for this `upgrade.sql`:");
    ASSERT_FALSE(script.empty());
    const testsupport::TempDir dir;
    WriteFile(dir.File("upgrade.sql"), script);
    const auto r = RunProcess({kCheck, "upgrade.sql"}, dir.Path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, output);
}

using CheckAgainstRunner = runnertest::RunnerProcessFixture;

// The same script through the check and through the runner on a real database: the check's
// errors are the statements the runner fails on, and PSQL bodies with blank lines, strings
// with ";" and "--", a comment alone and a trailing semicolon pass both.
TEST_F(CheckAgainstRunner, ErrorsAreTheStatementsTheRunnerFails) {
    const std::vector<std::string> statements = {
        "CREATE TABLE T (A INTEGER, S VARCHAR(40))",
        "/* a note alone */",
        "SET TERM ^ ;",
        "INSERT INTO T VALUES (1, 'a;');\nINSERT INTO T VALUES (2, '--')",
        "CREATE TRIGGER T_BI FOR T BEFORE INSERT AS\nBEGIN\n"
        "  IF (NEW.S IS NULL) THEN NEW.S = 'x;';\n\n  NEW.A = NEW.A + 0;\nEND",
        "INSERT INTO T VALUES (3, 'semi;colon -- no comment')",
        "INSERT INTO T (A) VALUES (4);",
        "WHERE A = 4",
        "INSERT INTO T VALUES (5, 'it's')",
    };
    std::string text;
    for (const std::string& statement : statements) {
        text += statement + "\n\n";
    }
    WriteFile(script, text);
    const std::string db = NewDatabase("agree.fdb");
    WriteSettings({db});

    const auto check = RunProcess({kCheck, script});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_EQ(check.out, script +
                             ":5: error: SET TERM is an isql command, not SQL: the "
                             "server rejects it; statements are separated by blank "
                             "lines and need no terminator\n" +
                             script +
                             ":8: error: two statements in one block: the ';' on line 7 "
                             "ends a statement and more SQL follows; the server "
                             "receives both as one text and rejects it; separate them "
                             "with a blank line\n" +
                             script +
                             ":21: error: 'WHERE' cannot begin an SQL statement: the text from "
                             "here to the next blank line is a fragment, which the server "
                             "rejects; if it belongs to the statement above, the blank line on "
                             "line 20 has cut that statement short, and its first part runs "
                             "without it\n" +
                             script +
                             ":23: error: the string that begins here is never closed: the runner "
                             "reads everything from here to the end of the script as one "
                             "statement, which the server rejects\n"
                             "8 statements, 4 errors, 0 warnings\n");

    Run();
    EXPECT_EQ(SetupStatus(), "Cancel");
    std::vector<std::string> failed;
    const std::string marker = "level 1:   error: there was an error during execution SQL: \r\n";
    for (const std::string& entry : LogEntries()) {
        if (entry.starts_with(marker)) {
            failed.push_back(
                entry.substr(marker.size(), entry.find("\r\nerror message: ") - marker.size()));
        }
    }
    EXPECT_EQ(failed, (std::vector<std::string>{statements[2],
                                                "INSERT INTO T VALUES (1, 'a;');\r\n"
                                                "INSERT INTO T VALUES (2, '--')",
                                                statements[7], statements[8] + "\r\n"}));
    EXPECT_EQ(runnertest::Rows(db, "SELECT A, S FROM T ORDER BY A"),
              (std::vector<std::string>{"3|semi;colon -- no comment", "4|x;"}));
}

}  // namespace

// The script reader: the script path, the line rules of the script file, its shared lock and
// file errors, and the cutting of the script into statements.
#include "ibclient/Errors.h"
#include "runner/ScriptReader.h"

#include "logging/Logger.h"
#include "runner/RunnerContext.h"
#include "tests/runner/ScriptFixture.h"
#include "tests/support/ScriptSplitting.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace runner {
namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

std::vector<std::string> ReadLines(const std::string& path) {
    TScriptFile file(path);
    std::vector<std::string> lines;
    std::string line;
    while (file.ReadLine(line)) {
        lines.push_back(line);
    }
    EXPECT_TRUE(line.empty());
    EXPECT_FALSE(file.ReadLine(line)); // the end stays the end
    return lines;
}

TEST(ScriptPathTest, FirstArgumentOnlyWithSqlExtension) {
    struct Case {
        const char* executable;
        const char* argument;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"/opt/app/dbupgrade", "", "/opt/app/dbupgrade.sql"},
        {"/opt/app/dbupgrade", "/data/up.sql", "/data/up.sql"},
        {"/opt/app/dbupgrade", "/data/UP.SQL", "/data/UP.SQL"},
        {"/opt/app/dbupgrade", "relative/up.Sql", "relative/up.Sql"},
        {"/opt/app/dbupgrade", "/data/up.txt", "/opt/app/dbupgrade.sql"},
        {"/opt/app/dbupgrade", "/data/up.sqlx", "/opt/app/dbupgrade.sql"},
        {"/opt/app/dbupgrade", "/data.sql/up", "/opt/app/dbupgrade.sql"},
        {"/opt/app/dbupgrade", "up", "/opt/app/dbupgrade.sql"},
        {"/opt/app/dbupgrade.bin", "", "/opt/app/dbupgrade.sql"},
        {"/opt/app.d/dbupgrade", "", "/opt/app.d/dbupgrade.sql"},
        {"/opt/app/db.upgrade.exe", "x.sq", "/opt/app/db.upgrade.sql"},
    };
    for (const auto& [executable, argument, expected] : cases) {
        EXPECT_EQ(ScriptPath(executable, argument), expected) << executable << " " << argument;
    }
}

TEST(ScriptFileTest, LineRules) {
    struct Case {
        std::string content;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"\n", {""}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\n\n", {"a", ""}},
        {"a\rb\rc\r", {"abc"}}, // lone CRs end nothing and are dropped
        {"a\r\r\nb", {"a", "b"}},
        {"a\r\n\r\n\tb ", {"a", "", "\tb "}},
        {"a\x1A"
         "b\nc",
         {"a"}}, // Ctrl-Z ends the file in the middle of a line
        {"a\n\x1A"
         "b\n",
         {"a"}},
        {"\x1A", {}},
        {"a\r\x1A", {"a"}},
        {std::string("x\0y\n\0", 5), {std::string("x\0y", 3), std::string(1, '\0')}},
        {"\xE9\xFF\x7F\x01\n", {"\xE9\xFF\x7F\x01"}},
    };
    const TempDir dir;
    for (const auto& [content, lines] : cases) {
        WriteFile(dir.File("s.sql"), content);
        EXPECT_EQ(ReadLines(dir.File("s.sql")), lines) << "content: " << content;
    }
}

TEST(ScriptFileTest, BreaksAndCtrlZAcrossReadBlocks) {
    // Line breaks, lone CRs and Ctrl-Z at every offset around the reader's block boundaries.
    const TempDir dir;
    for (const std::size_t block : {std::size_t{64} * 1024, std::size_t{256} * 1024}) {
        for (std::size_t at = block - 3; at <= block + 1; ++at) {
            std::string content(at, 'x');
            content += "\r\ny\rz\r\nw\x1A tail";
            WriteFile(dir.File("s.sql"), content);
            EXPECT_EQ(ReadLines(dir.File("s.sql")),
                      (std::vector<std::string>{std::string(at, 'x'), "yz", "w"}))
                << at;
        }
    }
}

TEST(ScriptFileTest, FiftyMegabyteLine) {
    const TempDir dir;
    std::string content(50 * 1024 * 1024, 'a');
    content[1234567] = '\r';
    content += "\r\nlast";
    WriteFile(dir.File("big.sql"), content);
    const std::vector<std::string> statements = [&] {
        RunnerContext context;
        context.FirstArgument = dir.File("big.sql");
        std::vector<std::string> result;
        RunScriptFile(context, [&](const std::string& statement) { result.push_back(statement); });
        return result;
    }();
    ASSERT_EQ(statements.size(), 1U);
    EXPECT_EQ(statements[0].size(), 50U * 1024 * 1024 - 1 + 2 + 4);
    EXPECT_EQ(statements[0].find('\r'), 50U * 1024 * 1024 - 1);
    EXPECT_TRUE(statements[0].ends_with("aa\r\nlast"));
}

TEST(RunScriptFileTest, StatementsAreCutAtBlankLines) {
    struct Case {
        std::string content;
        std::vector<std::string> statements;
    };
    const std::vector<Case> cases = {
        // Lines joined by CR LF with their leading blanks; a tab-only line ends the statement;
        // every blank line and the end hand on the buffer, empty or not.
        {"CREATE TABLE T (\n  ID INTEGER,\n\tNAME CHAR(1));\n\t\nB1\r\n\r\n \r\nC1",
         {"CREATE TABLE T (\r\n  ID INTEGER,\r\n\tNAME CHAR(1));", "B1", "", "C1"}},
        {"", {""}},
        {"\n\nA\n", {"", "", "A"}},
        {"A\n\n", {"A", ""}},
        {"A\rB\r\r\nC", {"AB\r\nC"}},
        {"A\n\x1A"
         "B\n\nC\n",
         {"A"}},
        {"  A  \n\x0B\x0C\n", {"  A  ", ""}},
    };
    const TempDir dir;
    for (const auto& [content, statements] : cases) {
        EXPECT_EQ(CollectStatements(dir, content), statements) << "content: " << content;
    }
}

// The statements and first lines that ReadStatements hands on for `content`.
std::vector<testsupport::SplitStatement> ReadSplit(const TempDir& dir, const std::string& content,
                                                   std::vector<TStatementShape>* shapes = nullptr) {
    WriteFile(dir.File("split.sql"), content);
    TScriptFile file(dir.File("split.sql"));
    std::vector<testsupport::SplitStatement> statements;
    ReadStatements(file, [&](const std::string& statement, const TStatementShape& shape,
                             const std::vector<TUnconvertible>&) {
        statements.push_back({statement, shape.FirstLine});
        if (shapes != nullptr) {
            shapes->push_back(shape);
        }
    });
    return statements;
}

TEST(ReadStatementsTest, BlankLinesInsideOpenTextsBelongToTheStatement) {
    struct Case {
        std::string content;
        std::vector<testsupport::SplitStatement> statements;
    };
    const std::vector<Case> cases = {
        // A trigger body, a column list, a literal and a comment holding blank lines; the
        // blank line keeps its own blanks.
        {"CREATE TRIGGER T_BI FOR T AS\nBEGIN\n  NEW.A = 1;\n\n  NEW.B = 2;\nEND\n\nB\n",
         {{"CREATE TRIGGER T_BI FOR T AS\r\nBEGIN\r\n  NEW.A = 1;\r\n\r\n  NEW.B = 2;\r\nEND", 1},
          {"B", 8}}},
        {"CREATE TABLE T (\n  A INT,\n \t\n  B INT)\n\nC",
         {{"CREATE TABLE T (\r\n  A INT,\r\n \t\r\n  B INT)", 1}, {"C", 6}}},
        {"INSERT INTO T VALUES ('a\n\nb')\n\n\nC\n",
         {{"INSERT INTO T VALUES ('a\r\n\r\nb')", 1}, {"", 5}, {"C", 6}}},
        {"/* one\n\ntwo */ UPDATE T SET A = 1\n\n-- (\nC",
         {{"/* one\r\n\r\ntwo */ UPDATE T SET A = 1", 1}, {"-- (\r\nC", 5}}},
        // Open at the end: the rest is one statement, handed on as it is.
        {"UPDATE T SET S = 'it\n\nUPDATE T SET S = 'x'\n\nC\n",
         {{"UPDATE T SET S = 'it\r\n\r\nUPDATE T SET S = 'x'\r\n\r\nC", 1}}},
        {"A\n\nEXECUTE BLOCK AS\nBEGIN\n\n", {{"A", 1}, {"EXECUTE BLOCK AS\r\nBEGIN\r\n", 3}}},
    };
    const TempDir dir;
    for (const Case& c : cases) {
        EXPECT_EQ(ReadSplit(dir, c.content), c.statements) << c.content;
    }

    // What the reader tells of each statement: paragraphs of comments only, and what is open
    // at the end.
    std::vector<TStatementShape> shapes;
    ReadSplit(dir, "-- licence\n/* header */\n\n-- section\nA\n\n/* x */ -- y\n\nB (\n", &shapes);
    ASSERT_EQ(shapes.size(), 4u);
    EXPECT_TRUE(shapes[0].CommentOnly);
    EXPECT_FALSE(shapes[1].CommentOnly);
    EXPECT_TRUE(shapes[2].CommentOnly);
    EXPECT_FALSE(shapes[3].CommentOnly);
    EXPECT_EQ(shapes[3].Open.What, TSqlOpening::Parenthesis);
    EXPECT_EQ(shapes[3].Open.Offset, 2u);
    shapes.clear();
    ReadSplit(dir, "/* never closed\n\nA\n", &shapes);
    ASSERT_EQ(shapes.size(), 1u);
    EXPECT_FALSE(shapes[0].CommentOnly);
    EXPECT_EQ(shapes[0].Open.What, TSqlOpening::Comment);
}

// Every script of the tests and the fuzz corpus: where each statement of the old way (every
// blank line ends one) is complete, the reader cuts exactly as before, byte for byte and with
// the same first lines; and the reader's single scan cuts as scanning each statement anew at
// every blank line does.
TEST(ReadStatementsTest, ScriptsCompleteAtEveryBlankLineReadAsBefore) {
    namespace fs = std::filesystem;
    const std::string source = testsupport::SourceDir();
    std::vector<std::string> paths = {source + "/examples/dbupgrade.sql"};
    for (const char* folder : {"/tests/runner/scripts", "/fuzz/corpus/fuzz_script_reader",
                               "/fuzz/corpus/fuzz_script_check"}) {
        for (const auto& entry : fs::directory_iterator(source + folder)) {
            paths.push_back(entry.path().string());
        }
    }
    std::size_t unchanged = 0;
    std::size_t changed = 0;
    for (const std::string& path : paths) {
        std::vector<std::string> lines;
        {
            TScriptFile file(path);
            for (std::string line; file.ReadLine(line);) {
                lines.push_back(line);
            }
        }
        const auto old = testsupport::SplitAtBlankLines(lines, false);
        std::vector<testsupport::SplitStatement> read;
        {
            TScriptFile file(path);
            ReadStatements(file, [&](const std::string& statement, const TStatementShape& shape,
                                     const std::vector<TUnconvertible>&) {
                read.push_back({statement, shape.FirstLine});
            });
        }
        EXPECT_EQ(read, testsupport::SplitAtBlankLines(lines, true)) << path;
        const std::size_t prefix = testsupport::CompletePrefix(old);
        ASSERT_GE(read.size(), std::min(prefix, old.size())) << path;
        for (std::size_t i = 0; i < prefix; ++i) {
            EXPECT_EQ(read[i], old[i]) << path << " statement " << i;
        }
        (prefix == old.size() ? unchanged : changed) += 1;
        if (prefix == old.size()) {
            EXPECT_EQ(read, old) << path;
        }
    }
    // Both kinds are among them: the property is not vacuous.
    EXPECT_GT(unchanged, 100u);
    EXPECT_GT(changed, 3u);
}

TEST(RunScriptFileTest, ExecutorErrorsEndTheRun) {
    const TempDir dir;
    RunnerContext context;
    context.ExecutablePath = dir.File("dbupgrade");
    WriteFile(dir.File("dbupgrade.sql"), "A\n\nB\n\nC\n");
    std::vector<std::string> seen;
    EXPECT_THROW(RunScriptFile(context,
                               [&](const std::string& statement) {
                                   seen.push_back(statement);
                                   if (statement == "B") {
                                       throw ibclient::Exception("stop");
                                   }
                               }),
                 ibclient::Exception);
    EXPECT_EQ(seen, (std::vector<std::string>{"A", "B"}));
    EXPECT_FALSE(context.ErrorFlag);
    // The file was closed on the way out: a writer can lock it again.
    const int fd = ::open(dir.File("dbupgrade.sql").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

TEST(RunScriptFileTest, MissingScriptIsLoggedAndFlagged) {
    const TempDir dir;
    logging::TLogger logger(dir.File("dbupgrade.log"), 1);
    RunnerContext context;
    context.ExecutablePath = dir.File("dbupgrade");
    context.Log = &logger;
    bool executed = false;
    RunScriptFile(context, [&](const std::string&) { executed = true; });
    EXPECT_TRUE(context.ErrorFlag);
    EXPECT_FALSE(executed);
    EXPECT_TRUE(testsupport::ReadFile(dir.File("dbupgrade.log"))
                    .ends_with(" level 1:   error: coudn't open file " + dir.File("dbupgrade.sql") +
                               "\r\nerror message: File not found\r\n\r\n"));
}

TEST(ScriptFileTest, FileErrorsByNumber) {
    const TempDir dir;
    WriteFile(dir.File("plain"), "");
    struct Case {
        std::string path;
        int32_t number;
        const char* message;
    };
    const std::vector<Case> cases = {
        {dir.File("missing.sql"), 2, "File not found"},
        {"", 2, "File not found"},
        {dir.File("plain") + "/x.sql", 3, "Invalid filename"},
        {dir.File(std::string(300, 'n') + ".sql"), 3, "Invalid filename"},
        {dir.Path(), 5, "File access denied"}, // a folder
    };
    for (const auto& [path, number, message] : cases) {
        try {
            TScriptFile file(path);
            ADD_FAILURE() << "opened " << path;
        } catch (const platform::EInOutError& error) {
            EXPECT_EQ(error.ErrorCode(), number) << path;
            EXPECT_EQ(error.Message(), message) << path;
        }
    }
    // The folder case through the run: an orderly file error, not a crash.
    RunnerContext context;
    context.FirstArgument = dir.Path() + "/folder.sql";
    ::mkdir(context.FirstArgument.c_str(), 0700);
    RunScriptFile(context, [](const std::string&) { ADD_FAILURE() << "executed"; });
    EXPECT_TRUE(context.ErrorFlag);
}

TEST(ScriptFileTest, MessagesOfTheNamedNumbers) {
    const std::vector<std::pair<int32_t, const char*>> cases = {
        {2, "File not found"},
        {3, "Invalid filename"},
        {4, "Too many open files"},
        {5, "File access denied"},
        {100, "Read beyond end of file"},
        {101, "Disk full"},
        {106, "Invalid numeric input"},
        {32, "I/O error 32"},
    };
    for (const auto& [number, message] : cases) {
        EXPECT_EQ(platform::FileErrorMessage(number), message);
    }
    // EIO is errno 5 but no access problem: it keeps a number of its own.
    EXPECT_EQ(platform::EInOutError(platform::FileErrorNumber(EIO)).Message(), "I/O error 1005");
}

TEST(ScriptFileTest, WritersAreShutOutBothWays) {
    const TempDir dir;
    const std::string path = dir.File("s.sql");
    WriteFile(path, "A\n");

    // Another process holds the exclusive lock: the script cannot be opened.
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        ::close(release[1]); // so that the parent's close ends the wait below
        const int fd = ::open(path.c_str(), O_RDWR);
        const char ok = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        char done = 0;
        (void)!::read(release[0], &done, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    try {
        TScriptFile file(path);
        ADD_FAILURE() << "opened a file locked by a writer";
    } catch (const platform::EInOutError& error) {
        EXPECT_EQ(error.Message(), "File access denied");
    }
    ::close(release[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);

    // While the script is open, a writer cannot take the exclusive lock; readers can share.
    TScriptFile file(path);
    TScriptFile second(path);
    const int writer = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    EXPECT_NE(::flock(writer, LOCK_EX | LOCK_NB), 0);
    file.Close();
    second.Close();
    EXPECT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
    ::close(writer);
}

} // namespace
} // namespace runner

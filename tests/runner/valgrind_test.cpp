// An end-to-end run of the dbupgrade executable under valgrind's memcheck, against a small
// embedded database with a script that declares variables from queries (one of them reads a
// BLOB), changes rows and has a failing statement (so the retry on a fresh connection runs as
// well): no invalid access, no use of uninitialised memory and no leak. tests/valgrind.supp holds
// the only suppressions, for the client library's and the engine's own allocations.
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Valgrind cannot run an executable built with AddressSanitizer; this file is built with the
// same flags as the executable.
#if defined(__SANITIZE_ADDRESS__)
#define DBU_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DBU_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr const char* kValgrind = "/usr/bin/valgrind";

using ValgrindRun = runnertest::RunnerProcessFixture;

TEST_F(ValgrindRun, EndToEndRunHasNoMemoryErrorAndNoLeak) {
#ifdef DBU_ADDRESS_SANITIZER
    GTEST_SKIP() << "built with AddressSanitizer, which valgrind cannot run; the plain build "
                    "runs this test";
#endif
    if (!FileExists(kValgrind)) {
        GTEST_SKIP() << "valgrind is missing (scripts/install-deps.sh installs it)";
    }
    const std::string db = NewDatabase("memcheck.fdb", 1,
                                       "CREATE TABLE T (ID INTEGER, NAME VARCHAR(20), "
                                       "NOTE BLOB SUB_TYPE TEXT);\n"
                                       "INSERT INTO T VALUES (1, 'O''Brien', '7');");
    WriteSettings({db});
    WriteFile(script, "VAR @name = SELECT NAME FROM T WHERE ID = 1\n\n"
                      "INSERT INTO T (ID, NAME) VALUES (2, @name)\n\n"
                      "VAR @note = SELECT NOTE FROM T WHERE ID = 1\n\n"
                      "INSERT INTO T (ID, NAME) VALUES (@note, 'from a BLOB')\n\n"
                      "INSERT INTO MISSING VALUES (1)\n\n"
                      "VAR @id = SELECT MAX(ID) FROM T\n\n"
                      "UPDATE T SET NAME = 'last' WHERE ID = @id\n");
    const std::string report = dir.File("valgrind.log");
    const auto result = testsupport::RunProcess(
        {kValgrind, "--error-exitcode=1", "--leak-check=full",
         "--suppressions=" + testsupport::SourceDir() + "/tests/valgrind.supp",
         "--log-file=" + report, exe},
        dir.Path());

    EXPECT_EQ(result.exitCode, 0) << ReadFile(report);
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_NE(ReadFile(report).find("ERROR SUMMARY: 0 errors"), std::string::npos)
        << ReadFile(report);
    // The run itself ended in order: the failing statement reported, the rest done.
    const std::vector<std::string> entries = LogEntries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(), "level 5:   Close application\r\n");
    EXPECT_EQ(runnertest::Occurrences(ReadFile(log), "level 1:   error: there was an error "
                                                     "during execution SQL: \r\nINSERT INTO "
                                                     "MISSING VALUES (1)\r\n"),
              1u);
    EXPECT_EQ(SetupStatus(), "Cancel");
    EXPECT_EQ(runnertest::Rows(db, "SELECT ID, NAME FROM T ORDER BY ID"),
              (std::vector<std::string>{"1|O'Brien", "2|O'Brien", "7|last"}));
}

}  // namespace

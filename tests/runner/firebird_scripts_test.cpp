// Firebird's own scripts (tests/runner/scripts, converted by hand's rules from the ones its
// Debian packages ship): the runner applies each converted copy as isql-fb applies the
// original, to the same rows, generator values and metadata, and the check reports no error
// on them, since no statement of theirs fails.
#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

using testsupport::ReadFile;
using testsupport::RunProcess;

const std::string kExamples = "/usr/share/doc/firebird3.0-common-doc/examples";
const std::string kUdf = "/usr/lib/x86_64-linux-gnu/firebird/3.0/UDF";

// One script: the converted copy the runner applies and the original that isql-fb applies.
struct ScriptPair {
    std::string converted;  // under tests/runner/scripts
    std::string original;   // as installed; ".gz" is unpacked
};

// The original's text for isql-fb on an existing database of dialect 1 (the runner attaches
// in dialect 1): its own CREATE DATABASE, INPUT and SET NAMES lines and its dialect line go,
// and the one character that WIN1251 lacks is written as the converted copy writes it.
std::string OriginalForIsql(const std::string& path) {
    std::string text = path.ends_with(".gz") ? RunProcess({"/bin/zcat", path}).out : ReadFile(path);
    std::string adapted;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        std::string lower = line;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (lower.starts_with("create database") || lower.starts_with("input ") ||
            lower.starts_with("set names")) {
            continue;
        }
        if (lower.starts_with("set sql dialect")) {
            line = "set sql dialect 1;";
        }
        static const std::string kUtf8Tres = "tr\xC3\xAAs";
        if (const std::size_t at = line.find(kUtf8Tres); at != std::string::npos) {
            line.replace(at, kUtf8Tres.size(), "tres");
        }
        adapted += line + "\n";
    }
    return adapted;
}

class FirebirdScripts : public runnertest::RunnerProcessFixture {
protected:
    // Applies each pair's converted copy to one database with the runner (one run each) and
    // its original to another with isql-fb, and compares the two databases.
    void ApplyAndCompare(const std::vector<ScriptPair>& scripts) {
        const std::string runnerDb = NewDatabase("runner.fdb");
        const std::string isqlDb = NewDatabase("isql.fdb");
        WriteSettings({runnerDb}, 1);
        for (const ScriptPair& pair : scripts) {
            const std::string converted =
                testsupport::SourceDir() + "/tests/runner/scripts/" + pair.converted;
            Run(0, {converted});
            EXPECT_EQ(SetupStatus(), "Continue") << pair.converted;
            testsupport::RunIsqlOn(isqlDb, OriginalForIsql(pair.original));

            // The check finds no error where no statement fails.
            const auto check = RunProcess({DBU_CHECK_EXECUTABLE, converted});
            EXPECT_NE(check.out.find(" statements, 0 errors, "), std::string::npos) << check.out;
        }
        EXPECT_FALSE(testsupport::FileExists(log)) << ReadFile(log);

        // The metadata as isql-fb extracts it, but for the line naming the database file.
        const auto extract = [](const std::string& database) {
            std::string text = RunProcess({"isql-fb", "-x", database}).out;
            const std::size_t name = text.find("/* CREATE DATABASE ");
            text.erase(name, text.find('\n', name) - name);
            return text;
        };
        EXPECT_EQ(extract(runnerDb), extract(isqlDb));

        // Every table's rows in the order of its primary key, and every generator's value.
        const std::vector<std::string> tables = runnertest::Rows(
            isqlDb, "SELECT TRIM(R.RDB$RELATION_NAME), (SELECT LIST(TRIM(S.RDB$FIELD_NAME)) "
                    "FROM RDB$RELATION_CONSTRAINTS C JOIN RDB$INDEX_SEGMENTS S ON "
                    "S.RDB$INDEX_NAME = C.RDB$INDEX_NAME WHERE C.RDB$RELATION_NAME = "
                    "R.RDB$RELATION_NAME AND C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY') FROM "
                    "RDB$RELATIONS R WHERE R.RDB$SYSTEM_FLAG = 0 AND R.RDB$VIEW_BLR IS NULL "
                    "ORDER BY 1");
        ASSERT_FALSE(tables.empty());
        for (const std::string& row : tables) {
            const std::string table = row.substr(0, row.find('|'));
            const std::string key = row.substr(row.find('|') + 1);
            const std::string query =
                "SELECT * FROM " + table + (key == "<null>" ? "" : " ORDER BY " + key);
            // The runner joins the lines of a statement with CR LF, also inside a literal that
            // spans lines; isql-fb keeps the file's LF.
            std::vector<std::string> rows = runnertest::Rows(runnerDb, query);
            for (std::string& text : rows) {
                for (std::size_t at = text.find("\r\n"); at != std::string::npos;
                     at = text.find("\r\n", at)) {
                    text.erase(at, 1);
                }
            }
            EXPECT_EQ(rows, runnertest::Rows(isqlDb, query)) << table;
        }
        for (const std::string& generator :
             runnertest::Rows(isqlDb, "SELECT TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS "
                                      "WHERE RDB$SYSTEM_FLAG = 0 ORDER BY 1")) {
            const std::string value = "SELECT GEN_ID(" + generator + ", 0) FROM RDB$DATABASE";
            EXPECT_EQ(runnertest::Rows(runnerDb, value), runnertest::Rows(isqlDb, value))
                << generator;
        }
    }
};

// Domains, tables with blank lines in their column lists, triggers and procedures with blank
// lines and comments in their bodies, exceptions, a view, grants and 216 rows of data.
TEST_F(FirebirdScripts, TheEmployeeDatabase) {
    ApplyAndCompare({{"employee.sql", kExamples + "/employee.sql.gz"}});
    EXPECT_EQ(runnertest::Rows(dir.File("runner.fdb"),
                               "SELECT (SELECT COUNT(*) FROM RDB$PROCEDURES), (SELECT COUNT(*) "
                               "FROM RDB$TRIGGERS WHERE RDB$SYSTEM_FLAG = 0), (SELECT COUNT(*) "
                               "FROM EMPLOYEE), GEN_ID(EMP_NO_GEN, 0) FROM RDB$DATABASE"),
              std::vector<std::string>{"10|4|42|145"});
}

// The package example (its header, its body with blank lines inside, and the test that calls
// it), the UDF declarations and the BLOB filter declaration, one after the other.
TEST_F(FirebirdScripts, ThePackageExampleAndTheUdfAndFilterDeclarations) {
    ApplyAndCompare({
        {"fbout-header.sql", kExamples + "/package/fbout-header.sql"},
        {"fbout-body.sql", kExamples + "/package/fbout-body.sql"},
        {"fbout-test.sql", kExamples + "/package/fbout-test.sql"},
        {"ib_udf.sql", kUdf + "/ib_udf.sql"},
        {"fbudf.sql", kUdf + "/fbudf.sql"},
        {"api9f.sql", kExamples + "/api/api9f.sql"},
    });
    // The test procedure wrote three lines through the package: the sequence counts them.
    EXPECT_EQ(
        runnertest::Rows(dir.File("runner.fdb"),
                         "SELECT GEN_ID(FB$OUT_SEQ, 0), (SELECT COUNT(*) FROM RDB$FUNCTIONS), "
                         "(SELECT COUNT(*) FROM RDB$FILTERS) FROM RDB$DATABASE"),
        std::vector<std::string>{"3|36|1"});
}

}  // namespace

// Hostile input for the parts of the runner that need no database: scripts with a 50 MB line,
// NUL bytes, invalid UTF-8 and Windows-1251 text and 100,000 statements through the real
// script reader and statement collection, substitution over such text, and a settings file
// naming 10,000 databases. Everything must arrive byte for byte, in order, and nothing may be
// lost or reported as read when it was not.
#include "runner/Runner.h"
#include "runner/RunnerContext.h"
#include "runner/ScriptReader.h"
#include "runner/ScriptVariables.h"
#include "runner/Settings.h"
#include "tests/runner/ScriptFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace runner {
namespace {

using testsupport::TempDir;
using testsupport::WriteFile;
using namespace std::string_literals;

// Compares without printing megabytes when they differ.
void ExpectSameBytes(const std::string& actual, const std::string& expected, const char* what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    const auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin());
    EXPECT_TRUE(mismatch.first == actual.end())
        << what << ": first difference at byte " << (mismatch.first - actual.begin());
}

constexpr std::size_t kFiftyMegabytes = 50u * 1024 * 1024;

TEST(HostileScript, FiftyMegabyteLineArrivesWhole) {
    TempDir dir;
    // A literal of 50 MB inside one statement, then a second statement: the long line must
    // neither be cut nor swallow the statement after it.
    std::string literal(kFiftyMegabytes, 'x');
    for (std::size_t i = 0; i < literal.size(); i += 4093) {
        literal[i] = static_cast<char>('a' + i % 26); // no repeating pattern across buffers
    }
    const std::string first = "INSERT INTO T VALUES ('" + literal + "')";
    const std::vector<std::string> statements =
        CollectStatements(dir, first + "\r\n\r\nCOMMIT WORK\r\n");
    ASSERT_EQ(statements.size(), 2u);
    ExpectSameBytes(statements[0], first, "the long statement");
    EXPECT_EQ(statements[1], "COMMIT WORK");
}

TEST(HostileScript, FiftyMegabyteLineThroughSubstitution) {
    TScriptVariables variables;
    variables.Set("@big", std::string(kFiftyMegabytes, 'v'));
    variables.Set("@id", "42");
    const std::string text = "UPDATE T SET A = '@big' WHERE ID = @id";
    const std::string result = SubstituteVariables(text, variables);
    const std::string expected =
        "UPDATE T SET A = '" + std::string(kFiftyMegabytes, 'v') + "' WHERE ID = 42";
    ExpectSameBytes(result, expected, "substituted text");

    // A 50 MB text of references and plain text, pasted and dropped alike.
    std::string many;
    std::string manyExpected;
    while (many.size() < kFiftyMegabytes) {
        many += "@id,@nothing,";
        manyExpected += "42,,";
    }
    ExpectSameBytes(SubstituteVariables(many, variables), manyExpected, "many references");
}

TEST(HostileScript, LinesAcrossReadBlockBoundaries) {
    TempDir dir;
    // Lines whose CR LF, lone CR or Ctrl-Z falls around any block size up to 1 MB: the line
    // lengths step over every power of two from 4 KB on, each one byte short, exact and over.
    std::string content;
    std::vector<std::string> expected;
    for (std::size_t size = 4096; size <= 1024 * 1024; size *= 2) {
        for (const std::size_t length : {size - 1, size, size + 1}) {
            std::string line(length, 'q');
            line[length / 2] = '\r'; // dropped from the text
            content += line + "\r\n\n";
            line.erase(length / 2, 1);
            expected.push_back(line);
        }
    }
    content += std::string(300000, 'z') + "\x1A" + "never read\r\n";
    expected.push_back(std::string(300000, 'z'));
    const std::vector<std::string> statements = CollectStatements(dir, content);
    ASSERT_EQ(statements.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ExpectSameBytes(statements[i], expected[i], "statement");
    }
}

TEST(HostileScript, NulBytesPassUnchanged) {
    TempDir dir;
    const std::string withNul = "SELECT '\0a\0' FROM T\0"s;
    const std::string nulOnly = "\0\0\0"s; // codes up to 32 only: a blank line
    const std::vector<std::string> statements =
        CollectStatements(dir, withNul + "\n" + withNul + "\n" + nulOnly + "\nB\0"s);
    ASSERT_EQ(statements.size(), 2u);
    EXPECT_EQ(statements[0], withNul + "\r\n" + withNul);
    EXPECT_EQ(statements[1], "B\0"s);

    // NUL bytes inside names and values are ordinary name characters.
    TScriptVariables variables;
    const std::string declaration = "VAR @a\0b = x\0y"s;
    HandleDeclaration(declaration, declaration, variables, nullptr);
    ASSERT_EQ(variables.Count(), 1u);
    EXPECT_EQ(variables.Entries()[0].Name, "@a\0b"s);
    EXPECT_EQ(variables.Entries()[0].Value, "x\0y"s);
    EXPECT_EQ(SubstituteVariables("(@a\0b)"s, variables), "(x\0y)"s);
}

TEST(HostileScript, InvalidUtf8AndWin1251PassAsBytes) {
    TempDir dir;
    // Invalid UTF-8: an overlong NUL, a lone continuation byte, a cut sequence, 0xFE and 0xFF.
    const std::string invalidUtf8 = "INSERT INTO T VALUES ('\xC0\x80 \x80 \xE2\x82 \xFE\xFF')";
    // Windows-1251: Cyrillic table and column names ("ТАБЛИЦА", "ПОЛЕ").
    const std::string win1251 = "UPDATE \xD2\xC0\xC1\xCB\xC8\xD6\xC0 SET \xCF\xCE\xCB\xC5 = 1";
    const std::vector<std::string> statements =
        CollectStatements(dir, invalidUtf8 + "\r\n\r\n" + win1251 + "\r\n");
    ASSERT_EQ(statements.size(), 2u);
    EXPECT_EQ(statements[0], invalidUtf8);
    EXPECT_EQ(statements[1], win1251);

    // Cyrillic variable names fold case in Windows-1251: declared as "@Имя", used as "@ИМЯ"
    // and "@имя"; the pasted value keeps its bytes.
    TScriptVariables variables;
    const std::string declaration = "VAR @\xC8\xec\xff = '\xE7\xed\xe0\xf7\xe5\xed\xe8\xe5 \xC0\x80'";
    HandleDeclaration(declaration, declaration, variables, nullptr);
    EXPECT_EQ(SubstituteVariables("SET A = @\xC8\xCC\xDF, B = @\xe8\xec\xff", variables),
              "SET A = '\xE7\xed\xe0\xf7\xe5\xed\xe8\xe5 \xC0\x80', B = "
              "'\xE7\xed\xe0\xf7\xe5\xed\xe8\xe5 \xC0\x80'");
}

TEST(HostileScript, HundredThousandStatementsInOrder) {
    TempDir dir;
    constexpr int kCount = 100000;
    std::string script;
    for (int i = 0; i < kCount; ++i) {
        script += "INSERT INTO T (ID)\r\n  VALUES (" + std::to_string(i) + ")\r\n\r\n";
    }
    const std::vector<std::string> statements = CollectStatements(dir, script);
    // Every statement is followed by a blank line, and the end of the file hands on the
    // (empty) rest once more.
    ASSERT_EQ(statements.size(), static_cast<std::size_t>(kCount) + 1);
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(statements[static_cast<std::size_t>(i)],
                  "INSERT INTO T (ID)\r\n  VALUES (" + std::to_string(i) + ")");
    }
    EXPECT_EQ(statements.back(), "");
}

TEST(HostileScript, HundredThousandVariables) {
    // 100,000 declarations, every one used, then every thousandth undefined again by a query
    // without rows (each removal moves every later entry).
    constexpr int kCount = 100000;
    TScriptVariables variables;
    const SelectEvaluator noRow = [](const std::string&) { return std::optional<std::string>(); };
    std::string text;
    std::string expected;
    for (int i = 0; i < kCount; ++i) {
        const std::string name = "@v" + std::to_string(i);
        const std::string declaration = "VAR " + name + " = " + std::to_string(i * 7);
        HandleDeclaration(declaration, declaration, variables, noRow);
        text += name + ",";
        expected += std::to_string(i * 7) + ",";
    }
    ASSERT_EQ(variables.Count(), static_cast<std::size_t>(kCount));
    EXPECT_EQ(SubstituteVariables(text, variables), expected);

    for (int i = 0; i < kCount; i += 1000) {
        const std::string declaration = "VAR @V" + std::to_string(i) + " = SELECT 1 FROM T";
        HandleDeclaration(declaration, declaration, variables, noRow);
    }
    ASSERT_EQ(variables.Count(), static_cast<std::size_t>(kCount - kCount / 1000));
    for (int i = 0; i < kCount; ++i) {
        const std::string* value = variables.ValueOf("@v" + std::to_string(i));
        if (i % 1000 == 0) {
            EXPECT_EQ(value, nullptr) << i;
        } else {
            ASSERT_NE(value, nullptr) << i;
            EXPECT_EQ(*value, std::to_string(i * 7));
        }
    }
}

// A settings file naming `count` databases, key "db<i>" and value "/data/db<i>.fdb".
std::string ManyDatabases(int count) {
    std::string content = "; many databases\r\n[General]\r\nDebugMode=5\r\n[Database]\r\n";
    for (int i = 0; i < count; ++i) {
        content += "db" + std::to_string(i) + " = /data/db" + std::to_string(i) + ".fdb\r\n";
    }
    return content + "[Common]\r\nSetupStatus=Continue\r\n";
}

TEST(HostileSettings, TenThousandDatabasesAreCutVisibly) {
    TempDir dir;
    const std::string path = dir.File("dbupgrade.ini");
    WriteFile(path, ManyDatabases(10000));
    const RunSettings settings = ReadSettings(path);
    EXPECT_EQ(settings.General.DebugMode, 5);
    // Names db0..db9999 with their terminators need far more than the key-name buffer: the
    // list holds the names that fit, in file order, and says that it was cut.
    EXPECT_TRUE(settings.DatabaseListCut);
    std::size_t used = 1;
    std::size_t fit = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::size_t next = used + ("db" + std::to_string(i)).size() + 1;
        if (next > kSectionKeyBufferSize) {
            break;
        }
        used = next;
        ++fit;
    }
    ASSERT_EQ(settings.DatabaseList.size(), fit);
    for (std::size_t i = 0; i < fit; ++i) {
        ASSERT_EQ(settings.DatabaseList[i],
                  "db" + std::to_string(i) + "=/data/db" + std::to_string(i) + ".fdb");
    }
}

TEST(HostileSettings, TenThousandKeysReadAndWritten) {
    const std::string content = ManyDatabases(10000);
    const TSettingsFile file{content};
    // Every one of the 10,000 keys reads its own value, the last one as well.
    for (int i = 0; i < 10000; ++i) {
        const std::string key = "DB" + std::to_string(i);
        ASSERT_EQ(file.ReadString("database", key, "?"), "/data/db" + std::to_string(i) + ".fdb")
            << key;
    }
    EXPECT_EQ(file.ReadString("Common", "SetupStatus", ""), "Continue");

    // Writing SetupStatus touches one line; writing a key of the big section appends it after
    // the last database; all 10,000 other lines stay byte for byte.
    const std::string cancelled = SetSettingsValue(content, "Common", "SetupStatus", "Cancel");
    std::string expected = content;
    expected.replace(expected.rfind("Continue"), 8, "Cancel");
    ExpectSameBytes(cancelled, expected, "SetupStatus written");

    const std::string added = SetSettingsValue(content, "Database", "extra", "/data/extra.fdb");
    std::string expectedAdded = content;
    expectedAdded.insert(expectedAdded.find("[Common]"), "extra=/data/extra.fdb\r\n");
    ExpectSameBytes(added, expectedAdded, "key added to the big section");
}

TEST(HostileSettings, BinaryAndWin1251Content) {
    // NUL bytes, invalid UTF-8 and Windows-1251 in names and values: read as bytes.
    std::string content = "[General]\nDebugMode=5\0" "1\n[Database]\n"s;
    content += "\xC1\xE0\xE7\xE0=/data/\xE1\xE0\xE7\xE0.fdb\n"; // "База" = /data/"база".fdb
    content += "nul\0key=a\0b\n"s;
    content += "bad=\xC0\x80\xFF\n";
    const TSettingsFile file{content};
    // A NUL inside the number is no digit: the default.
    EXPECT_EQ(ParseDebugMode(file.ReadString("General", "DebugMode", "")), 1);
    const SectionKeys keys = file.ReadSection("Database");
    ASSERT_EQ(keys.Names.size(), 3u);
    EXPECT_EQ(keys.Names[0], "\xC1\xE0\xE7\xE0");
    EXPECT_EQ(keys.Names[1], "nul\0key"s);
    EXPECT_EQ(file.ReadString("Database", keys.Names[0], ""), "/data/\xE1\xE0\xE7\xE0.fdb");
    EXPECT_EQ(file.ReadString("Database", keys.Names[1], ""), "a\0b"s);
    EXPECT_EQ(file.ReadString("Database", "BAD", ""), "\xC0\x80\xFF");
}

}  // namespace
}  // namespace runner

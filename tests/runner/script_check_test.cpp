// The desk check of scripts and settings files: each rule on scripts that trigger it and on
// scripts that must not, the runner's line rules, and the scripts the runner applies cleanly.
#include "runner/ScriptCheck.h"

#include "runner/RunnerContext.h"
#include "runner/ScriptReader.h"
#include "tests/ibclient/FormatSettingsFixture.h"
#include "tests/support/TestSupport.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace runner {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::TempDir;
using testsupport::WriteFile;

// The report of `content` read from a real file.
TScriptReport CheckText(const TempDir& dir, const std::string& content) {
    const std::string path = dir.File("check.sql");
    WriteFile(path, content);
    return CheckScript(path);
}

// Each finding as "LINE:E" or "LINE:W".
std::vector<std::string> Codes(const std::vector<TFinding>& findings) {
    std::vector<std::string> codes;
    for (const TFinding& f : findings) {
        codes.push_back(std::to_string(f.Line) + (f.Severity == TSeverity::Error ? ":E" : ":W"));
    }
    return codes;
}

std::string Texts(const std::vector<TFinding>& findings) {
    std::string all;
    for (const TFinding& f : findings) {
        all += FormatFinding("s", f) + "\n";
    }
    return all;
}

struct RuleCase {
    std::string script;
    std::vector<std::string> codes;  // expected findings
    std::string text;                // a part of one finding's text
};

void ExpectCases(const std::vector<RuleCase>& cases) {
    const TempDir dir;
    for (const RuleCase& c : cases) {
        const TScriptReport report = CheckText(dir, c.script);
        EXPECT_EQ(Codes(report.Findings), c.codes) << c.script << "\n" << Texts(report.Findings);
        if (!c.text.empty()) {
            EXPECT_THAT(Texts(report.Findings), HasSubstr(c.text)) << c.script;
        }
    }
}

TEST(ScriptCheckTest, StatementsTheServerRejects) {
    ExpectCases({
        // Comments alone between blank lines are skipped by the runner, like comments inside a
        // statement.
        {"CREATE TABLE T (A INT)\n\n/* release 2 */\n\nUPDATE T SET A = 1", {}, ""},
        {"-- one\n-- two\n", {}, ""},
        {"/* release 2 */\nCREATE TABLE T (A INT)\n\n-- note\nUPDATE T SET A = 1 -- end", {}, ""},
        // The runner's own transaction.
        {"COMMIT", {"1:E"}, "COMMIT ends the runner's own transaction"},
        {"UPDATE T SET A = 1\n\n  commit work", {"3:E"}, "COMMIT"},
        {"ROLLBACK", {"1:E"}, "ROLLBACK"},
        {"/* isolation */ SET TRANSACTION READ COMMITTED", {"1:E"}, "SET TRANSACTION"},
        {"COMMENT ON TABLE T IS 'commit'\n\nUPDATE T SET COMMITTED = 1", {}, ""},
        // isql commands.
        {"SET TERM ^ ;", {"1:E"}, "SET TERM is an isql command"},
        {"set sql dialect 3", {"1:E"}, "SET SQL DIALECT is an isql command"},
        {"SET NAMES WIN1251\n\nSET AUTODDL ON\n\nCONNECT 'x.fdb'\n\nCREATE DATABASE 'y.fdb'\n\n"
         "INPUT more.sql\n\nSHOW TABLES\n\nQUIT\n\nEXIT",
         {"1:E", "3:E", "5:E", "7:E", "9:E", "11:E", "13:E", "15:E"},
         "SET NAMES"},
        {"SET GENERATOR G TO 5\n\nSET STATISTICS INDEX I\n\nCREATE TABLE SHOW_ME (QUIT INT)",
         {},
         ""},
    });
}

TEST(ScriptCheckTest, TwoStatementsInOneBlock) {
    ExpectCases({
        {"UPDATE T SET A = 1;\nUPDATE T SET B = 2", {"2:E"}, "the ';' on line 1"},
        {"INSERT INTO T VALUES (1); -- first\n\n", {}, ""},
        {"INSERT INTO T VALUES (1); -- first\n/* then */\nINSERT INTO T VALUES (2)", {"3:E"}, ""},
        // After a PSQL body has ended.
        {"CREATE TRIGGER T_BI FOR T BEFORE INSERT AS\nBEGIN\n  NEW.A = 1;\nEND;\nDROP TABLE U",
         {"5:E"},
         "line 4"},
        {"ALTER TRIGGER T_BI INACTIVE;\nALTER TRIGGER T_BU INACTIVE", {"2:E"}, ""},
        // PSQL bodies full of semicolons, with declarations, nested blocks and CASE.
        {"CREATE OR ALTER PROCEDURE P (A INTEGER)\nRETURNS (B VARCHAR(10))\nAS\n"
         "DECLARE VARIABLE X INTEGER;\nDECLARE VARIABLE Y INTEGER = 2;\nBEGIN\n"
         "  X = CASE WHEN :A = 1 THEN 2 ELSE 3 END;\n  IF (X = 2) THEN\n  BEGIN\n"
         "    B = 'two;';\n    SUSPEND;\n  END\n  FOR SELECT A FROM T INTO :X DO\n"
         "    B = CAST(X AS VARCHAR(10));\nEND;",
         {},
         ""},
        {"EXECUTE BLOCK AS\nDECLARE N INT;\nBEGIN\n  N = 1;\n  INSERT INTO T VALUES (:N);\nEND",
         {},
         ""},
        {"RECREATE FUNCTION F (A INT) RETURNS INT AS\nBEGIN\n  RETURN A + 1;\nEND", {}, ""},
        {"CREATE PACKAGE PK AS\nBEGIN\n  PROCEDURE P1;\n  FUNCTION F1 RETURNS INT;\nEND", {}, ""},
        {"CREATE PACKAGE BODY PK AS\nBEGIN\n  PROCEDURE P1 AS\n  BEGIN\n    EXIT;\n  END\n"
         "  FUNCTION F1 RETURNS INT AS\n  BEGIN\n    RETURN 1;\n  END\nEND",
         {},
         ""},
        // Semicolons and comment marks inside strings, quoted names and comments.
        {"INSERT INTO T VALUES ('a;\n', '--', \"X;\n\", q'{b;\n}')\n", {}, ""},
        {"UPDATE T SET A = 1 /* not done;\n yet */\nWHERE B = 2", {}, ""},
    });
}

// The check reads the script as the runner's reader cuts it: blank lines inside open texts
// belong to the statement, what stays open to the end is found where it opened, a fragment
// is named, and a Ctrl-Z before the end says what is never read.
TEST(ScriptCheckTest, WhatTheReaderCutsAndLeavesOpen) {
    ExpectCases({
        {"CREATE TABLE T (\n  A INT,\n\n  B INT)\n\nUPDATE T SET A = 1", {}, ""},
        {"CREATE PROCEDURE P AS\nBEGIN\n  INSERT INTO T VALUES (1);\n\n  INSERT INTO T VALUES "
         "(2);\nEND",
         {},
         ""},
        {"INSERT INTO T VALUES ('a;\n\nb')", {}, ""},
        {"UPDATE T SET A = 1\n\nUPDATE T SET S = 'open\n\nUPDATE T SET A = 2\n",
         {"3:E"},
         "the string that begins here is never closed: the runner reads everything from here to "
         "the end of the script as one statement"},
        {"CREATE TABLE T (A INT\n\nINSERT INTO T VALUES (1)", {"1:E"}, "the '(' here is never"},
        {"/* no end\n\nUPDATE T SET A = 1", {"1:E"}, "the /* comment that begins here"},
        {"CREATE TRIGGER T_BI FOR T AS\nBEGIN\n  NEW.A = 1;\n\nUPDATE T SET A = 1",
         {"2:E"},
         "the PSQL body that begins here is never closed"},
        {"UPDATE T SET A = 1\n\nWHERE B = 2",
         {"3:E"},
         "'WHERE' cannot begin an SQL statement: the text from here to the next blank line is a "
         "fragment, which the server rejects; if it belongs to the statement above, the blank "
         "line on line 2 has cut that statement short"},
        {"END", {"1:E"}, "'END' cannot begin"},
        {"'text' || 'more'", {"1:E"}, ""},
        {"(SELECT 1 FROM RDB$DATABASE)\n\nupdate T set A = 1", {}, ""},
        {"UPDATE T SET A = 1\n\x1A"
         "\nDELETE FROM T\n",
         {"2:E"},
         "the 1 line after it is never read"},
        {"UPDATE T SET A = 1\n\x1A", {}, ""},
    });
    const TempDir dir;
    // A paragraph of comments only is no statement for the runner.
    EXPECT_EQ(CheckText(dir, "-- a\n\nUPDATE T SET A = 1\n\n/* b */").Statements, 1u);
}

TEST(ScriptCheckTest, MalformedDeclarationsStopTheRun) {
    ExpectCases({
        {"VAR x = 1", {"1:E", "1:E"}, "no @name"},
        {"UPDATE T SET A = 1\n\nvar @x 1", {"3:E", "3:E"}, "no '='"},
        {"VAR @ = 1", {"1:E", "1:E"}, "'@' alone"},
        {"VAR @x =\n\nUPDATE T SET A = 1", {"1:E", "1:E"}, "nothing after '='"},
        {"VAR @x = 1\n\nvar @Y = SELECT 'a=b' FROM T\n\nUPDATE T SET A = @x, B = @y", {}, ""},
    });
    const TempDir dir;
    const TScriptReport report = CheckText(dir, "VAR x = 1");
    ASSERT_EQ(report.Findings.size(), 2u);
    EXPECT_THAT(report.Findings[1].Text, HasSubstr("no statement after this one runs"));
}

TEST(ScriptCheckTest, References) {
    ExpectCases({
        // Not declared yet, declared later, and inside a string or a comment.
        {"UPDATE T SET A = @a\n\nVAR @a = 1", {"1:W", "3:W"}, "@a is not a variable declared"},
        // Inside quotes the runner keeps an undeclared reference as written: only a variable
        // declared later makes it suspect.
        {"INSERT INTO M VALUES ('sales@example.com')", {}, ""},
        {"INSERT INTO M VALUES ('@later')\n\nVAR @later = 1",
         {"1:W", "3:W"},
         "@later inside quotes is declared only later, on line 3"},
        {"UPDATE T SET A = 1 -- ask @bob", {"1:W"}, "inside this comment"},
        {"VAR @id = 1\n\nDELETE FROM T\nWHERE ID = @id;",
         {"1:W", "4:W"},
         "@id is declared, but the ';'"},
        // Declared before: in code, in a later declaration's SELECT, in a string.
        {"VAR @a = 1\n\nVAR @b = SELECT A FROM T WHERE ID = @A\n\nUPDATE T SET N = '@b'", {}, ""},
        // "@" inside a declared name.
        {"VAR @a@b = 7\n\nUPDATE T SET A = @a@b", {}, ""},
        // A literal value is not substituted: its @ is no use of a variable.
        {"VAR @x = 1\n\nVAR @y = @x\n\nUPDATE T SET A = @y",
         {"1:W"},
         "@x is declared and never used"},
    });
}

TEST(ScriptCheckTest, DeclarationsThatAreNotWhatTheyLookLike) {
    ExpectCases({
        {"VAR @n = SELECT\n  MAX(ID) FROM T\n\nUPDATE T SET A = @n",
         {"1:W"},
         "does not run the query"},
        {"VAR @n = select\tMAX(ID) FROM T\n\nUPDATE T SET A = @n", {"1:W"}, ""},
        {"VAR @n = SELECT MAX(ID)\n  FROM T\n\nUPDATE T SET A = @n", {}, ""},
        {"VAR\t@x = 1", {"1:W"}, "sends the statement to the server as SQL"},
        {"var\n@x = 1", {"1:W"}, ""},
        {"VAR @never = 1\n\nVAR @Twice = 1\n\nVAR @twice = 2\n\nUPDATE T SET A = @TWICE",
         {"1:W", "5:W"},
         "@never is declared and never used"},
        {"VAR @same = 1\n\nVAR @same = 2\n\nUPDATE T SET A = @same", {}, ""},
    });
    const TempDir dir;
    const TScriptReport report =
        CheckText(dir, "VAR @Twice = 1\n\nVAR @twice = 2\n\nUPDATE T SET A = @TWICE");
    ASSERT_EQ(report.Findings.size(), 1u);
    EXPECT_THAT(report.Findings[0].Text, HasSubstr("@twice redeclares @Twice"));
}

TEST(ScriptCheckTest, LocaleDependentValuesInsideQuotes) {
    // The forms are the runner's under the settings in effect: here a comma-decimal locale.
    const testsupport::SettingsGuard locale(testsupport::CommaDecimalSettings());
    const std::string declarations =
        "VAR @d = SELECT CURRENT_DATE FROM RDB$DATABASE\n\n"
        "VAR @t = SELECT CAST('NOW' AS TIME) AS T FROM RDB$DATABASE\n\n"
        "VAR @s = SELECT FIRST 1 CURRENT_TIMESTAMP FROM RDB$DATABASE\n\n"
        "VAR @n = SELECT CAST(A AS NUMERIC(9,2)), B FROM T\n\n"
        "VAR @f = SELECT -1.5e3 FROM RDB$DATABASE\n\n";
    const std::string uses = "INSERT INTO T VALUES ('@d', '@t', '@s', '@n', '@f')";
    const TempDir dir;
    const TScriptReport quoted = CheckText(dir, declarations + uses);
    EXPECT_THAT(Codes(quoted.Findings), ElementsAre("11:W", "11:W", "11:W", "11:W", "11:W"))
        << Texts(quoted.Findings);
    ASSERT_EQ(quoted.Findings.size(), 5u);
    EXPECT_THAT(quoted.Findings[0].Text, HasSubstr("@d holds a date"));
    EXPECT_THAT(quoted.Findings[0].Text, HasSubstr("31.12.1999"));
    EXPECT_THAT(quoted.Findings[1].Text, HasSubstr("23:59:58"));
    EXPECT_THAT(quoted.Findings[2].Text, HasSubstr("31.12.1999 23:59:58"));
    EXPECT_THAT(quoted.Findings[3].Text, HasSubstr("1234,5"));

    // Outside quotes these texts are no literals: the dates, times and, with a decimal comma,
    // the numbers break the statement.
    const TScriptReport bare =
        CheckText(dir, declarations + "INSERT INTO T VALUES (@d, @t, @s, @n, @f)");
    EXPECT_THAT(Codes(bare.Findings), ElementsAre("11:E", "11:E", "11:E", "11:E", "11:E"))
        << Texts(bare.Findings);
    EXPECT_THAT(bare.Findings[0].Text, HasSubstr("@d holds a date and stands outside quotes"));
    EXPECT_THAT(bare.Findings[3].Text, HasSubstr("which the server reads as two values"));

    // Texts and BLOBs are pasted as literals of their own: inside quotes they break the
    // statement, outside they are what was meant.
    const std::string texts = "VAR @c = SELECT CAST(CURRENT_DATE AS VARCHAR(10)) FROM T\n\n"
                              "VAR @l = SELECT LIST(NAME) FROM T\n\n"
                              "VAR @b = SELECT CAST(X AS BLOB SUB_TYPE 0) FROM T\n\n";
    const TScriptReport inside =
        CheckText(dir, texts + "UPDATE T SET S = '@c', L = '@l', B = '@b'");
    EXPECT_THAT(Codes(inside.Findings), ElementsAre("7:E", "7:E", "7:E")) << Texts(inside.Findings);
    EXPECT_THAT(inside.Findings[2].Text, HasSubstr("@b holds a BLOB, which the runner pastes as "
                                                   "a literal of its own (x'...')"));
    EXPECT_THAT(Codes(CheckText(dir, texts + "UPDATE T SET S = @c, L = @l, B = @b").Findings),
                ElementsAre());

    // Values whose kind the check cannot know or that do not depend on the locale: nothing.
    EXPECT_THAT(Codes(CheckText(dir, "VAR @a = SELECT D FROM T\n\n"
                                     "VAR @b = SELECT 15 FROM RDB$DATABASE\n\n"
                                     "VAR @e = SELECT CURRENT_DATE - 1 FROM RDB$DATABASE\n\n"
                                     "VAR @g = SELECT CAST(A AS NUMERIC(9,0)) FROM T\n\n"
                                     "INSERT INTO T VALUES ('@a', '@b', '@e', '@g', @a, @b, @e, "
                                     "@g)")
                          .Findings),
                ElementsAre());
}

TEST(ScriptCheckTest, ReadsTheScriptAsTheRunnerDoes) {
    const TempDir dir;
    // CR LF and lone CR line ends, a tab-only blank line, a NUL byte, and Ctrl-Z ending the
    // script: the findings name the lines of the file.
    const std::string script = std::string("UPDATE T SET A = 1\r\n\t\r\nCOMMIT\r\n\r\n") +
                               "UPDATE T\rSET A = 2\n\nUPDATE T SET B = 'x" + std::string(1, '\0') +
                               "'\n\nROLLBACK\x1A\n\nCOMMIT\n";
    const TScriptReport report = CheckText(dir, script);
    EXPECT_EQ(report.Statements, 5u);
    EXPECT_THAT(Codes(report.Findings), ElementsAre("3:E", "7:E", "9:E", "9:E"))
        << Texts(report.Findings);
    EXPECT_THAT(report.Findings[1].Text, HasSubstr("NUL byte"));
    EXPECT_THAT(report.Findings[3].Text,
                HasSubstr("a Ctrl-Z (code 26) ends the script here for the runner: the 2 lines "
                          "after it are never read"));

    // The count is the runner reader's: the statements that are not blank.
    std::size_t handed = 0;
    WriteFile(dir.File("again.sql"), script);
    RunnerContext context;
    context.FirstArgument = dir.File("again.sql");
    RunScriptFile(context,
                  [&handed](const std::string& statement) { handed += statement.empty() ? 0 : 1; });
    EXPECT_EQ(report.Statements, handed);

    EXPECT_THROW(CheckScript(dir.File("missing.sql")), platform::EInOutError);
    EXPECT_THROW(CheckScript(dir.Path()), platform::EInOutError);
}

TEST(ScriptCheckTest, EncodingsAsTheRunnerConvertsThem) {
    const TempDir dir;
    // UTF-8 is converted, once noted on line 1; the Cyrillic names keep their case rules.
    const std::string utf8 =
        "VAR @\xD0\x98\xD0\xBC\xD1\x8F = '\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0'\n\n"
        "UPDATE T SET S = @\xD0\xB8\xD0\xBC\xD1\x8F\n";
    TScriptReport report = CheckText(dir, utf8);
    EXPECT_THAT(Codes(report.Findings), ElementsAre("1:W")) << Texts(report.Findings);
    EXPECT_THAT(report.Findings[0].Text, HasSubstr("read as UTF-8 and converted to Windows-1251"));
    report = CheckText(dir, "\xEF\xBB\xBF" + utf8);
    EXPECT_THAT(Codes(report.Findings), ElementsAre("1:W"));
    // UTF-16 with its mark: "SELECT 1" and a line break in little-endian order.
    std::string utf16 = "\xFF\xFE";
    for (const char c : std::string("SELECT 1 FROM RDB$DATABASE\n")) {
        utf16 += c;
        utf16 += '\0';
    }
    EXPECT_THAT(Codes(CheckText(dir, utf16).Findings), ElementsAre("1:W"));

    // A character that Windows-1251 lacks (U+4E2D) fails its statement; in a declaration it
    // ends the run.
    report = CheckText(dir, "UPDATE T SET A = 1\n\nUPDATE T\n  SET S = '\xE4\xB8\xAD'\n\n"
                            "VAR @x = '\xE4\xB8\xAD'\n\nUPDATE T SET S = @x\n");
    EXPECT_THAT(Codes(report.Findings), ElementsAre("1:W", "4:E", "6:E")) << Texts(report.Findings);
    EXPECT_THAT(report.Findings[1].Text, HasSubstr("line 4 (U+4E2D)"));
    EXPECT_THAT(report.Findings[2].Text, HasSubstr("no statement after this one runs"));

    // Windows-1251 bytes pass unchanged, without a finding.
    EXPECT_THAT(Codes(CheckText(dir, "UPDATE T SET S = '\xC5\xEB\xEA\xE0'\n").Findings),
                ElementsAre());
}

TEST(ScriptCheckTest, Settings) {
    struct Case {
        std::string content;
        std::vector<std::string> codes;
    };
    const std::vector<Case> cases = {
        {"[General]\nDebugMode=5\nLockTimeout=10\nConnectTimeout=$1E\nReconnectWait=0\n"
         "[Database]\nmain=/srv/main.fdb\nremote=localhost:/srv/r.fdb\nalias=db.example:main\n",
         {}},
        // Numbers the runner reads as their defaults; the first of two lines counts.
        {"[General]\nDebugMode=abc\nLockTimeout=\nConnectTimeout=10s\nReconnectWait=99999999999\n"
         "debugmode=7\n[Database]\na=/a.fdb\n",
         {"2:W", "3:W", "4:W", "5:W"}},
        {"[general]\nDebugMode=5\nDEBUGMODE=x\n[Database]\na=/a.fdb\n", {}},
        {"[General]\nOnError=stop\nLockTimeout=1\n[Database]\na=/a.fdb\n", {}},
        {"[General]\nOnError=Halt\n[Database]\na=/a.fdb\n", {"2:W"}},
        // Keys the runner does not know: typos name the key meant.
        {"[General]\nDebugMod=5\nlocktimeOUT=3\nRecconectWait=1\nColour=red\n[Database]\na=/a.fdb\n",
         {"2:W", "4:W", "5:W"}},
        // No databases, empty values, relative paths.
        {"[General]\nDebugMode=5\n", {"1:E"}},
        {"; nothing\r\n[General]\r\n[Database]\r\n; none "
         "yet\r\n[Common]\r\nSetupStatus=Continue\r\n",
         {"3:E"}},
        {"[Database]\nempty=\nquoted=''\nblank=   \nrel=data/main.fdb\nbare=main.fdb\nok=/x.fdb\n",
         {"2:E", "3:E", "4:E", "5:W", "6:W"}},
        // Names the runner refuses whole.
        {std::string("[Database]\nnul=/a.fdb") + '\0' + ".bak\nlong=/" + std::string(2047, 'x') +
             "\nfits=/" + std::string(2046, 'x') + "\n",
         {"2:E", "3:E"}},
    };
    const TempDir dir;
    for (const Case& c : cases) {
        WriteFile(dir.File("s.ini"), c.content);
        const auto findings = CheckSettings(dir.File("s.ini"));
        ASSERT_TRUE(findings.has_value());
        EXPECT_EQ(Codes(*findings), c.codes) << c.content << Texts(*findings);
    }
    // A history table name that is none fails every database rather than reading as none.
    WriteFile(dir.File("s.ini"),
              "[General]\nHistoryTable=DBU_HISTORY\nhistorytable=x-y\n[Database]\na=/a.fdb\n");
    EXPECT_EQ(Texts(*CheckSettings(dir.File("s.ini"))), "");
    WriteFile(dir.File("s.ini"), "[General]\nHistoryTable=dbu-history\n[Database]\na=/a.fdb\n");
    EXPECT_EQ(Texts(*CheckSettings(dir.File("s.ini"))),
              "s:2: warning: HistoryTable 'dbu-history' is no table name (a letter, then letters, "
              "digits, _ or $, at most 27): the runner fails every database with it\n");
    // A password in a file that others may read; none once only its owner may.
    WriteFile(dir.File("s.ini"),
              "[General]\nUser=APP\nPassword=secret\nRole=R\n[Database]\na=/a.fdb\n");
    for (const mode_t mode : {0644, 0640, 0604}) {
        ASSERT_EQ(::chmod(dir.File("s.ini").c_str(), mode), 0);
        EXPECT_EQ(Texts(*CheckSettings(dir.File("s.ini"))),
                  "s:3: warning: the settings file holds a Password and other users may read it: "
                  "let only its owner read it (chmod go-rwx)\n")
            << mode;
    }
    ASSERT_EQ(::chmod(dir.File("s.ini").c_str(), 0600), 0);
    EXPECT_EQ(Texts(*CheckSettings(dir.File("s.ini"))), "");
    WriteFile(dir.File("s.ini"), "[General]\nOnError=Halt\n[Database]\na=/a.fdb\n");
    EXPECT_EQ(Texts(*CheckSettings(dir.File("s.ini"))),
              "s:2: warning: OnError 'Halt' is neither Continue nor Stop: the runner reads it as "
              "its default (Continue)\n");
    WriteFile(dir.File("s.ini"), "[General]\nDebugMod=5\nColour=red\n[Database]\na=/a.fdb\n");
    EXPECT_EQ(Texts(*CheckSettings(dir.File("s.ini"))),
              "s:2: warning: [General] has no key DebugMod: the runner ignores it; did you mean "
              "DebugMode?\n"
              "s:3: warning: [General] has no key Colour: the runner ignores it\n");
    // The example shipped with the program.
    const auto example = CheckSettings(testsupport::SourceDir() + "/examples/dbupgrade.ini");
    ASSERT_TRUE(example.has_value());
    EXPECT_EQ(Codes(*example), std::vector<std::string>{}) << Texts(*example);
    EXPECT_FALSE(CheckSettings(dir.File("missing.ini")).has_value());
    EXPECT_FALSE(CheckSettings(dir.Path()).has_value());
}

// The scripts the runner's own tests apply without an error, and the example shipped with
// the program: no finding, except where a script does on purpose what a warning names.
TEST(ScriptCheckTest, ScriptsTheRunnerAppliesCleanly) {
    const std::vector<std::string> clean = {
        testsupport::ReadFile(testsupport::SourceDir() + "/examples/dbupgrade.sql"),
        // The README's example.
        "VAR @ver = SELECT MAX(VERSION) FROM DB_VERSION\n\nALTER TABLE CUSTOMER\n"
        "  ADD PHONE VARCHAR(20)\n\nCREATE TRIGGER CUSTOMER_BI FOR CUSTOMER\n"
        "ACTIVE BEFORE INSERT POSITION 0\nAS\nBEGIN\n  NEW.NAME = UPPER(NEW.NAME);\nEND\n\n"
        "UPDATE DB_VERSION SET VERSION = @ver + 1\n",
        // The line rules of a real script (a Ctrl-Z at its very end).
        "CREATE TABLE E (N INTEGER,\r\n  V VARCHAR(30))\n\t\nINSERT INTO E VALUES (1, 'one')\r\n"
        " \r\nINSERT INTO E \rVALUES (2, 'lone \rCR')\n\nINSERT INTO E VALUES (3, 'three')\x1A\n\n",
        "\n\nINSERT INTO E VALUES (5, 'last')",
        // The fault suite's statements and its generator batches.
        "INSERT INTO T (ID) VALUES (1)\n\nUPDATE T SET A = 10 WHERE ID = 0\n\n"
        "INSERT INTO T (ID) VALUES (2)\n\n",
        "VAR @batch = SELECT GEN_ID(G, 1) FROM RDB$DATABASE\n\n"
        "INSERT INTO T (BATCH, K) SELECT @batch, 0 FROM SRC\n\nUPDATE T SET K = K + 1\n\n",
        "VAR @a = SELECT ID FROM T WHERE ID = 0 WITH LOCK\n\nUPDATE T SET A = @a WHERE ID = 0\n\n",
        // The update conflict healed by the retry.
        "UPDATE ACCOUNT SET OWNER = 'runner', ATTACHMENT = CURRENT_CONNECTION WHERE ID = 1\n\n"
        "INSERT INTO ACCOUNT VALUES (2, 'next', CURRENT_CONNECTION)\n",
        "INSERT INTO RAN VALUES ('default')",
        // A Windows-1251 script with a Cyrillic variable referenced in other letter case.
        "VAR @\xE5\xEB\xFC = '\xC5\xEB\xEA\xE0'\n\nINSERT INTO T VALUES ('cp1251', "
        "@\xC5\xCB\xDC)\n",
    };
    const TempDir dir;
    for (const std::string& script : clean) {
        const TScriptReport report = CheckText(dir, script);
        EXPECT_THAT(Codes(report.Findings), ElementsAre()) << script << "\n"
                                                           << Texts(report.Findings);
        EXPECT_GT(report.Statements, 0u);
    }

    // The realistic upgrade: a reference before its declaration inside a string, on purpose
    // (the runner keeps it as written), and so a variable declared after its only use. No
    // error.
    const std::string realistic =
        "/* Release 2.4: customer numbering */\nCREATE TABLE CUSTOMER (\n"
        "  ID INTEGER NOT NULL PRIMARY KEY,\n  NAME VARCHAR(40) NOT NULL\n)\n \n\t\n"
        "CREATE TABLE CARRY (V VARCHAR(20))\n \n\t\nINSERT INTO CARRY VALUES ('(@carry)')\n \n\t\n"
        "CREATE GENERATOR GEN_CUSTOMER_ID\n \n\t\nSET GENERATOR GEN_CUSTOMER_ID TO 100\n \n\t\n"
        "CREATE TRIGGER CUSTOMER_BI FOR CUSTOMER\nACTIVE BEFORE INSERT POSITION 0\nAS\nBEGIN\n"
        "  IF (NEW.ID IS NULL) THEN\n    NEW.ID = GEN_ID(GEN_CUSTOMER_ID, 1);\n"
        "  NEW.NAME = UPPER(NEW.NAME);\nEND\n \n\t\n"
        "CREATE PROCEDURE ADD_CUSTOMER (NAME VARCHAR(40))\nRETURNS (NEW_ID INTEGER)\nAS\nBEGIN\n"
        "  INSERT INTO CUSTOMER (NAME) VALUES (:NAME);\n  NEW_ID = GEN_ID(GEN_CUSTOMER_ID, 0);\n"
        "END\n \n\t\nVAR @prefix = 'Release 2.4: '\n \n\t\n"
        "var @first = SELECT MIN(ID) FROM CUSTOMER\n \n\t\n"
        "EXECUTE PROCEDURE ADD_CUSTOMER 'Smith'\n \n\t\n"
        "  EXECUTE PROCEDURE ADD_CUSTOMER 'O''Brien'\n \n\t\n"
        "VAR @last = SELECT MAX(ID) FROM CUSTOMER\n \n\t\n"
        "VAR @lastName = SELECT NAME FROM CUSTOMER WHERE ID = @last\n \n\t\n"
        "CREATE TABLE UPGRADE_LOG (NOTE VARCHAR(80), FIRST_ID INTEGER, LAST_ID INTEGER)\n \n\t\n"
        "INSERT INTO UPGRADE_LOG\n  VALUES (@prefix || @lastName, @first, @last)\n \n\t\n"
        "VAR @carry = leaked\n";
    const TScriptReport report = CheckText(dir, realistic);
    EXPECT_EQ(report.Statements, 16u);
    EXPECT_THAT(Codes(report.Findings), ElementsAre("11:W", "64:W")) << Texts(report.Findings);
    EXPECT_THAT(report.Findings[0].Text,
                HasSubstr("@carry inside quotes is declared only later, on line 64"));

    // Every field class pasted into later statements: no error, only the redeclaration in
    // another letter case that the test makes on purpose (and the value it replaces unused).
    std::string fields;
    for (const char* row : {"1", "2", "3"}) {
        fields += std::string("VAR @row = ") + row + "\n\n";
        for (const char* column : {"QTY", "PRICE", "RATIO", "SMALL", "BORN", "CODE", "NAME"}) {
            fields += std::string("VAR @") + column + " = SELECT " + column +
                      " FROM SRC WHERE ID = @row\n\n";
        }
        fields += std::string("INSERT INTO TXT VALUES ('") + row +
                  "', '@qty|@price|@ratio|@small|@born')\n\n"
                  "INSERT INTO DST VALUES (@row, @qty, @price, @ratio, @small, '@born', @code, "
                  "@name)\n\n";
    }
    fields += "VAR @gone = 5\n\nVAR @GONE = SELECT ID FROM SRC WHERE ID = -1\n\n"
              "INSERT INTO TXT VALUES ('gone', '(@gone)')\n";
    const TScriptReport fieldReport = CheckText(dir, fields);
    EXPECT_THAT(Codes(fieldReport.Findings), ElementsAre("63:W")) << Texts(fieldReport.Findings);
}

}  // namespace
}  // namespace runner

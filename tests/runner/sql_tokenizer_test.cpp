// The SQL scanner: where a text may end (strings, names, comments, parentheses and PSQL
// bodies of every kind of routine), what stays open and where, the tokens it finds, and that
// scanning line by line gives what scanning the whole text gives.
#include "runner/SqlTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace runner {
namespace {

struct CompleteCase {
    std::string text;
    bool complete;
    TSqlOpening::TWhat open = TSqlOpening::Nothing;
    std::string openAt = {};  // the text from the opening on (its first characters)
};

const std::vector<CompleteCase>& CompleteCases() {
    static const std::vector<CompleteCase> cases = {
        {"", true},
        {"SELECT 1 FROM RDB$DATABASE", true},
        // Quoted texts with doubled quotes, names, Q-strings, line breaks inside.
        {"SELECT 'it''s' FROM T", true},
        {"UPDATE T SET S = 'a\r\n\r\nb'", true},
        {"UPDATE T SET S = 'it''s\r\n", false, TSqlOpening::String, "'it''s"},
        {"SELECT \"A\"\"B\" FROM T", true},
        {"SELECT \"A FROM T", false, TSqlOpening::QuotedName, "\"A FROM"},
        {"SELECT q'{it's}' FROM T", true},
        {"SELECT Q'!a'!' FROM T", true},
        {"SELECT q'(it's", false, TSqlOpening::String, "q'(it"},
        {"SELECT q' x' FROM T", true},  // a blank is no delimiter: q and a plain string
        // Comments: a line comment ends at the line break, a block comment at */.
        {"SELECT 1 -- ( ' \"", true},
        {"SELECT 1 /* ( ' */", true},
        {"SELECT 1 /* open\r\n\r\n", false, TSqlOpening::Comment, "/* open"},
        {"SELECT '/*' FROM T -- */", true},
        // Parentheses; a surplus ")" does not keep the text open.
        {"CREATE TABLE T (\r\n  A INTEGER,\r\n\r\n  B INTEGER", false, TSqlOpening::Parenthesis,
         "(\r\n  A"},
        {"SELECT (1)) FROM T", true},
        {"SELECT ')' FROM T WHERE (A = '('", false, TSqlOpening::Parenthesis, "(A = "},
        // PSQL bodies: from the AS of the routine to the END of its main block.
        {"CREATE PROCEDURE P AS BEGIN END", true},
        {"CREATE PROCEDURE P (A INT) RETURNS (B INT) AS BEGIN B = A;\r\n\r\n", false,
         TSqlOpening::Block, "BEGIN B"},
        {"CREATE PROCEDURE P AS", false, TSqlOpening::Block, "AS"},
        {"create or alter procedure P (A VARCHAR(10)) RETURNS (B INT)", false, TSqlOpening::Block,
         "create"},
        {"CREATE PROCEDURE P EXTERNAL NAME 'm!p' ENGINE UDR", true},
        {"CREATE FUNCTION F RETURNS INT EXTERNAL NAME 'm!f' ENGINE UDR AS 'body'", true},
        {"RECREATE FUNCTION F (A INT) RETURNS INT AS BEGIN RETURN A + 1; END", true},
        {"ALTER TRIGGER T_BI INACTIVE", true},
        {"ALTER TRIGGER T_BI AS BEGIN NEW.A = 1;", false, TSqlOpening::Block, "BEGIN NEW"},
        {"CREATE TRIGGER T_BI FOR T BEFORE INSERT AS\r\nBEGIN\r\n  IF (NEW.A IS NULL) THEN\r\n"
         "  BEGIN\r\n    NEW.A = CASE WHEN 1 = 1 THEN 'END' ELSE 2 END; /* END */ -- END\r\n"
         "  END\r\nEND",
         true},
        {"CREATE TRIGGER T_BI FOR T BEFORE INSERT AS\r\nBEGIN\r\n  IF (1 = 1) THEN\r\n  BEGIN\r\n"
         "  END\r\n",
         false, TSqlOpening::Block, "BEGIN\r\n  IF"},
        {"EXECUTE BLOCK (X INT = ?) RETURNS (Y INT) AS DECLARE Z INT = CASE WHEN 1 = 1 THEN 1 "
         "END; BEGIN Y = X; SUSPEND; END",
         true},
        {"EXECUTE BLOCK AS DECLARE Z INT = CASE WHEN 1 = 1 THEN 1 END;", false, TSqlOpening::Block,
         "AS DECLARE"},
        {"EXECUTE PROCEDURE P", true},
        // A sub-routine's block is not the main block.
        {"EXECUTE BLOCK AS DECLARE PROCEDURE S AS BEGIN END BEGIN EXECUTE PROCEDURE S; END", true},
        {"EXECUTE BLOCK AS DECLARE FUNCTION F RETURNS INT AS DECLARE X INT; BEGIN RETURN 1; END",
         false, TSqlOpening::Block, "AS DECLARE FUNCTION"},
        // Packages: the header and the body.
        {"CREATE PACKAGE PK AS BEGIN PROCEDURE P1; FUNCTION F1 RETURNS INT; END", true},
        {"RECREATE PACKAGE BODY PK AS BEGIN PROCEDURE P1 AS BEGIN END FUNCTION F1 RETURNS INT AS "
         "BEGIN RETURN 1; END END",
         true},
        {"CREATE OR ALTER PACKAGE BODY PK AS BEGIN PROCEDURE P1 AS BEGIN END", false,
         TSqlOpening::Block, "BEGIN PROCEDURE"},
        // Statements without a PSQL body: CASE and BEGIN count for nothing there.
        {"CREATE VIEW V AS SELECT CASE WHEN A = 1 THEN 2 END AS C FROM T", true},
        {"SELECT CASE A WHEN 1 THEN 2 FROM T", true},
        {"INSERT INTO BEGIN_LOG VALUES ('BEGIN')", true},
        {"DECLARE EXTERNAL FUNCTION F INTEGER RETURNS INTEGER BY VALUE ENTRY_POINT 'f' "
         "MODULE_NAME 'm'",
         true},
    };
    return cases;
}

TEST(SqlScannerTest, WhereATextMayEnd) {
    for (const CompleteCase& c : CompleteCases()) {
        TSqlScanner scanner;
        scanner.Scan(c.text);
        EXPECT_EQ(scanner.Complete(), c.complete) << c.text;
        const TSqlOpening open = scanner.Opening();
        EXPECT_EQ(open.What, c.open) << c.text;
        if (c.open != TSqlOpening::Nothing) {
            EXPECT_EQ(c.text.substr(open.Offset, c.openAt.size()), c.openAt) << c.text;
        }
    }
}

// The reader scans each line as it comes: at every line's end that must say what scanning
// the text up to there at once says.
TEST(SqlScannerTest, LineByLineAsTheWholeText) {
    for (const CompleteCase& c : CompleteCases()) {
        // The same text with its blanks turned into line breaks, so that every word ends a line
        // somewhere.
        std::string text = c.text;
        for (std::size_t at = text.find(' '); at != std::string::npos; at = text.find(' ', at)) {
            text.replace(at, 1, "\r\n");
        }
        TSqlScanner scanner;
        std::vector<TSqlToken> streamed;
        for (std::size_t end = text.find("\r\n"); end != std::string::npos;
             end = text.find("\r\n", end + 2)) {
            const std::string prefix = text.substr(0, end);
            scanner.Scan(prefix, &streamed);
            EXPECT_EQ(scanner.Complete(), IsCompleteSql(prefix)) << prefix;
        }
        scanner.Scan(text, &streamed);
        scanner.Finish(&streamed);
        const std::vector<TSqlToken> whole = TokenizeSql(text);
        ASSERT_EQ(streamed.size(), whole.size()) << text;
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(streamed[i].Begin, whole[i].Begin) << text;
            EXPECT_EQ(streamed[i].End, whole[i].End) << text;
            EXPECT_EQ(streamed[i].Kind, whole[i].Kind) << text;
            EXPECT_EQ(streamed[i].InBody, whole[i].InBody) << text;
        }
    }
}

TEST(SqlScannerTest, TokensTheirKindsAndTheBody) {
    const std::string text = "CREATE TRIGGER T_BI FOR T AS DECLARE V INT; BEGIN V = 1.5e3; "
                             "/* c */ END; X 'a''b' \"N\" -- end\r\n";
    std::string shown;
    for (const TSqlToken& token : TokenizeSql(text)) {
        static constexpr const char* kKinds[] = {"w", "n", "s", "q", "c", "y"};
        shown += std::string(kKinds[token.Kind]) + (token.InBody ? "+" : "") + ":" +
                 text.substr(token.Begin, token.End - token.Begin) + " ";
    }
    EXPECT_EQ(shown,
              "w:CREATE w:TRIGGER w:T_BI w:FOR w:T w:AS w+:DECLARE w+:V w+:INT y+:; w+:BEGIN "
              "w+:V y+:= n+:1.5e3 y+:; c+:/* c */ w+:END y:; w:X s:'a''b' q:\"N\" c:-- end ");
    // An unclosed string or comment runs to the end and says so.
    const std::vector<TSqlToken> open = TokenizeSql("SELECT 'abc");
    ASSERT_EQ(open.size(), 2u);
    EXPECT_EQ(open[1].Kind, TSqlToken::String);
    EXPECT_FALSE(open[1].Closed);
    EXPECT_EQ(open[1].End, 11u);
    TSqlScanner comments;
    comments.Scan("-- a\r\n/* b */");
    EXPECT_TRUE(comments.Complete());
    EXPECT_FALSE(comments.HasCode());
}

}  // namespace
}  // namespace runner

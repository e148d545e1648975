// Script text in the connection character set: recognising UTF-8, UTF-8 with a byte-order
// mark, UTF-16 and Windows-1251 scripts, the conversion, and what becomes of characters that
// Windows-1251 lacks, down to a real run of the executable.
#include "runner/ScriptText.h"

#include "tests/runner/DatabaseRows.h"
#include "tests/runner/RunnerProcessFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using runner::DecodeScript;
using runner::ScriptEncoding;
using runner::TScriptText;
using runner::TUnconvertible;

// "Ёлка ёжик Щ" in the encodings a script may come in.
const std::string kFir1251 = "\xA8\xEB\xEA\xE0 \xB8\xE6\xE8\xEA \xD9";
const std::string kFirUtf8 = "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 \xD1\x91\xD0\xB6\xD0\xB8\xD0\xBA "
                             "\xD0\xA9";

// `utf8` (characters below U+10000 only) as UTF-16 with its byte-order mark.
std::string Utf16(const std::string& utf8, bool bigEndian) {
    std::string result = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        unsigned unit = b;
        if (b >= 0xE0) {
            unit = ((b & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
                   (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
            i += 3;
        } else if (b >= 0xC0) {
            unit = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            i += 2;
        } else {
            ++i;
        }
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFFu);
        result += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return result;
}

TEST(DecodeScriptTest, RecognisesTheEncodingAndConverts) {
    struct Case {
        std::string bytes;
        ScriptEncoding encoding;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"", ScriptEncoding::Unchanged, ""},
        {"SELECT 1\r\n\r\nx\x01\x7F", ScriptEncoding::Unchanged, "SELECT 1\r\n\r\nx\x01\x7F"},
        {std::string("a\0b", 3), ScriptEncoding::Unchanged, std::string("a\0b", 3)},
        // A Windows-1251 text is not valid UTF-8: passed byte for byte.
        {"'" + kFir1251 + "'\n", ScriptEncoding::Unchanged, "'" + kFir1251 + "'\n"},
        // Valid UTF-8 overall except one byte: not UTF-8, so the bytes stay as they are.
        {kFirUtf8 + "\xE9", ScriptEncoding::Unchanged, kFirUtf8 + "\xE9"},
        {"'" + kFirUtf8 + "'\r\n", ScriptEncoding::Utf8, "'" + kFir1251 + "'\r\n"},
        // Euro sign, no-break space and numero sign have Windows-1251 forms too.
        {"\xE2\x82\xAC\xC2\xA0\xE2\x84\x96", ScriptEncoding::Utf8, "\x88\xA0\xB9"},
        {"\xEF\xBB\xBF" "SELECT 1", ScriptEncoding::Utf8WithMark, "SELECT 1"},
        {"\xEF\xBB\xBF", ScriptEncoding::Utf8WithMark, ""},
        {"\xEF\xBB\xBF" + kFirUtf8, ScriptEncoding::Utf8WithMark, kFir1251},
        {Utf16("A\n" + kFirUtf8 + "\r\n", false), ScriptEncoding::Utf16LE,
         "A\n" + kFir1251 + "\r\n"},
        {Utf16("A\n" + kFirUtf8, true), ScriptEncoding::Utf16BE, "A\n" + kFir1251},
        // Ctrl-Z ends the script before the UTF-8 test: what follows it does not count.
        {kFirUtf8 + "\x1A\xFF\xFE", ScriptEncoding::Utf8, kFir1251},
        {"\x1A" + kFirUtf8, ScriptEncoding::Unchanged, ""},
        // In UTF-16 only the character U+001A ends it; "К" (U+041A) holds a byte 26.
        {Utf16("\xD0\x9A\x1A" "A", false), ScriptEncoding::Utf16LE, "\xCA"},
    };
    for (const auto& [bytes, encoding, text] : cases) {
        const TScriptText decoded = DecodeScript(bytes);
        EXPECT_EQ(decoded.Encoding, encoding) << testing::PrintToString(bytes);
        EXPECT_EQ(decoded.Text, text) << testing::PrintToString(bytes);
        EXPECT_TRUE(decoded.Unconvertible.empty()) << testing::PrintToString(bytes);
    }
}

TEST(DecodeScriptTest, CharactersWithoutAWindows1251FormAreRecordedByLine) {
    struct Place {
        std::size_t line;
        std::size_t offset;
        char32_t codePoint;
        bool operator==(const Place&) const = default;
    };
    struct Case {
        std::string bytes;
        std::string text;
        std::vector<Place> places; // code point 0: bytes that are no character
    };
    const std::vector<Case> cases = {
        // CJK, an accented Latin letter, a character outside the BMP; a lone CR ends no line.
        {"a\n\xE2\x82\xAC\xE4\xB8\xAD\r\nb\xC3\xA9\rc\xF0\x9F\x98\x80",
         "a\n\x88?\r\nb?\rc?",
         {{2, 3, 0x4E2D}, {3, 7, 0xE9}, {3, 10, 0x1F600}}},
        // After a mark the text is UTF-8 whatever it holds: stray bytes are recorded too.
        {"\xEF\xBB\xBF" "x\n\xFF\xD0\x81\n\xE4\xB8", "x\n?\xA8\n??", {{2, 2, 0}, {3, 5, 0}, {3, 6, 0}}},
        // UTF-16: a lone surrogate, a pair (U+1F600), and an odd byte at the end.
        {std::string("\xFF\xFE" "A\0\n\0\x00\xD8" "B\0\x3D\xD8\x00\xDE\n\0Z", 17),
         "A\n?B?\n?",
         {{2, 2, 0}, {2, 4, 0x1F600}, {3, 6, 0}}},
        // Places after the Ctrl-Z character that ends a UTF-16 script do not count.
        {Utf16("\xC3\xA9\x1A\xC3\xA9", true), "?", {{1, 0, 0xE9}}},
    };
    for (const auto& [bytes, text, places] : cases) {
        const TScriptText decoded = DecodeScript(bytes);
        EXPECT_EQ(decoded.Text, text) << testing::PrintToString(bytes);
        std::vector<Place> got;
        for (const TUnconvertible& place : decoded.Unconvertible) {
            EXPECT_EQ(place.Malformed, place.CodePoint == 0);
            got.push_back({place.Line, place.Offset, place.CodePoint});
        }
        EXPECT_EQ(got, places) << testing::PrintToString(bytes);
    }
}

TEST(DecodeScriptTest, MessageNamesEachLineOnce) {
    const TScriptText decoded = DecodeScript("\xE4\xB8\xAD\xE4\xB8\xAD\n\n\xC3\xA9");
    EXPECT_EQ(runner::UnconvertibleMessage(decoded.Unconvertible, decoded.Encoding),
              "The statement holds text that the connection character set WIN1251 cannot "
              "represent: line 1 (U+4E2D), line 3 (U+00E9)");
    const TScriptText utf16 = DecodeScript(std::string("\xFE\xFF\xDC\x00", 4));
    EXPECT_EQ(runner::UnconvertibleMessage(utf16.Unconvertible, utf16.Encoding),
              "The statement holds text that the connection character set WIN1251 cannot "
              "represent: line 1 (bytes that are not UTF-16)");
    std::string many;
    for (int i = 0; i < 12; ++i) {
        many += "\xC3\xA9\n";
    }
    const TScriptText manyLines = DecodeScript(many);
    const std::string message =
        runner::UnconvertibleMessage(manyLines.Unconvertible, manyLines.Encoding);
    EXPECT_TRUE(message.ends_with("line 10 (U+00E9), ...")) << message;
}

class ScriptEncodingProcess : public runnertest::RunnerProcessFixture {};

TEST_F(ScriptEncodingProcess, SameCyrillicTextFromEveryEncodingArrivesIdentical) {
    const std::string db = NewDatabase("enc.fdb", 3, "CREATE TABLE T (K VARCHAR(10), V VARCHAR(40));");
    // A variable with a Cyrillic name, referenced in other letter case, is pasted as well.
    const auto utf8 = [](const std::string& key) {
        return "VAR @\xD0\xB5\xD0\xBB\xD1\x8C = '" + kFirUtf8 + "'\n\nINSERT INTO T VALUES ('" +
               key + "', @\xD0\x95\xD0\x9B\xD0\xAC)\n";
    };
    const std::vector<std::pair<std::string, std::string>> scripts = {
        {"utf8", utf8("utf8")},
        {"bom", "\xEF\xBB\xBF" + utf8("bom")},
        {"le", Utf16(utf8("le"), false)},
        {"be", Utf16(utf8("be"), true)},
        {"cp1251", "VAR @\xE5\xEB\xFC = '" + kFir1251 +
                       "'\n\nINSERT INTO T VALUES ('cp1251', @\xC5\xCB\xDC)\n"},
    };
    for (const auto& [key, content] : scripts) {
        testsupport::WriteFile(script, content);
        WriteSettings({db});
        Run();
        EXPECT_EQ(SetupStatus(), "Continue") << key;
        // The log shows the statement as it was sent: in Windows-1251, whatever the script.
        EXPECT_NE(testsupport::ReadFile(log).find("INSERT INTO T VALUES ('" + key +
                                                  "', @\xC5\xCB\xDC)"),
                  std::string::npos)
            << key;
    }
    const std::string expected = kFir1251;
    EXPECT_EQ(runnertest::Rows(db, "SELECT K, V, CHAR_LENGTH(V) FROM T ORDER BY K"),
              (std::vector<std::string>{"be|" + expected + "|11", "bom|" + expected + "|11",
                                        "cp1251|" + expected + "|11", "le|" + expected + "|11",
                                        "utf8|" + expected + "|11"}));
}

TEST_F(ScriptEncodingProcess, UnconvertibleCharacterFailsItsStatementNamingTheLine) {
    const std::string db = NewDatabase("lack.fdb", 3, "CREATE TABLE T (V VARCHAR(40));");
    testsupport::WriteFile(script, "INSERT INTO T VALUES ('" + kFirUtf8 +
                                       "')\n\nINSERT INTO T\n  VALUES ('\xE4\xB8\xAD')\n\n"
                                       "INSERT INTO T VALUES ('end')\n");
    WriteSettings({db});
    Run();
    EXPECT_EQ(SetupStatus(), "Cancel");
    const std::string text = testsupport::ReadFile(log);
    EXPECT_NE(text.find("level 1:   error: there was an error during execution SQL: \r\n"
                        "INSERT INTO T\r\n  VALUES ('?')\r\nerror message: The statement holds "
                        "text that the connection character set WIN1251 cannot represent: "
                        "line 4 (U+4E2D)\r\n"),
              std::string::npos)
        << text;
    // Never sent, so never logged as executed; the statements around it ran.
    EXPECT_EQ(runnertest::Occurrences(text, "execute SQL"), 2u) << text;
    EXPECT_EQ(runnertest::Rows(db, "SELECT V FROM T ORDER BY V"),
              (std::vector<std::string>{"end", kFir1251}));
}

TEST_F(ScriptEncodingProcess, UnconvertibleCharacterInADeclarationEndsTheRun) {
    const std::string db = NewDatabase("lackvar.fdb", 3, "CREATE TABLE T (V VARCHAR(40));");
    testsupport::WriteFile(script, "VAR @v = '\xC3\xA9t\xC3\xA9'\n\nINSERT INTO T VALUES (@v)\n");
    WriteSettings({db});
    Run();
    EXPECT_EQ(SetupStatus(), "Cancel");
    const std::string text = testsupport::ReadFile(log);
    EXPECT_NE(text.find("level 1:   error: there was an error during parsing SQL \r\nerror "
                        "message: The statement holds text that the connection character set "
                        "WIN1251 cannot represent: line 1 (U+00E9):\r\nVAR @v = '?t?'\r\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(runnertest::Rows(db, "SELECT V FROM T").empty());
}

} // namespace

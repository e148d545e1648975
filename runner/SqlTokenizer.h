// The lexical rules of the script's SQL in one place: quoted strings and names with doubled
// quotes inside, Q'<d>...<d>' strings, /* */ and -- comments, parentheses, and the blocks of a
// PSQL body (BEGIN ... END and CASE ... END from the AS of a procedure, trigger, function,
// package or EXECUTE BLOCK). The script reader asks it whether the text collected so far is
// complete at a blank line, the script check reads statements token by token, and the
// variable substitution asks whether an @ stands inside a quoted literal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace runner {

// One lexical unit of SQL text: [Begin, End) in the scanned text.
struct TSqlToken {
    enum TKind : std::uint8_t {
        Word,        // letters, digits, _ and $ (and every byte of 128 or more)
        Number,      // digits with a decimal point and an exponent
        String,      // '...' or Q'<d>...<d>'
        QuotedName,  // "..." (a string in dialect 1, a name in dialect 3)
        Comment,     // /* ... */ or -- to the end of the line
        Symbol,      // any other single character
    };
    TKind Kind = Symbol;
    // False for a string, quoted name or /* comment that the text ends inside of.
    bool Closed = true;
    // True for the tokens between the AS that starts a PSQL body and the END of its main
    // block (the declarations and everything inside the blocks).
    bool InBody = false;
    std::size_t Begin = 0;
    std::size_t End = 0;
};

// What is still open at the end of the scanned text, and where it opened.
struct TSqlOpening {
    enum TWhat : std::uint8_t {
        Nothing,
        String,       // a '...' or Q'...' string
        QuotedName,   // a "..." text
        Comment,      // a /* comment
        Parenthesis,  // a ( without its )
        Block,        // a PSQL body whose main block has not ended (its BEGIN, CASE or AS)
    };
    TWhat What = Nothing;
    std::size_t Offset = 0;  // of the opening quote, comment mark, parenthesis or word
};

// Scans SQL text that grows at its end, each part once: Scan(text) goes on from where the
// previous call stopped, so the reader can ask after every line whether the statement is
// complete without scanning it again. The text must only ever grow at its end, and a word,
// number or symbol at its end counts as ended (the reader's additions begin with a line break).
class TSqlScanner {
public:
    // Scans `text` from the end of the previous call on; `tokens`, when given, receives each
    // token found (a string or comment still open at the end is reported when it closes, or
    // by Finish).
    void Scan(std::string_view text, std::vector<TSqlToken>* tokens = nullptr);

    // Reports the string or comment still open at the end of the scanned text as an unclosed
    // token; call once, after the last Scan.
    void Finish(std::vector<TSqlToken>* tokens);

    // True when the text scanned so far may end here: outside every quoted text and /* */
    // comment, parentheses balanced (a surplus ")" does not count), and outside a PSQL body
    // or after the END of its main block. A statement that needs a body (CREATE PROCEDURE ...
    // without EXTERNAL) is not complete before its body has ended.
    bool Complete() const noexcept;

    // True once a token that is no comment has been scanned.
    bool HasCode() const noexcept { return hasCode_; }

    // True when the text scanned so far ends inside a quoted string or name: the next
    // character belongs to it.
    bool InQuotes() const noexcept {
        return mode_ == Mode::String || mode_ == Mode::AlternateString ||
               mode_ == Mode::QuotedName;
    }

    // The construct that keeps the text from being complete (the outermost one), or Nothing.
    TSqlOpening Opening() const noexcept;

    // Forgets everything: the next Scan starts a new text.
    void Reset() noexcept { *this = TSqlScanner(); }

private:
    enum class Mode : std::uint8_t {
        Code,
        String,
        AlternateString,
        QuotedName,
        BlockComment,
        LineComment,
    };
    // Where the statement stands towards a PSQL body.
    enum class Psql : std::uint8_t {
        Head,          // the first words are still being read
        HeadCreate,    // after CREATE
        HeadCreateOr,  // after CREATE OR
        HeadObject,    // after ALTER, RECREATE or CREATE [OR ALTER]: the kind of object next
        HeadExecute,   // after EXECUTE
        NoBody,        // no PSQL body in this statement
        AwaitAs,       // a routine's header: waiting for the AS of its body
        BodyStart,     // after that AS: a string here is an external body, anything else PSQL
        Body,          // inside the body
    };

    void ScanCode(std::string_view text, std::vector<TSqlToken>* tokens);
    // The state of the PSQL body for a token about to be handled: inside the body.
    bool InBody() const noexcept;
    void Emit(std::vector<TSqlToken>* tokens, TSqlToken::TKind kind, std::size_t begin,
              std::size_t end, bool inBody, bool closed = true) const;
    // A token that is no comment: the head and body rules.
    void Code(TSqlToken::TKind kind);
    void Word(std::string_view word, std::size_t begin);
    void ObjectWord(std::string_view word, bool alterOnly);

    std::size_t position_ = 0;  // next byte to scan
    std::size_t size_ = 0;      // the length of the text of the last Scan
    Mode mode_ = Mode::Code;
    char close_ = '\0';          // the closing character of an alternate string
    std::size_t openBegin_ = 0;  // where the open string or comment began
    Psql psql_ = Psql::Head;
    bool bodyRequired_ = false;  // the routine has a PSQL body unless it says EXTERNAL
    bool hasCode_ = false;
    bool mainBlockEnded_ = false;  // the body's main block has ended
    bool subroutineNext_ = false;  // DECLARE PROCEDURE/FUNCTION seen: its block is no main block
    bool declareSeen_ = false;     // the previous word in the body was DECLARE
    bool outerIsMain_ = false;     // the outermost open block is the body's main block
    bool alterOnly_ = false;       // the head is ALTER (not CREATE OR ALTER)
    std::size_t asOffset_ = 0;     // the AS that started the body (or the head, before it)
    std::vector<std::size_t> parens_;  // offsets of the open parentheses
    std::vector<std::size_t> blocks_;  // offsets of the open BEGIN and CASE of the body
};

// The tokens of a whole text (Scan and Finish of a fresh scanner).
std::vector<TSqlToken> TokenizeSql(std::string_view text);

// True when `text` may end where it ends (TSqlScanner::Complete over the whole text).
bool IsCompleteSql(std::string_view text);

// True for the characters of a word: ASCII letters and digits, "_", "$" and every byte of
// 128 or more.
bool IsSqlWordChar(char c) noexcept;

}  // namespace runner

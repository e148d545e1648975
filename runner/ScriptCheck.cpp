// The desk check of upgrade scripts and settings files.
#include "runner/ScriptCheck.h"

#include "ibclient/DateTime.h"
#include "ibclient/TextFormat.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "runner/GeneralSettings.h"
#include "runner/Runner.h"
#include "runner/ScriptReader.h"
#include "runner/ScriptText.h"
#include "runner/ScriptVariables.h"
#include "runner/Settings.h"
#include "runner/SqlTokenizer.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <unordered_map>

namespace runner {

namespace {

// ---- What the first column of a computed declaration evidently is ----

// Values whose text breaks a statement where it is pasted in the wrong place: dates and
// times in the locale's patterns and decimal numbers with its decimal separator (outside
// quotes they are no literals), and the texts and BLOBs that the runner pastes as literals
// of their own (inside quotes they end the quoted text).
enum class TValueKind { Unknown, Date, Time, Timestamp, Decimal, Text, Binary };

bool PastedAsLiteral(TValueKind kind) noexcept {
    return kind == TValueKind::Text || kind == TValueKind::Binary;
}

// The upper-case words and other tokens of a statement, without comments.
struct TCodeTokens {
    std::string_view text;
    std::vector<TSqlToken> tokens;  // comments left out

    std::string Upper(std::size_t i) const {
        return i < tokens.size() && tokens[i].Kind == TSqlToken::Word
                   ? platform::AsciiUpperCase(
                         text.substr(tokens[i].Begin, tokens[i].End - tokens[i].Begin))
                   : std::string();
    }
    bool IsSymbol(std::size_t i, char c) const {
        return i < tokens.size() && tokens[i].Kind == TSqlToken::Symbol &&
               text[tokens[i].Begin] == c;
    }
    std::string_view Text(std::size_t i) const {
        return text.substr(tokens[i].Begin, tokens[i].End - tokens[i].Begin);
    }
};

TCodeTokens CodeTokens(std::string_view text) {
    TCodeTokens code{text, TokenizeSql(text)};
    std::erase_if(code.tokens, [](const TSqlToken& t) { return t.Kind == TSqlToken::Comment; });
    return code;
}

// The index of the ")" that closes the "(" at token `open`, or tokens.size().
std::size_t ClosingParenthesis(const TCodeTokens& code, std::size_t open) {
    int depth = 0;
    for (std::size_t j = open; j < code.tokens.size(); ++j) {
        if (code.IsSymbol(j, '(')) {
            ++depth;
        } else if (code.IsSymbol(j, ')') && --depth == 0) {
            return j;
        }
    }
    return code.tokens.size();
}

TValueKind KindOfTypeName(const TCodeTokens& code, std::size_t i) {
    const std::string type = code.Upper(i);
    if (type == "DATE") {
        return TValueKind::Date;
    }
    if (type == "TIME") {
        return TValueKind::Time;
    }
    if (type == "TIMESTAMP") {
        return TValueKind::Timestamp;
    }
    if (type == "DOUBLE" || type == "FLOAT" || type == "REAL") {
        return TValueKind::Decimal;
    }
    if (type == "VARCHAR" || type == "CHAR" || type == "CHARACTER") {
        return TValueKind::Text;
    }
    if (type == "BLOB") {
        // BLOB SUB_TYPE TEXT (or 1) is text; any other BLOB is pasted as x'...'.
        if (code.Upper(i + 1) == "SUB_TYPE") {
            const std::string sub = code.Upper(i + 2);
            const bool text =
                sub == "TEXT" || (i + 2 < code.tokens.size() && code.Text(i + 2) == "1");
            return text ? TValueKind::Text : TValueKind::Binary;
        }
        return TValueKind::Binary;
    }
    if ((type == "NUMERIC" || type == "DECIMAL") && code.IsSymbol(i + 1, '(') &&
        code.IsSymbol(i + 3, ',') && i + 4 < code.tokens.size() &&
        code.tokens[i + 4].Kind == TSqlToken::Number) {
        const TSqlToken& scale = code.tokens[i + 4];
        return code.text.substr(scale.Begin, scale.End - scale.Begin) != "0" ? TValueKind::Decimal
                                                                             : TValueKind::Unknown;
    }
    return TValueKind::Unknown;
}

// The kind of the first column of `select` when its expression says it plainly; Unknown for
// anything that needs the database to tell (a column, a function, arithmetic).
TValueKind FirstColumnKind(std::string_view select) {
    const TCodeTokens code = CodeTokens(select);
    std::size_t i = 1;  // after SELECT
    for (;;) {
        const std::string word = code.Upper(i);
        if (word == "FIRST" || word == "SKIP") {
            i += 2;
        } else if (word == "DISTINCT" || word == "ALL") {
            i += 1;
        } else {
            break;
        }
    }
    const std::size_t start = i;
    TValueKind kind = TValueKind::Unknown;
    const std::string first = code.Upper(i);
    if (first == "CURRENT_DATE") {
        kind = TValueKind::Date;
        i += 1;
    } else if (first == "CURRENT_TIME" || first == "LOCALTIME") {
        kind = TValueKind::Time;
        i += 1;
    } else if (first == "CURRENT_TIMESTAMP" || first == "LOCALTIMESTAMP") {
        kind = TValueKind::Timestamp;
        i += 1;
    } else if ((first == "DATE" || first == "TIME" || first == "TIMESTAMP") &&
               i + 1 < code.tokens.size() && code.tokens[i + 1].Kind == TSqlToken::String) {
        kind = KindOfTypeName(code, i);
        i += 2;
    } else if (first == "LIST" && code.IsSymbol(i + 1, '(')) {
        // LIST() gives a BLOB SUB_TYPE TEXT.
        const std::size_t close = ClosingParenthesis(code, i + 1);
        if (close < code.tokens.size()) {
            kind = TValueKind::Text;
            i = close + 1;
        }
    } else if (i < code.tokens.size() && code.tokens[i].Kind == TSqlToken::String) {
        kind = TValueKind::Text;
        i += 1;
    } else if (first == "CAST" && code.IsSymbol(i + 1, '(')) {
        // The type after the last AS inside the CAST's own parentheses.
        int depth = 0;
        std::size_t typeAt = 0;
        std::size_t j = i + 1;
        for (; j < code.tokens.size(); ++j) {
            if (code.IsSymbol(j, '(')) {
                ++depth;
            } else if (code.IsSymbol(j, ')')) {
                if (--depth == 0) {
                    break;
                }
            } else if (depth == 1 && code.Upper(j) == "AS") {
                typeAt = j + 1;
            }
        }
        if (typeAt != 0 && j < code.tokens.size()) {
            kind = KindOfTypeName(code, typeAt);
            i = j + 1;
        }
    } else {
        std::size_t j = i;
        if (code.IsSymbol(j, '-') || code.IsSymbol(j, '+')) {
            ++j;
        }
        if (j < code.tokens.size() && code.tokens[j].Kind == TSqlToken::Number) {
            const TSqlToken& number = code.tokens[j];
            const std::string_view digits = select.substr(number.Begin, number.End - number.Begin);
            if (digits.find_first_of(".eE") != std::string_view::npos) {
                kind = TValueKind::Decimal;
            }
            i = j + 1;
        }
    }
    if (kind == TValueKind::Unknown || i == start) {
        return TValueKind::Unknown;
    }
    // Only an alias may follow the expression before the column ends.
    if (code.Upper(i) == "AS") {
        ++i;
    }
    if (i < code.tokens.size() &&
        ((code.tokens[i].Kind == TSqlToken::Word && code.Upper(i) != "FROM") ||
         code.tokens[i].Kind == TSqlToken::QuotedName)) {
        ++i;
    }
    if (i < code.tokens.size() && !code.IsSymbol(i, ',') && code.Upper(i) != "FROM") {
        return TValueKind::Unknown;
    }
    return kind;
}

// The text the runner writes for a value of `kind` under the current locale, with the value
// used as the example.
std::string LocaleExample(TValueKind kind) {
    using namespace ibclient;
    const TDateTime date = EncodeDate(1999, 12, 31);
    const TDateTime time = EncodeTime(23, 59, 58, 0);
    switch (kind) {
    case TValueKind::Date:
        return "in the locale's short date form, here " + DateToText(date) +
               " for 31 December 1999";
    case TValueKind::Time:
        return "in the locale's long time form, here " + TimeToText(time) + " for 23:59:58";
    case TValueKind::Timestamp:
        return "in the locale's date and time form, here " +
               DateTimeToText(ComposeDateTime(date, time)) + " for 31 December 1999 23:59:58";
    case TValueKind::Decimal:
        return "with the locale's decimal separator, here " + FloatToText(1234.5) + " for 1234.5";
    case TValueKind::Unknown:
    case TValueKind::Text:
    case TValueKind::Binary:
        break;
    }
    return {};
}

const char* KindName(TValueKind kind) {
    switch (kind) {
    case TValueKind::Date:
        return "a date";
    case TValueKind::Time:
        return "a time of day";
    case TValueKind::Timestamp:
        return "a timestamp";
    case TValueKind::Decimal:
        return "a decimal number";
    case TValueKind::Text:
        return "a text";
    case TValueKind::Binary:
        return "a BLOB";
    case TValueKind::Unknown:
        break;
    }
    return "a value";
}

// ---- The statements that are not for the server ----

// isql's own commands: the words that begin them. SET commands are matched with the word
// after SET.
constexpr std::array<std::string_view, 10> kIsqlCommands = {
    "CONNECT", "INPUT", "OUTPUT", "SHOW", "QUIT", "EXIT", "EDIT", "HELP", "SHELL", "BLOBDUMP"};
constexpr std::array<std::string_view, 15> kIsqlSetCommands = {
    "TERM",    "NAMES",    "AUTODDL",  "BAIL",        "ECHO",  "LIST",     "STATS",     "COUNT",
    "HEADING", "PLANONLY", "WARNINGS", "BLOBDISPLAY", "WIDTH", "ROWCOUNT", "AUTOCOMMIT"};

template <std::size_t N>
bool OneOf(const std::string& word, const std::array<std::string_view, N>& words) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

// ---- The check of one script ----

struct TVariableInfo {
    std::string FirstSpelling;  // as first declared
    std::string Spelling;       // as last declared
    std::size_t FirstLine = 0;
    TValueKind Kind = TValueKind::Unknown;
    bool Used = false;
};

std::string FoldedName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        c = static_cast<char>(FoldNameChar(static_cast<unsigned char>(c)));
    }
    return folded;
}

// A statement's text with the positions of its line breaks, for the line of an offset.
class TStatementLines {
public:
    TStatementLines(std::string_view text, std::size_t firstLine) : firstLine_(firstLine) {
        for (std::size_t i = text.find('\n'); i != std::string_view::npos;
             i = text.find('\n', i + 1)) {
            breaks_.push_back(i);
        }
    }
    std::size_t LineOf(std::size_t offset) const {
        return firstLine_ +
               static_cast<std::size_t>(std::upper_bound(breaks_.begin(), breaks_.end(), offset) -
                                        breaks_.begin());
    }
    std::size_t First() const { return firstLine_; }

private:
    std::size_t firstLine_;
    std::vector<std::size_t> breaks_;
};

// The words that can begin an SQL statement (Firebird's DSQL up to version 5); any other
// first word marks a fragment.
constexpr std::array<std::string_view, 21> kStatementWords = {
    "ALTER",  "CALL",     "COMMENT",   "COMMIT", "CREATE", "DECLARE",  "DELETE",
    "DROP",   "EXECUTE",  "GRANT",     "INSERT", "MERGE",  "RECREATE", "RELEASE",
    "REVOKE", "ROLLBACK", "SAVEPOINT", "SELECT", "SET",    "UPDATE",   "WITH"};

// What an unclosed construct is called in a finding.
std::string OpeningName(TSqlOpening::TWhat what) {
    switch (what) {
    case TSqlOpening::String:
        return "the string that begins here";
    case TSqlOpening::QuotedName:
        return "the \"...\" text that begins here";
    case TSqlOpening::Comment:
        return "the /* comment that begins here";
    case TSqlOpening::Parenthesis:
        return "the '(' here";
    case TSqlOpening::Block:
        return "the PSQL body that begins here";
    case TSqlOpening::Nothing:
        break;
    }
    return {};
}

class TScriptChecker {
public:
    void Statement(const std::string& statement, const TStatementShape& shape);
    TScriptReport Finish();
    void Add(std::size_t line, TSeverity severity, std::string text) {
        report_.Findings.push_back(TFinding{line, severity, std::move(text)});
    }

private:
    void CheckNul(std::string_view text, const TStatementLines& lines);
    void CheckDeclaration(const std::string& statement, std::string_view trimmed,
                          const TStatementLines& lines);
    void CheckSql(const std::string& statement, std::string_view trimmed,
                  const TStatementLines& lines);
    // A first word that cannot begin a statement; true when it found one.
    bool CheckFragment(const TCodeTokens& code, const TStatementLines& lines);
    // A ";" that ends a line with more SQL after it, outside a PSQL body.
    void CheckTwoStatements(const std::string& statement, const TCodeTokens& code,
                            const TStatementLines& lines);
    // The @name references of `text` (which starts at `offset` in the statement), checked
    // against the variables declared so far.
    void CheckReferences(std::string_view text, std::size_t offset, const TStatementLines& lines);
    // A declared variable of a known kind used where its text breaks the statement.
    void CheckPlacement(const TVariableInfo& info, std::string_view reference, bool quoted,
                        std::size_t line);

    // An undeclared reference inside quotes: the runner keeps it as written, which is what was
    // meant unless the variable is declared later (then the reference comes too early).
    struct TQuotedReference {
        std::string Folded;
        std::string Spelling;
        std::size_t Line = 0;
    };

    TScriptReport report_;
    std::unordered_map<std::string, TVariableInfo> variables_;  // by folded name
    std::vector<std::string> declarationOrder_;                 // folded names
    std::vector<TQuotedReference> quotedReferences_;
    std::size_t previousEnd_ = 0;  // the last line of the previous statement, 0 for none
};

void TScriptChecker::Statement(const std::string& statement, const TStatementShape& shape) {
    const std::string_view trimmed = platform::Trim(statement);
    if (trimmed.empty() || shape.CommentOnly) {
        return;  // the runner does nothing with it
    }
    ++report_.Statements;
    const TStatementLines lines(statement, shape.FirstLine);
    if (shape.Open.What != TSqlOpening::Nothing) {
        Add(lines.LineOf(shape.Open.Offset), TSeverity::Error,
            OpeningName(shape.Open.What) +
                " is never closed: the runner reads everything from here to the end of the "
                "script as one statement, which the server rejects");
    }
    CheckNul(statement, lines);
    if (IsDeclaration(trimmed)) {
        CheckDeclaration(statement, trimmed, lines);
    } else {
        CheckSql(statement, trimmed, lines);
    }
    previousEnd_ = lines.LineOf(statement.size());
}

void TScriptChecker::CheckNul(std::string_view text, const TStatementLines& lines) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        Add(lines.LineOf(nul), TSeverity::Error,
            "a NUL byte (code 0) in the statement: the text cannot reach the server as written "
            "(a damaged or partly written file?)");
    }
}

void TScriptChecker::CheckDeclaration(const std::string& statement, std::string_view trimmed,
                                      const TStatementLines& lines) {
    TDeclarationFault fault{};
    const std::optional<TDeclaration> declaration = TryParseDeclaration(trimmed, &fault);
    if (!declaration) {
        const char* why = "";
        switch (fault) {
        case TDeclarationFault::NoName:
            why = "no @name after VAR";
            break;
        case TDeclarationFault::NoEquals:
            why = "no '=' after the name";
            break;
        case TDeclarationFault::ShortName:
            why = "the name is '@' alone";
            break;
        case TDeclarationFault::NoValue:
            why = "nothing after '='";
            break;
        }
        Add(lines.First(), TSeverity::Error,
            std::string("malformed VAR declaration (") + why +
                "): the runner rejects it with \"Declare variable statement is incorrect SQL\"");
        Add(lines.First(), TSeverity::Error,
            "the runner stops the script here: no statement after this one runs for that database");
        return;
    }
    const std::string_view name = declaration->Name;
    const std::string_view value = declaration->ValueText;
    if (!declaration->Computed && platform::StartsWithAsciiUpper(value, "SELECT") &&
        (value.size() == 6 || static_cast<unsigned char>(value[6]) <= 32)) {
        Add(lines.First(), TSeverity::Warning,
            std::string(name) + " = SELECT is followed by a line break or a tab, not a blank: "
                                "the runner does not run the query but stores the text itself "
                                "as the value");
    }
    if (declaration->Computed) {
        // The query sees the variables declared before this one.
        CheckReferences(value, static_cast<std::size_t>(value.data() - statement.data()), lines);
    }

    const std::string folded = FoldedName(name);
    const TValueKind kind = declaration->Computed ? FirstColumnKind(value) : TValueKind::Unknown;
    const auto found = variables_.find(folded);
    if (found == variables_.end()) {
        variables_.emplace(folded, TVariableInfo{std::string(name), std::string(name),
                                                 lines.First(), kind, false});
        declarationOrder_.push_back(folded);
        return;
    }
    TVariableInfo& info = found->second;
    if (info.Spelling != name) {
        Add(lines.First(), TSeverity::Warning,
            std::string(name) + " redeclares " + info.Spelling +
                " with a different letter case: names ignore case, so this replaces the value "
                "of " +
                info.Spelling);
    }
    info.Spelling = name;
    info.Kind = kind;
}

void TScriptChecker::CheckSql(const std::string& statement, std::string_view trimmed,
                              const TStatementLines& lines) {
    // "VAR" with a tab or a line break after it is no declaration.
    if (platform::StartsWithAsciiUpper(trimmed, "VAR") && trimmed.size() > 3 &&
        static_cast<unsigned char>(trimmed[3]) <= 32) {
        Add(lines.First(), TSeverity::Warning,
            "VAR is followed by a tab or a line break, not a blank: this is no declaration, the "
            "runner sends the statement to the server as SQL");
        return;
    }

    const TCodeTokens code = CodeTokens(statement);
    const std::string w0 = code.Upper(0);
    const std::string w1 = code.Upper(1);
    const std::string w2 = code.Upper(2);
    if (w0 == "COMMIT" || w0 == "ROLLBACK" || (w0 == "SET" && w1 == "TRANSACTION")) {
        const std::string what = w0 == "SET" ? "SET TRANSACTION" : w0;
        Add(lines.First(), TSeverity::Error,
            what + " ends the runner's own transaction: the runner runs and commits every "
                   "statement in a transaction of its own; remove it");
    } else if (OneOf(w0, kIsqlCommands) || (w0 == "CREATE" && w1 == "DATABASE") ||
               (w0 == "SET" && (OneOf(w1, kIsqlSetCommands) || (w1 == "SQL" && w2 == "DIALECT")))) {
        std::string what = w0;
        if (w0 == "SET" || w0 == "CREATE") {
            what += " " + w1 + (w1 == "SQL" ? " " + w2 : "");
        }
        std::string hint;
        if (w1 == "TERM") {
            hint = "; statements are separated by blank lines and need no terminator";
        } else if (w0 == "CONNECT" || w0 == "CREATE") {
            hint = "; the runner connects to the databases of its settings file itself";
        }
        Add(lines.First(), TSeverity::Error,
            what + " is an isql command, not SQL: the server rejects it" + hint);
    } else if (!CheckFragment(code, lines)) {
        CheckTwoStatements(statement, code, lines);
    }
    CheckReferences(statement, 0, lines);
}

bool TScriptChecker::CheckFragment(const TCodeTokens& code, const TStatementLines& lines) {
    if (code.tokens.empty()) {
        return false;
    }
    const TSqlToken& first = code.tokens.front();
    // A parenthesised query may begin a statement.
    if ((first.Kind == TSqlToken::Word && OneOf(code.Upper(0), kStatementWords)) ||
        code.IsSymbol(0, '(')) {
        return false;
    }
    std::string message = "'" + std::string(code.Text(0)) +
                          "' cannot begin an SQL statement: the text from here to the next "
                          "blank line is a fragment, which the server rejects";
    if (previousEnd_ != 0) {
        message += "; if it belongs to the statement above, the blank line on line " +
                   std::to_string(lines.First() - 1) +
                   " has cut that statement short, and its first part runs without it";
    }
    Add(lines.LineOf(first.Begin), TSeverity::Error, std::move(message));
    return true;
}

void TScriptChecker::CheckTwoStatements(const std::string& statement, const TCodeTokens& code,
                                        const TStatementLines& lines) {
    for (std::size_t i = 0; i + 1 < code.tokens.size(); ++i) {
        // Inside a PSQL body, semicolons end the body's own statements.
        if (!code.IsSymbol(i, ';') || code.tokens[i].InBody) {
            continue;
        }
        const TSqlToken& next = code.tokens[i + 1];
        const std::string_view between =
            std::string_view(statement).substr(code.tokens[i].End, next.Begin - code.tokens[i].End);
        if (between.find('\n') == std::string_view::npos) {
            continue;
        }
        Add(lines.LineOf(next.Begin), TSeverity::Error,
            "two statements in one block: the ';' on line " +
                std::to_string(lines.LineOf(code.tokens[i].Begin)) +
                " ends a statement and more SQL follows; the server receives both as one text "
                "and rejects it; separate them with a blank line");
        return;
    }
}

void TScriptChecker::CheckPlacement(const TVariableInfo& info, std::string_view reference,
                                    bool quoted, std::size_t line) {
    const std::string name(reference);
    if (PastedAsLiteral(info.Kind)) {
        if (quoted) {
            Add(line, TSeverity::Error,
                name + (info.Kind == TValueKind::Text ? " holds a text" : " holds a BLOB") +
                    ", which the runner pastes as a literal of its own (" +
                    (info.Kind == TValueKind::Text ? "'...'" : "x'...'") +
                    "), and stands inside quotes: the quotes end each other and the statement "
                    "breaks; write " +
                    name + " without quotes around it");
        }
        return;
    }
    if (info.Kind == TValueKind::Unknown) {
        return;
    }
    if (quoted) {
        Add(line, TSeverity::Warning,
            name + " holds " + KindName(info.Kind) +
                " and stands inside quotes: the runner writes it " + LocaleExample(info.Kind) +
                ", which depends on the locale of the setup; CAST it AS VARCHAR in its SELECT "
                "for a fixed form");
        return;
    }
    if (info.Kind == TValueKind::Decimal) {
        // With a decimal point the number is a number; with a decimal comma it is two.
        const bool comma = LocaleExample(TValueKind::Decimal).find("1234,5") != std::string::npos;
        Add(line, comma ? TSeverity::Error : TSeverity::Warning,
            name + " holds a decimal number and stands outside quotes: the runner writes it " +
                LocaleExample(info.Kind) +
                (comma ? ", which the server reads as two values"
                       : "; under a locale with a decimal comma the server reads it as two "
                         "values") +
                "; CAST it AS VARCHAR in its SELECT for a fixed form");
        return;
    }
    Add(line, TSeverity::Error,
        name + " holds " + KindName(info.Kind) +
            " and stands outside quotes: the runner writes it " + LocaleExample(info.Kind) +
            ", which the server does not read as that value (a date pasted bare becomes "
            "arithmetic or a syntax error); CAST it AS VARCHAR in its SELECT and use the quoted "
            "literal that gives");
}

void TScriptChecker::CheckReferences(std::string_view text, std::size_t offset,
                                     const TStatementLines& lines) {
    if (text.find('@') == std::string_view::npos) {
        return;
    }
    const std::vector<TSqlToken> tokens = TokenizeSql(text);
    const auto contextOf = [&tokens](std::size_t at) -> TSqlToken::TKind {
        const auto after = std::upper_bound(
            tokens.begin(), tokens.end(), at,
            [](std::size_t position, const TSqlToken& token) { return position < token.Begin; });
        if (after == tokens.begin()) {
            return TSqlToken::Symbol;
        }
        const TSqlToken& token = *(after - 1);
        return at < token.End ? token.Kind : TSqlToken::Symbol;
    };
    for (std::size_t at = text.find('@'); at != std::string_view::npos; at = text.find('@', at)) {
        const std::size_t end = ReferenceEnd(text, at);
        const std::string_view reference = text.substr(at, end - at);
        const std::size_t line = lines.LineOf(offset + at);
        const TSqlToken::TKind context = contextOf(at);
        const bool quoted = context == TSqlToken::String || context == TSqlToken::QuotedName;
        const std::string folded = FoldedName(reference);
        const auto found = variables_.find(folded);
        if (found != variables_.end()) {
            TVariableInfo& info = found->second;
            info.Used = true;
            if (context != TSqlToken::Comment) {
                CheckPlacement(info, reference, quoted, line);
            }
        } else if (quoted) {
            quotedReferences_.push_back(TQuotedReference{folded, std::string(reference), line});
        } else {
            std::string message = std::string(reference) +
                                  " is not a variable declared at this point: "
                                  "the runner removes it from the text";
            if (context == TSqlToken::Comment) {
                message += ", also inside this comment";
            }
            // A name ends only at a blank and a few other characters: "@id;" is not "@id".
            std::size_t stem = 1;
            while (stem < reference.size() && IsSqlWordChar(reference[stem]) &&
                   static_cast<unsigned char>(reference[stem]) < 128) {
                ++stem;
            }
            if (stem > 1 && stem < reference.size()) {
                const auto declared = variables_.find(FoldedName(reference.substr(0, stem)));
                if (declared != variables_.end()) {
                    message += "; " + declared->second.Spelling + " is declared, but the '" +
                               std::string(1, reference[stem]) +
                               "' after it belongs to the name: put a blank between them";
                }
            }
            Add(line, TSeverity::Warning, std::move(message));
        }
        at = end;
    }
}

TScriptReport TScriptChecker::Finish() {
    for (const TQuotedReference& reference : quotedReferences_) {
        const auto later = variables_.find(reference.Folded);
        if (later != variables_.end() && later->second.FirstLine > reference.Line) {
            Add(reference.Line, TSeverity::Warning,
                reference.Spelling + " inside quotes is declared only later, on line " +
                    std::to_string(later->second.FirstLine) +
                    ": here the runner keeps it as written");
        }
    }
    for (const std::string& folded : declarationOrder_) {
        const TVariableInfo& info = variables_.at(folded);
        if (!info.Used) {
            Add(info.FirstLine, TSeverity::Warning,
                info.FirstSpelling + " is declared and never used");
        }
    }
    std::stable_sort(report_.Findings.begin(), report_.Findings.end(),
                     [](const TFinding& a, const TFinding& b) { return a.Line < b.Line; });
    return std::move(report_);
}

// ---- Ctrl-Z ----

// A Ctrl-Z character before the end of a script file: its line and what the runner never reads
// after it.
struct TCtrlZ {
    std::size_t Line = 0;        // the line it stands on, counting from 1
    std::size_t LinesAfter = 0;  // the lines after that one
    bool TextAfter = false;      // anything but blanks and line breaks follows it
};

// Finds the first Ctrl-Z of the file as the reader sees it: a byte of code 26, or in a UTF-16
// file (with its byte-order mark) the character. nullopt when there is none or the file
// cannot be read.
std::optional<TCtrlZ> FindCtrlZ(const std::string& path) {
    const std::optional<std::string> content = platform::ReadRegularFile(path);
    if (!content) {
        return std::nullopt;
    }
    const std::string& bytes = *content;
    const bool littleEndian = bytes.starts_with("\xFF\xFE");
    const bool utf16 = littleEndian || bytes.starts_with("\xFE\xFF");
    // Code units of one or two bytes; a line ends at each LF, as the reader counts.
    const std::size_t unit = utf16 ? 2 : 1;
    const auto codeAt = [&](std::size_t i) -> unsigned {
        if (!utf16) {
            return static_cast<unsigned char>(bytes[i]);
        }
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return littleEndian ? a | (b << 8) : (a << 8) | b;
    };
    TCtrlZ found;
    found.Line = 1;
    std::size_t i = utf16 ? 2 : 0;
    for (; i + unit <= bytes.size(); i += unit) {
        const unsigned c = codeAt(i);
        if (c == 26) {
            break;
        }
        found.Line += c == '\n' ? 1 : 0;
    }
    if (i + unit > bytes.size()) {
        return std::nullopt;
    }
    // The rest of the Ctrl-Z's line, then every line that has a character.
    bool lineEnded = false;
    bool atLineStart = false;
    for (i += unit; i + unit <= bytes.size(); i += unit) {
        const unsigned c = codeAt(i);
        found.TextAfter = found.TextAfter || c > 32;
        if (!lineEnded) {
            lineEnded = c == '\n';
            atLineStart = lineEnded;
            continue;
        }
        if (atLineStart) {
            ++found.LinesAfter;
        }
        atLineStart = c == '\n';
    }
    return found;
}

// ---- Settings ----

// A database name that the client resolves against the current folder: no server part
// ("host:" or a "://" form, or a drive letter) and no leading path separator.
bool IsRelativeDatabasePath(std::string_view name) {
    return !name.empty() && !platform::IsPathSeparator(name.front()) &&
           name.find(':') == std::string_view::npos;
}

}  // namespace

TScriptReport CheckScript(const std::string& path) {
    TScriptFile file(path);
    TScriptChecker checker;
    const ScriptEncoding encoding = file.Script().Encoding;
    if (encoding != ScriptEncoding::Unchanged) {
        checker.Add(1, TSeverity::Warning,
                    std::string("the script is read as ") + EncodingName(encoding) +
                        " and converted to Windows-1251, the connection character set");
    }
    ReadStatements(file, [&](const std::string& statement, const TStatementShape& shape,
                             const std::vector<TUnconvertible>& unconvertible) {
        if (!unconvertible.empty()) {
            // The runner's own message, and what it does with such a statement.
            checker.Add(unconvertible.front().Line, TSeverity::Error,
                        UnconvertibleMessage(unconvertible, encoding) +
                            (IsDeclaration(platform::Trim(statement))
                                 ? "; the runner stops the script here: no statement after "
                                   "this one runs for that database"
                                 : "; the runner does not run the statement"));
        }
        checker.Statement(statement, shape);
    });
    file.Close();
    if (const std::optional<TCtrlZ> ctrlZ = FindCtrlZ(path); ctrlZ && ctrlZ->TextAfter) {
        checker.Add(
            ctrlZ->Line, TSeverity::Error,
            "a Ctrl-Z (code 26) ends the script here for the runner: " +
                (ctrlZ->LinesAfter > 0
                     ? "the " + std::to_string(ctrlZ->LinesAfter) +
                           (ctrlZ->LinesAfter == 1 ? " line after it is" : " lines after it are") +
                           " never read"
                     : std::string("the text after it on this line is never read")));
    }
    return checker.Finish();
}

std::optional<std::vector<TFinding>> CheckSettings(const std::string& path) {
    const std::optional<TSettingsFile> file = TSettingsFile::LoadExisting(path);
    if (!file) {
        return std::nullopt;
    }
    std::vector<TFinding> findings;
    const std::vector<TSettingsLine> general = file->SectionLines("General");
    for (const TSettingsLine& line : general) {
        const TSettingKey* key = FindGeneralSettingKey(line.Name);
        if (key == nullptr) {
            const std::optional<std::string_view> closest = ClosestGeneralSettingKey(line.Name);
            findings.push_back(TFinding{
                line.Number, TSeverity::Warning,
                "[General] has no key " + line.Name + ": the runner ignores it" +
                    (closest ? "; did you mean " + std::string(*closest) + "?" : std::string())});
            continue;
        }
        // The first line of a key is the one the runner reads.
        const auto first =
            std::find_if(general.begin(), general.end(), [&](const TSettingsLine& l) {
                return platform::SameTextAscii(l.Name, line.Name);
            });
        // The runner reads a value of [General] cut to the value limit.
        TGeneralSettings probe;
        const std::string value = line.Value.substr(0, kMaxSettingsValueLength);
        if (first->Number == line.Number && !key->Read(value, probe)) {
            // A value that the reader did not store is read as the default; one that it kept
            // (the history table's name) is refused by the run instead.
            findings.push_back(TFinding{
                line.Number, TSeverity::Warning,
                std::string(key->Name) + " " +
                    (value.empty() ? "is empty" : "'" + value + "' " + std::string(key->Invalid)) +
                    (probe == TGeneralSettings()
                         ? ": the runner reads it as its default (" + std::string(key->Default) +
                               ")"
                         : std::string(": the runner fails every database with it"))});
        }
        if (first->Number == line.Number && platform::SameTextAscii(line.Name, "Password") &&
            !line.Value.empty() && platform::ReadableByOthers(path)) {
            findings.push_back(TFinding{line.Number, TSeverity::Warning,
                                        "the settings file holds a Password and other users may "
                                        "read it: let only its owner read it (chmod go-rwx)"});
        }
    }
    const std::size_t header = file->SectionHeaderLine("Database");
    const std::vector<TSettingsLine> databases = file->SectionLines("Database");
    if (header == 0) {
        findings.push_back(TFinding{1, TSeverity::Error,
                                    "no [Database] section: the runner upgrades no database and "
                                    "records SetupStatus=Cancel"});
    } else if (databases.empty()) {
        findings.push_back(TFinding{header, TSeverity::Error,
                                    "the [Database] section is empty: the runner upgrades no "
                                    "database and records SetupStatus=Cancel"});
    }
    for (const TSettingsLine& line : databases) {
        const auto failed = [&](const std::string& what) {
            findings.push_back(TFinding{line.Number, TSeverity::Error,
                                        "database " + line.Name + " " + what +
                                            ": the runner counts it as a failed database and "
                                            "records SetupStatus=Cancel"});
        };
        if (platform::Trim(line.Value).empty()) {
            failed("has an empty value");
        } else if (line.Value.find('\0') != std::string::npos) {
            failed("holds a NUL byte");
        } else if (line.Value.size() > kMaxSettingsValueLength) {
            failed("is longer than " + std::to_string(kMaxSettingsValueLength) + " characters");
        } else if (IsRelativeDatabasePath(line.Value)) {
            findings.push_back(
                TFinding{line.Number, TSeverity::Warning,
                         "database " + line.Name + " is the relative path '" + line.Value +
                             "': it is resolved against the current folder of the setup, not the "
                             "settings file's folder (unless it is an alias the server knows)"});
        }
    }
    std::stable_sort(findings.begin(), findings.end(),
                     [](const TFinding& a, const TFinding& b) { return a.Line < b.Line; });
    return findings;
}

std::string FormatFinding(std::string_view file, const TFinding& finding) {
    return std::string(file) + ":" + std::to_string(finding.Line) + ": " +
           (finding.Severity == TSeverity::Error ? "error: " : "warning: ") + finding.Text;
}

std::string FormatSummary(std::size_t statements, std::size_t errors, std::size_t warnings) {
    return std::to_string(statements) + " statements, " + std::to_string(errors) + " errors, " +
           std::to_string(warnings) + " warnings";
}

}  // namespace runner

// The desk check of upgrade scripts and settings files.
#include "runner/ScriptCheck.h"

#include "ibclient/DateTime.h"
#include "ibclient/TextFormat.h"
#include "runner/GeneralSettings.h"
#include "runner/Runner.h"
#include "runner/ScriptReader.h"
#include "runner/ScriptText.h"
#include "runner/ScriptVariables.h"
#include "runner/Settings.h"
#include "runner/Text.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <unordered_map>

namespace runner {

namespace {

// True when users other than the file's owner may read it (its group or everyone; a POSIX ACL
// that lets another user read it shows in the group bits as well).
bool ReadableByOthers(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

// ---- A small SQL tokenizer: enough to tell code from strings and comments ----

struct TSqlToken {
    enum Kind { Word, Number, String, QuotedName, Comment, Symbol } kind = Symbol;
    std::size_t begin = 0;
    std::size_t end = 0;
};

bool IsAsciiDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

bool IsWordChar(char c) noexcept {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || IsAsciiDigit(c) || c == '_' ||
           c == '$' || u >= 128;
}

// The end of a quoted text that starts at `begin` with `quote`; a doubled quote stands for
// one. An unterminated text runs to the end.
std::size_t QuotedEnd(std::string_view text, std::size_t begin, char quote) noexcept {
    std::size_t i = begin + 1;
    while (i < text.size()) {
        if (text[i] == quote) {
            if (i + 1 < text.size() && text[i + 1] == quote) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return text.size();
}

// The end of a q'<d>...<d>' string that starts at `begin` (the q); brackets close with their
// partner.
std::size_t AlternateQuotedEnd(std::string_view text, std::size_t begin) noexcept {
    const char open = text[begin + 2];
    const char close = open == '('   ? ')'
                       : open == '[' ? ']'
                       : open == '{' ? '}'
                       : open == '<' ? '>'
                                     : open;
    for (std::size_t i = begin + 3; i + 1 < text.size(); ++i) {
        if (text[i] == close && text[i + 1] == '\'') {
            return i + 2;
        }
    }
    return text.size();
}

std::vector<TSqlToken> Tokenize(std::string_view text) {
    std::vector<TSqlToken> tokens;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        const char next = i + 1 < n ? text[i + 1] : '\0';
        TSqlToken token;
        token.begin = i;
        if (static_cast<unsigned char>(c) <= 32) {
            ++i;
            continue;
        }
        if (c == '-' && next == '-') {
            const std::size_t eol = text.find_first_of("\r\n", i);
            token.kind = TSqlToken::Comment;
            token.end = eol == std::string_view::npos ? n : eol;
        } else if (c == '/' && next == '*') {
            const std::size_t close = text.find("*/", i + 2);
            token.kind = TSqlToken::Comment;
            token.end = close == std::string_view::npos ? n : close + 2;
        } else if (c == '\'') {
            token.kind = TSqlToken::String;
            token.end = QuotedEnd(text, i, '\'');
        } else if (c == '"') {
            token.kind = TSqlToken::QuotedName;
            token.end = QuotedEnd(text, i, '"');
        } else if ((c == 'q' || c == 'Q') && next == '\'' && i + 2 < n) {
            token.kind = TSqlToken::String;
            token.end = AlternateQuotedEnd(text, i);
        } else if (IsAsciiDigit(c) || (c == '.' && IsAsciiDigit(next))) {
            // Digits, a decimal point and an exponent: one number.
            std::size_t j = i;
            while (j < n && (IsAsciiDigit(text[j]) || text[j] == '.')) {
                ++j;
            }
            if (j < n && (text[j] == 'e' || text[j] == 'E')) {
                std::size_t k = j + 1;
                if (k < n && (text[k] == '+' || text[k] == '-')) {
                    ++k;
                }
                if (k < n && IsAsciiDigit(text[k])) {
                    j = k;
                    while (j < n && IsAsciiDigit(text[j])) {
                        ++j;
                    }
                }
            }
            token.kind = TSqlToken::Number;
            token.end = j;
        } else if (IsWordChar(c)) {
            std::size_t j = i;
            while (j < n && IsWordChar(text[j])) {
                ++j;
            }
            token.kind = TSqlToken::Word;
            token.end = j;
        } else {
            token.kind = TSqlToken::Symbol;
            token.end = i + 1;
        }
        tokens.push_back(token);
        i = token.end;
    }
    return tokens;
}

// ---- What the first column of a computed declaration evidently is ----

// Values whose text follows the locale: dates and times in its patterns, decimal numbers
// with its decimal separator.
enum class TValueKind { Unknown, Date, Time, Timestamp, Decimal };

// The upper-case words and other tokens of a SELECT's first column, without comments.
struct TCodeTokens {
    std::string_view text;
    std::vector<TSqlToken> tokens;  // comments left out

    std::string Upper(std::size_t i) const {
        return i < tokens.size() && tokens[i].kind == TSqlToken::Word
                   ? AsciiUpperCase(text.substr(tokens[i].begin, tokens[i].end - tokens[i].begin))
                   : std::string();
    }
    bool IsSymbol(std::size_t i, char c) const {
        return i < tokens.size() && tokens[i].kind == TSqlToken::Symbol &&
               text[tokens[i].begin] == c;
    }
};

TCodeTokens CodeTokens(std::string_view text) {
    TCodeTokens code{text, Tokenize(text)};
    std::erase_if(code.tokens, [](const TSqlToken& t) { return t.kind == TSqlToken::Comment; });
    return code;
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
    if ((type == "NUMERIC" || type == "DECIMAL") && code.IsSymbol(i + 1, '(') &&
        code.IsSymbol(i + 3, ',') && i + 4 < code.tokens.size() &&
        code.tokens[i + 4].kind == TSqlToken::Number) {
        const TSqlToken& scale = code.tokens[i + 4];
        return code.text.substr(scale.begin, scale.end - scale.begin) != "0" ? TValueKind::Decimal
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
               i + 1 < code.tokens.size() && code.tokens[i + 1].kind == TSqlToken::String) {
        kind = KindOfTypeName(code, i);
        i += 2;
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
        if (j < code.tokens.size() && code.tokens[j].kind == TSqlToken::Number) {
            const TSqlToken& number = code.tokens[j];
            const std::string_view digits = select.substr(number.begin, number.end - number.begin);
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
        ((code.tokens[i].kind == TSqlToken::Word && code.Upper(i) != "FROM") ||
         code.tokens[i].kind == TSqlToken::QuotedName)) {
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

class TScriptChecker {
public:
    void Statement(const std::string& statement, std::size_t firstLine);
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
    // The @name references of `text` (which starts at `offset` in the statement), checked
    // against the variables declared so far.
    void CheckReferences(std::string_view text, std::size_t offset, const TStatementLines& lines);

    TScriptReport report_;
    std::unordered_map<std::string, TVariableInfo> variables_;  // by folded name
    std::vector<std::string> declarationOrder_;                 // folded names
};

void TScriptChecker::Statement(const std::string& statement, std::size_t firstLine) {
    const std::string_view trimmed = Trim(statement);
    if (trimmed.empty()) {
        return;  // nothing happens for it
    }
    ++report_.Statements;
    const TStatementLines lines(statement, firstLine);
    CheckNul(statement, lines);
    if (IsDeclaration(trimmed)) {
        CheckDeclaration(statement, trimmed, lines);
    } else {
        CheckSql(statement, trimmed, lines);
    }
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
    if (!declaration->Computed && StartsWithAsciiUpper(value, "SELECT") &&
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
    if (StartsWithAsciiUpper(trimmed, "VAR") && trimmed.size() > 3 &&
        static_cast<unsigned char>(trimmed[3]) <= 32) {
        Add(lines.First(), TSeverity::Warning,
            "VAR is followed by a tab or a line break, not a blank: this is no declaration, the "
            "runner sends the statement to the server as SQL");
        return;
    }

    const TCodeTokens code = CodeTokens(statement);
    if (code.tokens.empty()) {
        Add(lines.First(), TSeverity::Error,
            "the statement is only a comment: the server rejects it as an empty statement; put "
            "the comment into the statement below it, without a blank line between them");
        return;
    }
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
    } else {
        // A ";" that ends a line with more SQL after it, outside a PSQL body.
        std::size_t w = 0;
        const std::string first = code.Upper(w);
        bool psql = first == "EXECUTE" && code.Upper(1) == "BLOCK";
        if (first == "CREATE" || first == "RECREATE" || first == "ALTER") {
            w = code.Upper(1) == "OR" && code.Upper(2) == "ALTER" ? 3 : 1;
            const std::string object = code.Upper(w);
            psql = object == "TRIGGER" || object == "PROCEDURE" || object == "FUNCTION" ||
                   object == "PACKAGE";
        }
        int parens = 0;
        int blocks = 0;
        bool inBody = false;       // after the AS that starts the body
        bool blockClosed = false;  // a block of the body has ended
        for (std::size_t i = 0; i < code.tokens.size(); ++i) {
            const std::string word = psql ? code.Upper(i) : std::string();
            if (code.IsSymbol(i, '(')) {
                ++parens;
            } else if (code.IsSymbol(i, ')')) {
                parens = std::max(0, parens - 1);
            } else if (word == "AS" && parens == 0) {
                inBody = true;
            } else if (inBody && (word == "BEGIN" || word == "CASE")) {
                ++blocks;
            } else if (inBody && word == "END" && blocks > 0) {
                blockClosed = --blocks == 0;
            }
            if (!code.IsSymbol(i, ';') || i + 1 == code.tokens.size()) {
                continue;
            }
            if (psql && inBody && (blocks > 0 || !blockClosed)) {
                continue;  // inside the body, or among its declarations
            }
            const TSqlToken& next = code.tokens[i + 1];
            const std::string_view between = std::string_view(statement).substr(
                code.tokens[i].end, next.begin - code.tokens[i].end);
            if (between.find('\n') == std::string_view::npos) {
                continue;
            }
            const std::string nextWord = code.Upper(i + 1);
            if (psql && (nextWord == "BEGIN" || nextWord == "DECLARE")) {
                continue;  // the main block after a sub-routine
            }
            Add(lines.LineOf(next.begin), TSeverity::Error,
                "two statements in one block: the ';' on line " +
                    std::to_string(lines.LineOf(code.tokens[i].begin)) +
                    " ends a statement and more SQL follows; the server receives both as one text "
                    "and rejects it; separate them with a blank line");
            break;
        }
    }
    CheckReferences(statement, 0, lines);
}

void TScriptChecker::CheckReferences(std::string_view text, std::size_t offset,
                                     const TStatementLines& lines) {
    if (text.find('@') == std::string_view::npos) {
        return;
    }
    const std::vector<TSqlToken> tokens = Tokenize(text);
    const auto contextOf = [&tokens](std::size_t at) -> TSqlToken::Kind {
        const auto after = std::upper_bound(
            tokens.begin(), tokens.end(), at,
            [](std::size_t position, const TSqlToken& token) { return position < token.begin; });
        if (after == tokens.begin()) {
            return TSqlToken::Symbol;
        }
        const TSqlToken& token = *(after - 1);
        return at < token.end ? token.kind : TSqlToken::Symbol;
    };
    for (std::size_t at = text.find('@'); at != std::string_view::npos; at = text.find('@', at)) {
        const std::size_t end = ReferenceEnd(text, at);
        const std::string_view reference = text.substr(at, end - at);
        const std::size_t line = lines.LineOf(offset + at);
        const TSqlToken::Kind context = contextOf(at);
        const auto found = variables_.find(FoldedName(reference));
        if (found != variables_.end()) {
            TVariableInfo& info = found->second;
            info.Used = true;
            if (info.Kind != TValueKind::Unknown &&
                (context == TSqlToken::String || context == TSqlToken::QuotedName)) {
                Add(line, TSeverity::Warning,
                    std::string(reference) + " holds " + KindName(info.Kind) +
                        " and stands inside quotes: the runner writes it " +
                        LocaleExample(info.Kind) +
                        ", which depends on the locale of the setup; CAST it AS VARCHAR in its "
                        "SELECT for a fixed form");
            }
        } else {
            std::string message = std::string(reference) +
                                  " is not a variable declared at this point: "
                                  "the runner removes it from the text";
            if (context == TSqlToken::String || context == TSqlToken::QuotedName) {
                message += ", also inside this quoted string (an e-mail address loses the part "
                           "from its @ on)";
            } else if (context == TSqlToken::Comment) {
                message += ", also inside this comment";
            }
            // A name ends only at a blank and a few other characters: "@id;" is not "@id".
            std::size_t stem = 1;
            while (stem < reference.size() && IsWordChar(reference[stem]) &&
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

// ---- Settings ----

// A database name that the client resolves against the current folder: no server part
// ("host:" or a "://" form) and no leading "/".
bool IsRelativeDatabasePath(std::string_view name) {
    return !name.empty() && name.front() != '/' && name.find(':') == std::string_view::npos;
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
    ReadStatements(file, [&](const std::string& statement, std::size_t firstLine,
                             const std::vector<TUnconvertible>& unconvertible) {
        if (!unconvertible.empty()) {
            // The runner's own message, and what it does with such a statement.
            checker.Add(unconvertible.front().Line, TSeverity::Error,
                        UnconvertibleMessage(unconvertible, encoding) +
                            (IsDeclaration(Trim(statement))
                                 ? "; the runner stops the script here: no statement after "
                                   "this one runs for that database"
                                 : "; the runner does not run the statement"));
        }
        checker.Statement(statement, firstLine);
    });
    file.Close();
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
            std::find_if(general.begin(), general.end(),
                         [&](const TSettingsLine& l) { return SameTextAscii(l.Name, line.Name); });
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
        if (first->Number == line.Number && SameTextAscii(line.Name, "Password") &&
            !line.Value.empty() && ReadableByOthers(path)) {
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
        if (Trim(line.Value).empty()) {
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

// The SQL scanner shared by the script reader, the script check and the variable
// substitution.
#include "runner/SqlTokenizer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace runner {

namespace {

constexpr std::array<bool, 256> MakeWordTable() {
    std::array<bool, 256> table{};
    for (std::size_t c = 0; c < table.size(); ++c) {
        table[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '_' || c == '$' || c >= 128;
    }
    return table;
}

constexpr std::array<bool, 256> kWordChar = MakeWordTable();

bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// True when `word` is `upper` in any ASCII letter case.
bool Is(std::string_view word, std::string_view upper) noexcept {
    if (word.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != upper[i]) {
            return false;
        }
    }
    return true;
}

// The character that closes a Q'<d>...<d>' string opened with `open`: brackets close with
// their partner, any other character with itself.
char AlternateClose(char open) noexcept {
    switch (open) {
    case '(':
        return ')';
    case '[':
        return ']';
    case '{':
        return '}';
    case '<':
        return '>';
    default:
        return open;
    }
}

// The end of the number that starts at `i`: digits and decimal points, then an exponent when
// digits follow it.
std::size_t NumberEnd(std::string_view text, std::size_t i) noexcept {
    const std::size_t n = text.size();
    while (i < n && (IsDigit(text[i]) || text[i] == '.')) {
        ++i;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t k = i + 1;
        if (k < n && (text[k] == '+' || text[k] == '-')) {
            ++k;
        }
        if (k < n && IsDigit(text[k])) {
            i = k;
            while (i < n && IsDigit(text[i])) {
                ++i;
            }
        }
    }
    return i;
}

}  // namespace

bool IsSqlWordChar(char c) noexcept {
    return kWordChar[static_cast<unsigned char>(c)];
}

bool TSqlScanner::InBody() const noexcept {
    return (psql_ == Psql::BodyStart || psql_ == Psql::Body) &&
           !(mainBlockEnded_ && blocks_.empty());
}

void TSqlScanner::Emit(std::vector<TSqlToken>* tokens, TSqlToken::TKind kind, std::size_t begin,
                       std::size_t end, bool inBody, bool closed) const {
    if (tokens != nullptr) {
        TSqlToken token;
        token.Kind = kind;
        token.Closed = closed;
        token.InBody = inBody;
        token.Begin = begin;
        token.End = end;
        tokens->push_back(token);
    }
}

void TSqlScanner::Code(TSqlToken::TKind kind) {
    hasCode_ = true;
    switch (psql_) {
    case Psql::Head:
    case Psql::HeadCreate:
    case Psql::HeadCreateOr:
    case Psql::HeadObject:
    case Psql::HeadExecute:
        // Only words make up the head of a statement with a body.
        if (kind != TSqlToken::Word) {
            psql_ = Psql::NoBody;
        }
        break;
    case Psql::BodyStart:
        // AS '<text>': the body of an external routine, not PSQL.
        psql_ =
            kind == TSqlToken::String || kind == TSqlToken::QuotedName ? Psql::NoBody : Psql::Body;
        break;
    default:
        break;
    }
}

void TSqlScanner::ObjectWord(std::string_view word, bool alterOnly) {
    if (Is(word, "PROCEDURE") || Is(word, "FUNCTION") || Is(word, "PACKAGE")) {
        psql_ = Psql::AwaitAs;
        bodyRequired_ = true;
    } else if (Is(word, "TRIGGER")) {
        // ALTER TRIGGER may change only the trigger's state or position.
        psql_ = Psql::AwaitAs;
        bodyRequired_ = !alterOnly;
    } else {
        psql_ = Psql::NoBody;
    }
}

void TSqlScanner::Word(std::string_view word, std::size_t begin) {
    switch (psql_) {
    case Psql::Head:
        asOffset_ = begin;
        if (Is(word, "CREATE")) {
            psql_ = Psql::HeadCreate;
        } else if (Is(word, "ALTER") || Is(word, "RECREATE")) {
            alterOnly_ = Is(word, "ALTER");
            psql_ = Psql::HeadObject;
        } else if (Is(word, "EXECUTE")) {
            psql_ = Psql::HeadExecute;
        } else {
            psql_ = Psql::NoBody;
        }
        return;
    case Psql::HeadCreate:
        if (Is(word, "OR")) {
            psql_ = Psql::HeadCreateOr;
        } else {
            ObjectWord(word, false);
        }
        return;
    case Psql::HeadCreateOr:
        psql_ = Is(word, "ALTER") ? Psql::HeadObject : Psql::NoBody;
        return;
    case Psql::HeadObject:
        ObjectWord(word, alterOnly_);
        return;
    case Psql::HeadExecute:
        if (Is(word, "BLOCK")) {
            psql_ = Psql::AwaitAs;
            bodyRequired_ = true;
        } else {
            psql_ = Psql::NoBody;
        }
        return;
    case Psql::AwaitAs:
        // The header's parameter lists stand in parentheses; the body's AS does not.
        if (parens_.empty()) {
            if (Is(word, "AS")) {
                psql_ = Psql::BodyStart;
                asOffset_ = begin;
            } else if (Is(word, "EXTERNAL")) {
                bodyRequired_ = false;
            }
        }
        return;
    case Psql::NoBody:
    case Psql::BodyStart:  // Code() has made it Body before a word gets here
        return;
    case Psql::Body:
        break;
    }

    // Inside the body: count the blocks. The main block is the first BEGIN at the outermost
    // level that does not belong to a sub-routine declared before it (DECLARE PROCEDURE or
    // DECLARE FUNCTION ... AS BEGIN ... END).
    if (Is(word, "BEGIN") || Is(word, "CASE")) {
        if (blocks_.empty()) {
            outerIsMain_ = Is(word, "BEGIN") && !subroutineNext_;
            if (Is(word, "BEGIN")) {
                subroutineNext_ = false;
            }
        }
        blocks_.push_back(begin);
    } else if (Is(word, "END")) {
        if (!blocks_.empty()) {
            blocks_.pop_back();
            if (blocks_.empty() && outerIsMain_) {
                mainBlockEnded_ = true;
            }
        }
    } else if (blocks_.empty() && declareSeen_ && (Is(word, "PROCEDURE") || Is(word, "FUNCTION"))) {
        subroutineNext_ = true;
    }
    declareSeen_ = blocks_.empty() && Is(word, "DECLARE");
}

void TSqlScanner::ScanCode(std::string_view text, std::vector<TSqlToken>* tokens) {
    const std::size_t n = text.size();
    std::size_t i = position_;
    while (i < n) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32) {
            ++i;
            continue;
        }
        const char next = i + 1 < n ? text[i + 1] : '\0';
        // Strings and comments may span lines: the outer loop scans their content.
        if ((c == '-' && next == '-') || (c == '/' && next == '*')) {
            mode_ = c == '-' ? Mode::LineComment : Mode::BlockComment;
            openBegin_ = i;
            position_ = i + 2;
            return;
        }
        if (c == '\'' || c == '"') {
            mode_ = c == '\'' ? Mode::String : Mode::QuotedName;
            openBegin_ = i;
            position_ = i + 1;
            return;
        }
        if ((c == 'q' || c == 'Q') && next == '\'' && i + 2 < n &&
            static_cast<unsigned char>(text[i + 2]) > 32) {
            mode_ = Mode::AlternateString;
            close_ = AlternateClose(text[i + 2]);
            openBegin_ = i;
            position_ = i + 3;
            return;
        }
        const bool inBody = InBody();
        if (IsDigit(c) || (c == '.' && IsDigit(next))) {
            const std::size_t end = NumberEnd(text, i);
            Code(TSqlToken::Number);
            Emit(tokens, TSqlToken::Number, i, end, inBody);
            i = end;
        } else if (kWordChar[u]) {
            std::size_t end = i + 1;
            while (end < n && kWordChar[static_cast<unsigned char>(text[end])]) {
                ++end;
            }
            Code(TSqlToken::Word);
            if (psql_ != Psql::NoBody) {
                Word(text.substr(i, end - i), i);
            }
            Emit(tokens, TSqlToken::Word, i, end, inBody);
            i = end;
        } else {
            if (c == '(') {
                parens_.push_back(i);
            } else if (c == ')' && !parens_.empty()) {
                parens_.pop_back();
            }
            Code(TSqlToken::Symbol);
            Emit(tokens, TSqlToken::Symbol, i, i + 1, inBody);
            ++i;
        }
    }
    position_ = n;
}

void TSqlScanner::Scan(std::string_view text, std::vector<TSqlToken>* tokens) {
    size_ = text.size();
    const std::size_t n = text.size();
    const char* const data = text.data();
    while (position_ < n) {
        switch (mode_) {
        case Mode::Code:
            ScanCode(text, tokens);
            break;
        case Mode::String:
        case Mode::QuotedName: {
            const char quote = mode_ == Mode::String ? '\'' : '"';
            const auto* found =
                static_cast<const char*>(std::memchr(data + position_, quote, n - position_));
            if (found == nullptr) {
                position_ = n;
                break;
            }
            const auto at = static_cast<std::size_t>(found - data);
            if (at + 1 < n && data[at + 1] == quote) {
                position_ = at + 2;  // a doubled quote stands for one
                break;
            }
            const TSqlToken::TKind kind =
                mode_ == Mode::String ? TSqlToken::String : TSqlToken::QuotedName;
            const bool inBody = InBody();
            Code(kind);
            Emit(tokens, kind, openBegin_, at + 1, inBody);
            mode_ = Mode::Code;
            position_ = at + 1;
            break;
        }
        case Mode::AlternateString: {
            const auto* found =
                static_cast<const char*>(std::memchr(data + position_, close_, n - position_));
            if (found == nullptr) {
                position_ = n;
                break;
            }
            const auto at = static_cast<std::size_t>(found - data);
            if (at + 1 == n) {
                position_ = at;  // whether a quote follows shows with the next text
                return;
            }
            if (data[at + 1] != '\'') {
                position_ = at + 1;
                break;
            }
            const bool inBody = InBody();
            Code(TSqlToken::String);
            Emit(tokens, TSqlToken::String, openBegin_, at + 2, inBody);
            mode_ = Mode::Code;
            position_ = at + 2;
            break;
        }
        case Mode::BlockComment: {
            const auto* found =
                static_cast<const char*>(std::memchr(data + position_, '*', n - position_));
            if (found == nullptr) {
                position_ = n;
                break;
            }
            const auto at = static_cast<std::size_t>(found - data);
            if (at + 1 == n) {
                position_ = at;  // whether a "/" follows shows with the next text
                return;
            }
            if (data[at + 1] != '/') {
                position_ = at + 1;
                break;
            }
            Emit(tokens, TSqlToken::Comment, openBegin_, at + 2, InBody());
            mode_ = Mode::Code;
            position_ = at + 2;
            break;
        }
        case Mode::LineComment: {
            std::size_t at = position_;
            while (at < n && data[at] != '\n' && data[at] != '\r') {
                ++at;
            }
            if (at == n) {
                position_ = n;
                break;
            }
            Emit(tokens, TSqlToken::Comment, openBegin_, at, InBody());
            mode_ = Mode::Code;
            position_ = at;
            break;
        }
        }
    }
}

void TSqlScanner::Finish(std::vector<TSqlToken>* tokens) {
    switch (mode_) {
    case Mode::Code:
        return;
    case Mode::LineComment:
        Emit(tokens, TSqlToken::Comment, openBegin_, size_, InBody());
        break;
    case Mode::BlockComment:
        Emit(tokens, TSqlToken::Comment, openBegin_, size_, InBody(), false);
        break;
    case Mode::String:
    case Mode::AlternateString:
    case Mode::QuotedName: {
        const TSqlToken::TKind kind =
            mode_ == Mode::QuotedName ? TSqlToken::QuotedName : TSqlToken::String;
        const bool inBody = InBody();
        Code(kind);
        Emit(tokens, kind, openBegin_, size_, inBody, false);
        break;
    }
    }
    mode_ = Mode::Code;
    position_ = size_;
}

bool TSqlScanner::Complete() const noexcept {
    switch (mode_) {
    case Mode::Code:
    case Mode::LineComment:  // the line break that ends the text ends the comment
        break;
    default:
        return false;
    }
    if (!parens_.empty()) {
        return false;
    }
    switch (psql_) {
    case Psql::AwaitAs:
        return !bodyRequired_;
    case Psql::BodyStart:
        return false;
    case Psql::Body:
        return mainBlockEnded_ && blocks_.empty();
    default:
        return true;
    }
}

TSqlOpening TSqlScanner::Opening() const noexcept {
    switch (mode_) {
    case Mode::String:
    case Mode::AlternateString:
        return {TSqlOpening::String, openBegin_};
    case Mode::QuotedName:
        return {TSqlOpening::QuotedName, openBegin_};
    case Mode::BlockComment:
        return {TSqlOpening::Comment, openBegin_};
    default:
        break;
    }
    if (Complete()) {
        return {};
    }
    // The construct opened last: the ones before it are open because it swallowed their end.
    std::size_t block = 0;
    bool blockOpen = true;
    switch (psql_) {
    case Psql::AwaitAs:
        blockOpen = bodyRequired_;
        block = asOffset_;
        break;
    case Psql::BodyStart:
        block = asOffset_;
        break;
    case Psql::Body:
        blockOpen = !(mainBlockEnded_ && blocks_.empty());
        block = blocks_.empty() ? asOffset_ : blocks_.back();
        break;
    default:
        blockOpen = false;
        break;
    }
    if (!parens_.empty() && (!blockOpen || parens_.back() > block)) {
        return {TSqlOpening::Parenthesis, parens_.back()};
    }
    return {TSqlOpening::Block, block};
}

std::vector<TSqlToken> TokenizeSql(std::string_view text) {
    TSqlScanner scanner;
    std::vector<TSqlToken> tokens;
    scanner.Scan(text, &tokens);
    scanner.Finish(&tokens);
    return tokens;
}

bool IsCompleteSql(std::string_view text) {
    TSqlScanner scanner;
    scanner.Scan(text);
    return scanner.Complete();
}

}  // namespace runner

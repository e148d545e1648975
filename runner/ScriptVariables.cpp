// Script variables: the variable list, declaration handling and @name substitution.
#include "runner/ScriptVariables.h"

#include "ibclient/Errors.h"
#include "platform/Text.h"
#include "runner/SqlTokenizer.h"

#include <algorithm>
#include <array>

namespace runner {

namespace {

// Upper-case table: ASCII letters and the letters of Windows-1251 (Cyrillic, including the
// Serbian, Macedonian, Ukrainian and Belarusian ones).
constexpr std::array<unsigned char, 256> MakeFoldTable() {
    std::array<unsigned char, 256> table{};
    for (std::size_t c = 0; c < table.size(); ++c) {
        table[c] = static_cast<unsigned char>(c);
    }
    for (unsigned c = 'a'; c <= 'z'; ++c) {
        table[c] = static_cast<unsigned char>(c - 'a' + 'A');
    }
    for (unsigned c = 0xE0; c <= 0xFF; ++c) {
        table[c] = static_cast<unsigned char>(c - 0x20);
    }
    constexpr std::array<std::array<unsigned char, 2>, 15> pairs{{
        {0x90, 0x80},
        {0x83, 0x81},
        {0x9A, 0x8A},
        {0x9C, 0x8C},
        {0x9D, 0x8D},
        {0x9E, 0x8E},
        {0x9F, 0x8F},
        {0xA2, 0xA1},
        {0xBC, 0xA3},
        {0xB4, 0xA5},
        {0xB8, 0xA8},
        {0xBA, 0xAA},
        {0xBF, 0xAF},
        {0xB3, 0xB2},
        {0xBE, 0xBD},
    }};
    for (const auto& [lower, upper] : pairs) {
        table[lower] = upper;
    }
    return table;
}

constexpr std::array<unsigned char, 256> kFoldTable = MakeFoldTable();

// The fourteen characters that end a variable name inside a statement.
constexpr std::array<bool, 256> MakeNameEndTable() {
    std::array<bool, 256> table{};
    for (const unsigned char c :
         {'\t', '\n', '\r', ' ', '"', '\'', '(', ')', '*', '+', ',', '-', '/', '|'}) {
        table[c] = true;
    }
    return table;
}

constexpr std::array<bool, 256> kNameEnd = MakeNameEndTable();

constexpr std::string_view kDeclarationError = "Declare variable statement is incorrect SQL:\r\n";

[[noreturn]] void RaiseDeclarationError(const std::string& statement) {
    throw ibclient::Exception(std::string(kDeclarationError) + statement);
}

} // namespace

unsigned char FoldNameChar(unsigned char c) noexcept {
    return kFoldTable[c];
}

bool SameVariableName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldNameChar(static_cast<unsigned char>(a[i])) !=
            FoldNameChar(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::size_t TScriptVariables::FoldedHash::operator()(std::string_view name) const noexcept {
    // FNV-1a over the folded bytes.
    std::size_t hash = 14695981039346656037ULL;
    for (const char c : name) {
        hash ^= FoldNameChar(static_cast<unsigned char>(c));
        hash *= 1099511628211ULL;
    }
    return hash;
}

void TScriptVariables::Set(std::string_view name, std::string_view value) {
    if (const auto found = index_.find(name); found != index_.end()) {
        TScriptVariable& entry = entries_[found->second];
        entry.Name = name;
        entry.Value = value;
        return;
    }
    entries_.push_back(TScriptVariable{std::string(name), std::string(value)});
    // The key keeps the first spelling; hashing and equality ignore case anyway.
    index_.emplace(std::string(name), entries_.size() - 1);
}

bool TScriptVariables::Remove(std::string_view name) {
    const auto found = index_.find(name);
    if (found == index_.end()) {
        return false;
    }
    const std::size_t position = found->second;
    index_.erase(found);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
    for (auto& [key, index] : index_) {
        if (index > position) {
            --index;
        }
    }
    return true;
}

const std::string* TScriptVariables::ValueOf(std::string_view name) const noexcept {
    const auto found = index_.find(name);
    return found == index_.end() ? nullptr : &entries_[found->second].Value;
}

std::optional<std::string> TScriptVariables::Find(std::string_view name) const {
    if (const std::string* value = ValueOf(name)) {
        return *value;
    }
    return std::nullopt;
}

std::string SubstituteVariables(std::string_view text, const TScriptVariables& variables) {
    std::string result;
    result.reserve(text.size());
    std::size_t position = 0;
    // Scans the text up to each undeclared reference, each part once.
    TSqlScanner scanner;
    while (position < text.size()) {
        const std::size_t at = text.find('@', position);
        if (at == std::string_view::npos) {
            break;
        }
        result.append(text, position, at - position);
        // The "@" itself never ends the name, so the search starts behind it; without a
        // name-ending character the reference runs to the end of the text.
        const std::size_t end = ReferenceEnd(text, at);
        if (const std::string* value = variables.ValueOf(text.substr(at, end - at))) {
            result += *value;
        } else {
            // An undeclared reference inside a quoted literal is text ('info@example.com');
            // elsewhere it disappears. The "@" is scanned too: it may be the delimiter that
            // opens or closes a Q'@...@' string.
            scanner.Scan(text.substr(0, at + 1));
            if (scanner.InQuotes()) {
                result.append(text, at, end - at);
            }
        }
        position = end;
    }
    if (position < text.size()) {
        result.append(text, position);
    }
    return result;
}

std::size_t ReferenceEnd(std::string_view text, std::size_t at) noexcept {
    std::size_t end = at + 1;
    while (end < text.size() && !kNameEnd[static_cast<unsigned char>(text[end])]) {
        ++end;
    }
    return end;
}

bool IsNameEnd(char c) noexcept {
    return kNameEnd[static_cast<unsigned char>(c)];
}

bool IsDeclaration(std::string_view trimmedStatement) noexcept {
    return platform::StartsWithAsciiUpper(trimmedStatement, "VAR ");
}

std::string QuoteStringValue(std::string_view text) {
    std::string result;
    result.reserve(text.size() + 2);
    result += '\'';
    for (const char c : text) {
        if (c == '\'') {
            result += '\'';
        }
        result += c;
    }
    result += '\'';
    return result;
}

std::string HexLiteral(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(bytes.size() * 2 + 3);
    result += "x'";
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        result += kDigits[u >> 4];
        result += kDigits[u & 0x0F];
    }
    result += '\'';
    return result;
}

std::optional<TDeclaration> TryParseDeclaration(std::string_view trimmed,
                                                TDeclarationFault* fault) noexcept {
    const auto reject = [fault](TDeclarationFault why) -> std::optional<TDeclaration> {
        if (fault != nullptr) {
            *fault = why;
        }
        return std::nullopt;
    };
    constexpr std::size_t keywordLength = 4; // "VAR "
    const std::string_view rest =
        platform::Trim(trimmed.substr(std::min(keywordLength, trimmed.size())));
    if (rest.empty() || rest.front() != '@') {
        return reject(TDeclarationFault::NoName);
    }
    const std::size_t equals = rest.find('=');
    if (equals == std::string_view::npos) {
        return reject(TDeclarationFault::NoEquals);
    }
    TDeclaration declaration;
    declaration.Name = platform::Trim(rest.substr(0, equals));
    if (declaration.Name.size() < 2) {
        return reject(TDeclarationFault::ShortName);
    }
    declaration.ValueText = platform::Trim(rest.substr(equals + 1));
    if (declaration.ValueText.empty()) {
        return reject(TDeclarationFault::NoValue);
    }
    declaration.Computed = platform::StartsWithAsciiUpper(declaration.ValueText, "SELECT ");
    return declaration;
}

TDeclaration ParseDeclaration(const std::string& statement, std::string_view trimmed) {
    const std::optional<TDeclaration> declaration = TryParseDeclaration(trimmed);
    if (!declaration) {
        RaiseDeclarationError(statement);
    }
    return *declaration;
}

void HandleDeclaration(const std::string& statement, const std::string& trimmed,
                       TScriptVariables& variables, const SelectEvaluator& evaluateSelect) {
    const TDeclaration declaration = ParseDeclaration(statement, trimmed);
    const std::string_view name = declaration.Name;
    const std::string_view valueText = declaration.ValueText;
    if (!declaration.Computed) {
        variables.Set(name, valueText);
        return;
    }
    // The list is not touched before the query has run: its errors leave it as it was.
    const std::optional<std::string> value =
        evaluateSelect(SubstituteVariables(valueText, variables));
    // An empty value is never stored: a query without rows makes the variable undefined.
    if (value && !value->empty()) {
        variables.Set(name, *value);
    } else {
        variables.Remove(name);
    }
}

} // namespace runner

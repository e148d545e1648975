// Script variables: the per-run list of VAR declarations, their handling and the textual
// substitution of @name references in later statements.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace runner {

// One declared variable; the name includes its leading "@".
struct TScriptVariable {
    std::string Name;
    std::string Value;
};

// Upper-case form of one byte for variable-name comparison. Scripts are Windows-1251 text
// (the connection character set), so besides a to z the Cyrillic letters of that code page
// fold as well; the result does not depend on the process's locale.
unsigned char FoldNameChar(unsigned char c) noexcept;

// True when two variable names are equal ignoring letter case (FoldNameChar).
bool SameVariableName(std::string_view a, std::string_view b) noexcept;

// The ordered name=value list of one script run. Names are unique ignoring case; an entry
// keeps the place of its first declaration and takes the latest spelling and value.
class TScriptVariables {
  public:
    // Stores `value` under `name`: replaces an existing entry's spelling and value in place,
    // or appends a new entry.
    void Set(std::string_view name, std::string_view value);

    // Deletes the entry of `name`; false when there is none.
    bool Remove(std::string_view name);

    // The value stored under `name`, or nullopt.
    std::optional<std::string> Find(std::string_view name) const;

    // The value stored under `name` or null; valid until the list is next changed.
    const std::string* ValueOf(std::string_view name) const noexcept;

    // The entries in declaration order.
    const std::vector<TScriptVariable>& Entries() const noexcept { return entries_; }
    std::size_t Count() const noexcept { return entries_.size(); }

  private:
    // Hashing and equality that fold each byte, so look-ups need no folded copy of the name.
    struct FoldedHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const noexcept;
    };
    struct FoldedEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const noexcept {
            return SameVariableName(a, b);
        }
    };

    std::vector<TScriptVariable> entries_;
    // Folded name -> position in entries_.
    std::unordered_map<std::string, std::size_t, FoldedHash, FoldedEqual> index_;
};

// `text` with every @name reference replaced by the variable's value. A name runs from its
// "@" up to the next name-ending character (tab, LF, CR, blank, " ' ( ) * + , - / |) or to the
// end of the text; a second "@" belongs to the name. An undeclared reference inside a quoted
// string or name ('...', "...", Q'...') stays as written; elsewhere it is dropped. Pasted
// values are not searched again.
std::string SubstituteVariables(std::string_view text, const TScriptVariables& variables);

// The end of the @name reference whose "@" stands at `at` in `text`: the position of the
// next name-ending character after it, or the end of the text. The reference is
// text.substr(at, end - at), the "@" included.
std::size_t ReferenceEnd(std::string_view text, std::size_t at) noexcept;

// True for the characters that end a variable name inside a statement.
bool IsNameEnd(char c) noexcept;

// True when the trimmed statement is a declaration: it begins with "VAR " in any ASCII case
// (the keyword and exactly one blank; a tab or line break after it does not count).
bool IsDeclaration(std::string_view trimmedStatement) noexcept;

// The value text of a CHAR/VARCHAR result: the text between single quotation marks with every
// quotation mark inside doubled, so the pasted literal stands for exactly the stored text.
std::string QuoteStringValue(std::string_view text);

// The value text of a binary BLOB: its bytes as a hexadecimal literal, x'...' (two upper-case
// digits a byte), which the server reads back as the same bytes.
std::string HexLiteral(std::string_view bytes);

// The parts of a well-formed declaration, views into the trimmed statement.
struct TDeclaration {
    std::string_view Name;      // with its "@", trimmed, at least two characters
    std::string_view ValueText; // trimmed, not empty
    // True when the value is computed: the value text begins with "SELECT " in any ASCII case.
    bool Computed = false;
};

// Why a declaration is malformed.
enum class TDeclarationFault {
    NoName,    // nothing after the keyword, or no "@" right after it
    NoEquals,  // no "=" after the name
    ShortName, // the name is "@" alone
    NoValue,   // nothing after the "="
};

// Splits the declaration `trimmed` (trimmed, beginning with "VAR ") into name and value text;
// nullopt, with the reason in `fault` when it is given, when the declaration is malformed.
std::optional<TDeclaration> TryParseDeclaration(std::string_view trimmed,
                                                TDeclarationFault* fault = nullptr) noexcept;

// Splits the declaration `trimmed` (the trimmed form of `statement`, beginning with "VAR ")
// into name and value text. Raises ibclient::Exception("Declare variable statement is
// incorrect SQL:\r\n" + statement) when there is no "@" right after the keyword, no "=", a
// name of less than two characters or nothing after the "=".
TDeclaration ParseDeclaration(const std::string& statement, std::string_view trimmed);

// Runs a computed declaration's SELECT (already substituted) and returns the value text of the
// first column of its first row, or nullopt when it produced no row. Its errors propagate.
using SelectEvaluator = std::function<std::optional<std::string>(const std::string& sql)>;

// Handles the declaration `statement` (as collected; `trimmed` is its trimmed form and begins
// with "VAR "). A literal value is stored as written; a value beginning with "SELECT " is
// computed through `evaluateSelect`, and a query without rows deletes the variable.
// Raises ibclient::Exception("Declare variable statement is incorrect SQL:\r\n" + statement)
// when the name or the value is missing or malformed.
void HandleDeclaration(const std::string& statement, const std::string& trimmed,
                       TScriptVariables& variables, const SelectEvaluator& evaluateSelect);

} // namespace runner

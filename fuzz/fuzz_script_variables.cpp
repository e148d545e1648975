// Script variables: the declaration parser, the variable list and SubstituteVariables.
//
// Input: a series of steps chosen by FuzzedDataProvider; each step declares (a statement
// text handed to HandleDeclaration, whose SELECT is answered with a fuzzed value, no row or an
// error) or substitutes a fuzzed text. Properties:
// - a declaration either raises the declaration error (message prefix) or the query's error,
//   or leaves the list consistent: names begin with "@", are at least two characters, unique
//   ignoring case, values are never empty, and every entry is found under its own name;
// - a literal declaration stores exactly the trimmed text after its first "=";
// - substitution leaves a text without "@" unchanged, drops every reference outside quoted
//   literals and keeps the ones inside when no variable matches (the literals as tokenizing
//   the whole text finds them), and replaces a declared reference followed by a name-ending character by its
//   value, keeping that character and the rest.
#include "fuzz/FuzzCheck.h"
#include "ibclient/Errors.h"
#include "runner/ScriptVariables.h"
#include "runner/SqlTokenizer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kDeclarationError = "Declare variable statement is incorrect SQL:\r\n";
constexpr std::string_view kNameEnding = "\t\n\r \"'()*+,-/|";

struct QueryError : ibclient::Exception {
    using Exception::Exception;
};

std::string_view TrimText(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) {
        text.remove_suffix(1);
    }
    return text;
}

void CheckList(const runner::TScriptVariables& variables) {
    const auto& entries = variables.Entries();
    FUZZ_CHECK(entries.size() == variables.Count(), "count differs from the entries");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const runner::TScriptVariable& entry = entries[i];
        FUZZ_CHECK(entry.Name.size() >= 2 && entry.Name.front() == '@',
                   "bad name " + fuzzcheck::Shown(entry.Name));
        FUZZ_CHECK(!entry.Value.empty(), "empty value stored for " + fuzzcheck::Shown(entry.Name));
        FUZZ_CHECK(variables.ValueOf(entry.Name) == &entry.Value,
                   "entry " + fuzzcheck::Shown(entry.Name) + " not found under its own name");
        for (std::size_t j = i + 1; j < entries.size(); ++j) {
            FUZZ_CHECK(!runner::SameVariableName(entry.Name, entries[j].Name),
                       "duplicate names " + fuzzcheck::Shown(entry.Name));
        }
    }
}

void Declare(FuzzedDataProvider& input, runner::TScriptVariables& variables) {
    std::string statement = input.ConsumeRandomLengthString(200);
    if (input.ConsumeBool()) {
        statement = "VAR " + statement; // reach the parser more often
    }
    const std::string trimmed(TrimText(statement));
    if (!runner::IsDeclaration(trimmed)) {
        return;
    }
    const int answer = input.ConsumeIntegralInRange(0, 2);
    const std::string queryValue = input.ConsumeRandomLengthString(40);
    bool queried = false;
    const runner::SelectEvaluator evaluate = [&](const std::string&) -> std::optional<std::string> {
        queried = true;
        if (answer == 0) {
            throw QueryError("query failed");
        }
        if (answer == 1) {
            return std::nullopt;
        }
        return queryValue;
    };
    const std::size_t countBefore = variables.Count();
    try {
        runner::HandleDeclaration(statement, trimmed, variables, evaluate);
    } catch (const QueryError&) {
        FUZZ_CHECK(queried && variables.Count() == countBefore, "query error changed the list");
        CheckList(variables);
        return;
    } catch (const ibclient::Exception& error) {
        FUZZ_CHECK(error.Message() == std::string(kDeclarationError) + statement,
                   "unexpected error " + fuzzcheck::Shown(error.Message()));
        FUZZ_CHECK(variables.Count() == countBefore, "a refused declaration changed the list");
        CheckList(variables);
        return;
    }
    CheckList(variables);
    // An accepted declaration has "@name = value" after the keyword.
    const std::string_view rest = TrimText(std::string_view(trimmed).substr(4));
    const std::size_t equals = rest.find('=');
    FUZZ_CHECK(!rest.empty() && rest.front() == '@' && equals != std::string_view::npos,
               "accepted " + fuzzcheck::Shown(statement));
    const std::string_view name = TrimText(rest.substr(0, equals));
    const std::string_view value = TrimText(rest.substr(equals + 1));
    FUZZ_CHECK(name.size() >= 2 && !value.empty(), "accepted " + fuzzcheck::Shown(statement));
    if (!queried) {
        const std::string* stored = variables.ValueOf(name);
        FUZZ_CHECK(stored != nullptr && *stored == value,
                   "literal " + fuzzcheck::Shown(value) + " stored as " +
                       (stored ? fuzzcheck::Shown(*stored) : std::string("nothing")));
    } else if (answer == 2 && !queryValue.empty()) {
        const std::string* stored = variables.ValueOf(name);
        FUZZ_CHECK(stored != nullptr && *stored == queryValue, "query value not stored");
    } else {
        FUZZ_CHECK(variables.ValueOf(name) == nullptr, "a query without value left the variable");
    }
}

// `text` without the references that stand outside quoted literals, the quoted ones kept,
// with the literals found by tokenizing the whole text at once.
std::string WithoutUnquotedReferences(const std::string& text) {
    const std::vector<runner::TSqlToken> tokens = runner::TokenizeSql(text);
    const auto quoted = [&tokens](std::size_t at) {
        for (const runner::TSqlToken& token : tokens) {
            if (token.Begin <= at && at < token.End) {
                return token.Kind == runner::TSqlToken::String ||
                       token.Kind == runner::TSqlToken::QuotedName;
            }
        }
        return false;
    };
    std::string result;
    std::size_t position = 0;
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', position)) {
        result.append(text, position, at - position);
        position = runner::ReferenceEnd(text, at);
        if (quoted(at)) {
            result.append(text, at, position - at);
        }
    }
    return result + text.substr(std::min(position, text.size()));
}

void Substitute(FuzzedDataProvider& input, const runner::TScriptVariables& variables) {
    const std::string text = input.ConsumeRandomLengthString(300);
    const std::string result = runner::SubstituteVariables(text, variables);
    if (text.find('@') == std::string::npos) {
        FUZZ_CHECK(result == text, "a text without references changed: " + fuzzcheck::Shown(text));
    }
    static const runner::TScriptVariables empty;
    const std::string dropped = runner::SubstituteVariables(text, empty);
    FUZZ_CHECK(dropped == WithoutUnquotedReferences(text),
               "undeclared references: " + fuzzcheck::Shown(text) + " -> " +
                   fuzzcheck::Shown(dropped) + ", expected " +
                   fuzzcheck::Shown(WithoutUnquotedReferences(text)));

    // A declared reference, a name-ending character and a tail without "@".
    if (variables.Count() == 0) {
        return;
    }
    const auto& entry =
        variables.Entries()[input.ConsumeIntegralInRange<std::size_t>(0, variables.Count() - 1)];
    if (entry.Name.find_first_of(kNameEnding) != std::string::npos ||
        entry.Name.find('@', 1) != std::string::npos) {
        return; // a name that cannot stand in a statement as one reference
    }
    const char ending = kNameEnding[input.ConsumeIntegralInRange<std::size_t>(0, kNameEnding.size() - 1)];
    std::string tail = input.ConsumeRandomLengthString(40);
    std::erase(tail, '@');
    std::string head = input.ConsumeRandomLengthString(40);
    std::erase(head, '@');
    const std::string statement = head + entry.Name + ending + tail;
    const std::string replaced = runner::SubstituteVariables(statement, variables);
    FUZZ_CHECK(replaced == head + entry.Value + ending + tail,
               fuzzcheck::Shown(statement) + " gave " + fuzzcheck::Shown(replaced));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    runner::TScriptVariables variables;
    for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
        if (input.ConsumeBool()) {
            Declare(input, variables);
        } else {
            Substitute(input, variables);
        }
    }
    return 0;
}

// Script variables: the case-insensitive ordered list, @name substitution and declarations.
#include "runner/ScriptVariables.h"

#include "ibclient/Errors.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace runner {
namespace {

TScriptVariables MakeVariables(std::initializer_list<std::pair<const char*, const char*>> items) {
    TScriptVariables variables;
    for (const auto& [name, value] : items) {
        variables.Set(name, value);
    }
    return variables;
}

std::vector<std::string> EntryTexts(const TScriptVariables& variables) {
    std::vector<std::string> texts;
    for (const TScriptVariable& entry : variables.Entries()) {
        texts.push_back(entry.Name + "=" + entry.Value);
    }
    return texts;
}

TEST(ScriptVariablesTest, RedeclarationKeepsPlaceAndTakesLatestSpelling) {
    TScriptVariables variables = MakeVariables({{"@V", "1"}, {"@w", "x"}, {"@v", "2"}});
    EXPECT_EQ(EntryTexts(variables), (std::vector<std::string>{"@v=2", "@w=x"}));
    EXPECT_EQ(variables.Find("@V"), "2");
    EXPECT_EQ(variables.Find("@x"), std::nullopt);
}

TEST(ScriptVariablesTest, RemoveKeepsTheOthersFindableInOrder) {
    TScriptVariables variables = MakeVariables({{"@a", "1"}, {"@b", "2"}, {"@c", "3"}});
    EXPECT_TRUE(variables.Remove("@A"));
    EXPECT_FALSE(variables.Remove("@a"));
    EXPECT_EQ(variables.Find("@b"), "2");
    EXPECT_EQ(variables.Find("@c"), "3");
    variables.Set("@C", "30");
    variables.Set("@a", "10");
    EXPECT_EQ(EntryTexts(variables), (std::vector<std::string>{"@b=2", "@C=30", "@a=10"}));
}

TEST(ScriptVariablesTest, CyrillicNamesOfTheCodePageIgnoreCase) {
    // "@имяё" and "@ИМЯЁ" in Windows-1251.
    const std::string lower = "@\xE8\xEC\xFF\xB8";
    const std::string upper = "@\xC8\xCC\xDF\xA8";
    TScriptVariables variables = MakeVariables({{lower.c_str(), "1"}});
    EXPECT_EQ(variables.Find(upper), "1");
    EXPECT_EQ(SubstituteVariables(upper + " ", variables), "1 ");
    EXPECT_FALSE(SameVariableName("@\xE8", "@\xC9"));
}

struct SubstitutionCase {
    const char* text;
    const char* expected;
};

TEST(SubstituteVariablesTest, ReferencesAreReplacedKeptInLiteralsOrDropped) {
    const TScriptVariables variables = MakeVariables({{"@v", "10"},
                                                      {"@id", "7"},
                                                      {"@s", "'it''s'"},
                                                      {"@at", "@v"},
                                                      {"@@v", "double"},
                                                      {"@a.b", "dotted"}});
    const std::vector<SubstitutionCase> cases = {
        {"UPDATE T SET A = @v", "UPDATE T SET A = 10"},
        {"UPDATE T SET A = @V WHERE B = @V", "UPDATE T SET A = 10 WHERE B = 10"},
        {"no reference here", "no reference here"},
        {"", ""},
        // The semicolon belongs to the name: the undeclared @id; vanishes with it.
        {"WHERE ID = @id;", "WHERE ID = "},
        // Inside a quoted literal an undeclared reference stays as written (an e-mail
        // address); a declared one is pasted there too; in a comment it vanishes.
        {"SET MAIL = 'john@example.com'", "SET MAIL = 'john@example.com'"},
        {"VALUES ('a@b', \"c@d\", q'{e@f}', 'it''s @v', 'x@', @x)",
         "VALUES ('a@b', \"c@d\", q'{e@f}', 'it''s 10', 'x@', )"},
        {"SET A = 1 /* @gone */ -- @gone too", "SET A = 1 /*  */ --  too"},
        {"SET S = 'open @x", "SET S = 'open @x"},
        {"Q'@a b@' @a q'@c@'", "Q'@a b@'  q'@c@'"},
        {"text ending in @", "text ending in "},
        {"@", ""},
        {"@v@", ""},
        {"@@v)", "double)"},
        {"@a.b,@a", "dotted,"},
        // Pasted values are not searched again.
        {"X = @at", "X = @v"},
        {"@v+@id-@v*@id/@v|@id", "10+7-10*7/10|7"},
        {"IN (@v,@id)", "IN (10,7)"},
        {"NAME = @s", "NAME = 'it''s'"},
        {"@v\r\n@id\t@v\"@id'", "10\r\n7\t10\"7'"},
        {"@undeclared @v", " 10"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(SubstituteVariables(text, variables), expected) << "text: " << text;
    }
}

TEST(SubstituteVariablesTest, ExactlyFourteenCharactersEndAName) {
    const TScriptVariables variables = MakeVariables({{"@a", "1"}});
    const std::string ending = "\t\n\r \"'()*+,-/|";
    for (int c = 1; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const std::string text = std::string("@a") + ch + "x";
        const bool ends = ending.find(ch) != std::string::npos;
        // A name-ending character stays after the value; any other one makes the name
        // undeclared, and the reference vanishes up to the end of the text.
        EXPECT_EQ(SubstituteVariables(text, variables), ends ? std::string("1") + ch + "x" : "")
            << "character " << c;
    }
}

TEST(SubstituteVariablesTest, HundredVariablesInAnyCase) {
    TScriptVariables variables;
    for (int i = 0; i < 100; ++i) {
        variables.Set("@var" + std::to_string(i), std::to_string(i));
    }
    std::string text;
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        text += (i % 2 == 0 ? "@VAR" : "@Var") + std::to_string(i % 100) + ",";
        expected += std::to_string(i % 100) + ",";
    }
    EXPECT_EQ(SubstituteVariables(text, variables), expected);
}

TEST(IsDeclarationTest, KeywordAndExactlyOneBlank) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"VAR @x = 1", true},
        {"var @x = 1", true},
        {"vAr @", true},
        {"VAR\t@x = 1", false},
        {"VAR\r\n@x = 1", false},
        {"VAR", false},
        {"VARIABLE @x = 1", false},
        {"", false},
        {"SELECT 1", false},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(IsDeclaration(text), expected) << text;
    }
}

TEST(QuoteStringValueTest, InnerQuotationMarksAreDoubled) {
    EXPECT_EQ(QuoteStringValue("O'Brien"), "'O''Brien'");
    EXPECT_EQ(QuoteStringValue(""), "''");
    EXPECT_EQ(QuoteStringValue("''"), "''''''");
    EXPECT_EQ(QuoteStringValue(std::string("a\0b", 3)), std::string("'a\0b'", 5));
}

// Runs a declaration the way the statement runner does: trimmed form first.
void Declare(const std::string& statement, TScriptVariables& variables,
             const SelectEvaluator& evaluate = {}) {
    HandleDeclaration(statement, std::string(platform::Trim(statement)), variables, evaluate);
}

TEST(HandleDeclarationTest, MalformedDeclarationsRaiseWithTheStatement) {
    const std::vector<std::string> statements = {
        "VAR x = 1", "VAR @x 1", "VAR @ = 1",  "VAR @x =",    "  VAR @x =  \t\r\n",
        "VAR  = 1",  "VAR = @x", "var x@ = 1", "VAR @ \t= 1", "VAR @x = \r\n  ",
    };
    for (const std::string& statement : statements) {
        TScriptVariables variables = MakeVariables({{"@x", "old"}});
        bool evaluated = false;
        try {
            Declare(statement, variables, [&](const std::string&) {
                evaluated = true;
                return std::optional<std::string>("1");
            });
            ADD_FAILURE() << "no error for: " << statement;
        } catch (const ibclient::Exception& error) {
            EXPECT_EQ(error.Message(),
                      "Declare variable statement is incorrect SQL:\r\n" + statement);
        }
        EXPECT_EQ(variables.Find("@x"), "old") << statement;
        EXPECT_FALSE(evaluated) << statement;
    }
}

TEST(HandleDeclarationTest, LiteralValuesAreStoredAsWritten) {
    TScriptVariables variables;
    const SelectEvaluator noQuery = [](const std::string&) -> std::optional<std::string> {
        throw std::logic_error("no query expected");
    };
    Declare("VAR @s = 'a = b'  ", variables, noQuery);
    Declare("var @n=42", variables, noQuery);
    Declare("VAR @cols =  ID, NAME ,\r\n  PHONE", variables, noQuery);
    Declare("VAR @q = SELECT\r\n ID FROM T", variables, noQuery);
    Declare("VAR @u = @s", variables, noQuery); // stored as written, not substituted
    EXPECT_EQ(EntryTexts(variables),
              (std::vector<std::string>{"@s='a = b'", "@n=42", "@cols=ID, NAME ,\r\n  PHONE",
                                        "@q=SELECT\r\n ID FROM T", "@u=@s"}));
}

TEST(HandleDeclarationTest, SelectValuesAreComputedWithEarlierVariables) {
    TScriptVariables variables = MakeVariables({{"@t", "CUSTOMER"}});
    std::vector<std::string> queries;
    std::optional<std::string> answer = "42";
    const SelectEvaluator evaluate = [&](const std::string& sql) {
        queries.push_back(sql);
        return answer;
    };
    Declare("VAR @n = select MAX(ID) FROM @t WHERE X = @missing", variables, evaluate);
    EXPECT_EQ(queries, (std::vector<std::string>{"select MAX(ID) FROM CUSTOMER WHERE X = "}));
    EXPECT_EQ(variables.Find("@n"), "42");

    // A query without rows deletes the variable; later references vanish.
    answer = std::nullopt;
    Declare("VAR @N = SELECT ID FROM T WHERE 1 = 0", variables, evaluate);
    EXPECT_EQ(variables.Find("@n"), std::nullopt);
    EXPECT_EQ(SubstituteVariables("SET A = @n", variables), "SET A = ");
    // An empty value text is never stored either.
    variables.Set("@n", "1");
    answer = "";
    Declare("VAR @n = SELECT '' FROM RDB$DATABASE", variables, evaluate);
    EXPECT_EQ(variables.Find("@n"), std::nullopt);
    answer = std::nullopt;
    // ... and does nothing for a name that was never declared.
    Declare("VAR @other = SELECT ID FROM T", variables, evaluate);
    EXPECT_EQ(EntryTexts(variables), (std::vector<std::string>{"@t=CUSTOMER"}));
}

TEST(HandleDeclarationTest, QueryErrorsPropagateAndLeaveTheListAlone) {
    TScriptVariables variables = MakeVariables({{"@n", "1"}});
    const SelectEvaluator failing = [](const std::string&) -> std::optional<std::string> {
        throw ibclient::EIBInterBaseError(-204, "Table unknown");
    };
    EXPECT_THROW(Declare("VAR @n = SELECT X FROM NOWHERE", variables, failing),
                 ibclient::EIBInterBaseError);
    EXPECT_EQ(variables.Find("@n"), "1");
}

} // namespace
} // namespace runner

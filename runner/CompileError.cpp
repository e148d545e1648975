// The failure message of a statement, with the place of a compile error that the status
// vector cut off.
#include "runner/CompileError.h"

#include "ibclient/Errors.h"
#include "ibclient/FullErrorText.h"
#include "ibclient/IBDatabase.h"
#include "platform/Text.h"
#include "runner/RunnerContext.h"
#include "runner/SqlTokenizer.h"

#include <optional>
#include <vector>

namespace runner {

namespace {

constexpr int32_t kNoMetadataUpdate = 335544351;  // isc_no_meta_update

}  // namespace

bool IsRoutineDefinition(const std::string& text) {
    std::vector<std::string> words;
    for (const TSqlToken& token : TokenizeSql(text)) {
        if (token.Kind == TSqlToken::Comment) {
            continue;
        }
        if (token.Kind != TSqlToken::Word || words.size() == 4) {
            break;
        }
        words.push_back(
            platform::AsciiUpperCase(text.substr(token.Begin, token.End - token.Begin)));
    }
    std::size_t object = 1;
    if (words.size() >= 3 && words[0] == "CREATE" && words[1] == "OR" && words[2] == "ALTER") {
        object = 3;
    } else if (words.empty() ||
               (words[0] != "CREATE" && words[0] != "ALTER" && words[0] != "RECREATE")) {
        return false;
    }
    if (object >= words.size()) {
        return false;
    }
    const std::string& kind = words[object];
    return kind == "PROCEDURE" || kind == "TRIGGER" || kind == "FUNCTION" || kind == "PACKAGE";
}

std::string FailureMessage(const RunnerContext& context, const std::string& sentText,
                           const ibclient::Exception& error) {
    const std::string message = error.Message();
    const auto* serverError = dynamic_cast<const ibclient::EIBInterBaseError*>(&error);
    if (serverError == nullptr || serverError->StatusCode() != kNoMetadataUpdate ||
        context.Database == nullptr || message.find("At line ") != std::string::npos ||
        !IsRoutineDefinition(sentText)) {
        return message;
    }
    const std::optional<std::string> whole = ibclient::FullErrorText(
        *context.Database, sentText, static_cast<unsigned short>(context.Database->SQLDialect()));
    if (whole && whole->size() > message.size() && whole->starts_with(message)) {
        return *whole;
    }
    return message;
}

}  // namespace runner

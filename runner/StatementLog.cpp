// The log entries that locate statements and show in detail what was sent and stored.
#include "runner/StatementLog.h"

#include "ibclient/IBDatabase.h"
#include "runner/RunnerContext.h"

namespace runner {

namespace {

constexpr int32_t kErrorLevel = 1;
constexpr int32_t kProgressLevel = 5;

std::string LineText(std::size_t line) {
    return line > 0 ? ":" + std::to_string(line) : std::string();
}

}  // namespace

std::string StatementLocation(const RunnerContext& context) {
    const std::string database =
        context.Database != nullptr ? context.Database->DatabaseName() : std::string();
    return "script: " + context.ScriptPath + LineText(context.StatementLine) +
           ", database: " + database + "\r\n";
}

void LogSkippedComment(const RunnerContext& context) {
    context.LogMessage(kProgressLevel, " skipped a paragraph of comments only: " +
                                           context.ScriptPath + LineText(context.StatementLine));
}

void LogSentStatement(const RunnerContext& context, std::string_view text) {
    if (context.Settings.DebugMode >= kDetailLevel) {
        context.LogMessage(kDetailLevel, " sent SQL: \r\n" + std::string(text) + "\r\n");
    }
}

void LogDeclaredValue(const RunnerContext& context, std::string_view name,
                      const std::string* value) {
    if (context.Settings.DebugMode < kDetailLevel) {
        return;
    }
    context.LogMessage(kDetailLevel, value != nullptr
                                         ? " variable " + std::string(name) + " = " + *value
                                         : " variable " + std::string(name) +
                                               " is undefined: its query gave no row");
}

void LogStoppedScript(RunnerContext& context, std::size_t count, std::size_t firstLine) {
    context.ErrorFlag = true;
    context.StatementLine = firstLine;
    context.LogMessage(kErrorLevel, " error: OnError=Stop: " + std::to_string(count) +
                                        (count == 1 ? " statement" : " statements") +
                                        " from line " + std::to_string(firstLine) +
                                        " on were not run\r\n" + StatementLocation(context));
}

}  // namespace runner

// What the log says about the statements of a script beyond the progress entries: where a
// statement stands (its script line and database), and at level 6 the values declarations
// stored and the texts sent to the server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace runner {

struct RunnerContext;

// The level of the entries that show each declaration's stored value and each statement as
// sent, after substitution.
constexpr int32_t kDetailLevel = 6;

// The line that locates the statement being handled, for its level-1 entries:
// "script: <script path>:<first line>, database: <database name>\r\n" (without ":<line>" before
// the first statement has been read).
std::string StatementLocation(const RunnerContext& context);

// Level 5: a paragraph of nothing but comments was skipped.
void LogSkippedComment(const RunnerContext& context);

// Level 6: the text sent to the server for the statement being handled.
void LogSentStatement(const RunnerContext& context, std::string_view text);

// Level 6: what a declaration stored under `name`: its value, or nothing (a query without a
// row leaves the variable undefined).
void LogDeclaredValue(const RunnerContext& context, std::string_view name,
                      const std::string* value);

// Level 1: OnError=Stop has skipped `count` statements of the script, the first of them on
// `firstLine`.
void LogStoppedScript(RunnerContext& context, std::size_t count, std::size_t firstLine);

}  // namespace runner

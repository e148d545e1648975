// A VAR declaration of the script run against the database: its value stored, the work of
// its query committed at once, and the value shown at log level 6.
#pragma once

#include <string>

namespace runner {

struct RunnerContext;
class TScriptRun;

// Handles the declaration `statement` (`trimmed` is its trimmed form and begins with "VAR ")
// as HandleDeclaration does, computing a SELECT value with the run's query object. A
// computed value's transaction is committed at once and a new one started: what the query
// did (a selectable procedure that inserts a row, a generator it advanced) is kept even when
// a later statement fails and its retry rolls back. Logs the stored value at level 6. Raises
// on a malformed declaration and on an error of the query or of the commit.
void RunDeclaration(RunnerContext& context, TScriptRun& run, const std::string& statement,
                    const std::string& trimmed);

}  // namespace runner

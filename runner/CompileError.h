// The message logged for a failed statement: the error's message, with the place in the body
// for a procedure, trigger, function or package that does not compile.
#pragma once

#include <string>

namespace platform {
class Exception;
}

namespace runner {

struct RunnerContext;

// True when `text` defines a routine with a PSQL body: CREATE, ALTER, RECREATE or CREATE OR
// ALTER of a PROCEDURE, TRIGGER, FUNCTION or PACKAGE (comments before it do not count).
bool IsRoutineDefinition(const std::string& text);

// The message of `error`, raised by running `sentText` on context.Database. When the server
// refused a routine definition ("unsuccessful metadata update") and the message does not say
// where ("At line ..."), the status vector had no room for it: the definition is run once more
// through FullErrorText, in a transaction that is rolled back, and its whole text is taken
// when it begins with what `error` says.
std::string FailureMessage(const RunnerContext& context, const std::string& sentText,
                           const platform::Exception& error);

}  // namespace runner

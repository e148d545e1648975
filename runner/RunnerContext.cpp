// The run context's logging entry point.
#include "runner/RunnerContext.h"

#include "logging/Logger.h"

namespace runner {

void RunnerContext::LogMessage(int32_t level, std::string_view message) const {
    if (Log != nullptr) {
        Log->Log(level, message);
    }
}

} // namespace runner

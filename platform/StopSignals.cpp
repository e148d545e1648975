// The names of the stop signals, the same on every system.
#include "platform/StopSignals.h"

#include <csignal>

namespace platform {

std::string StopSignalName(int signal) {
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    default:
        return "signal " + std::to_string(signal);
    }
}

}  // namespace platform

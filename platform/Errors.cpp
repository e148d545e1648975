// The common error base and the runtime's file error messages.
#include "platform/Errors.h"

namespace platform {

EInOutError::EInOutError(int32_t errorCode)
    : Exception(FileErrorMessage(errorCode)), errorCode_(errorCode) {}

std::string FileErrorMessage(int32_t number) {
    switch (number) {
    case 2:
        return "File not found";
    case 3:
        return "Invalid filename";
    case 4:
        return "Too many open files";
    case 5:
        return "File access denied";
    case 100:
        return "Read beyond end of file";
    case 101:
        return "Disk full";
    case 106:
        return "Invalid numeric input";
    default:
        return "I/O error " + std::to_string(number);
    }
}

}  // namespace platform

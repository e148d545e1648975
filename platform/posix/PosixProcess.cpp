// The process on POSIX: the command line is UTF-8 already; the error stream is stderr.
#include "platform/Process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    return arguments;
}

bool HasErrorStream() noexcept {
    return ::fcntl(STDERR_FILENO, F_GETFD) >= 0;
}

bool WriteErrorStream(std::string_view text) noexcept {
    const bool written = std::fwrite(text.data(), 1, text.size(), stderr) == text.size();
    return std::fflush(stderr) == 0 && written;
}

}  // namespace platform

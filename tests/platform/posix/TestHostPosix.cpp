// The POSIX part of the platform tests' set-up: child processes with posix_spawn, the
// environment, the ru_RU.UTF-8 locale.
#include "tests/platform/TestHost.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <fcntl.h>

extern char** environ;

namespace platformtest {

Child::Child(const std::string& program, const std::vector<std::string>& arguments,
             ErrorStream error, const std::string& errorFile) {
    std::vector<std::string> argv = arguments;
    argv.insert(argv.begin(), program);
    std::vector<char*> pointers;
    for (std::string& argument : argv) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (error == ErrorStream::None) {
        posix_spawn_file_actions_addclose(&actions, STDERR_FILENO);
    } else if (error == ErrorStream::ToFile) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, pointers.data(), environ) == 0) {
        process_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
    Wait();
}

int Child::Wait() {
    if (!waited_ && process_ > 0) {
        waited_ = true;
        int status = 0;
        if (::waitpid(static_cast<pid_t>(process_), &status, 0) == static_cast<pid_t>(process_)) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
    return exitCode_;
}

std::string SelfPath() {
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

void SetEnvironment(const std::string& name, const std::string& value) {
    if (value.empty()) {
        ::unsetenv(name.c_str());
    } else {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
}

RussianRegionalSettings::RussianRegionalSettings() {
    const char* const old = std::getenv("LC_ALL");
    hadValue_ = old != nullptr;
    oldValue_ = hadValue_ ? old : "";
    const locale_t russian = ::newlocale(LC_ALL_MASK, "ru_RU.UTF-8", nullptr);
    if (russian != nullptr) {
        ::freelocale(russian);
        ::setenv("LC_ALL", "ru_RU.UTF-8", 1);
        active_ = true;
    }
}

RussianRegionalSettings::~RussianRegionalSettings() {
    if (hadValue_) {
        ::setenv("LC_ALL", oldValue_.c_str(), 1);
    } else {
        ::unsetenv("LC_ALL");
    }
}

std::string ClientLibraryFileName() {
    return "libfbclient.so.2";
}

std::string SystemFolder() {
    return "/usr/bin";
}

}  // namespace platformtest

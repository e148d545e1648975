// The scratch folder of a fuzz target that hands its input to code reading a file: one folder
// of this process, removed when the process ends, and the input written as the runner's script
// file in it.
#pragma once

#include "runner/ScriptReader.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fuzzcheck {

// Under TMPDIR when set, else in memory (/dev/shm) where there is such a folder, since a file
// is written for every input.
struct ScratchFolder {
    std::string path;
    ScratchFolder() {
        const char* tmpdir = std::getenv("TMPDIR");
        const std::string base = tmpdir != nullptr && *tmpdir != '\0'        ? tmpdir
                                 : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                             : "/tmp";
        std::string pattern = base + "/dbu-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
};

inline const ScratchFolder& Scratch() {
    static const ScratchFolder folder;
    return folder;
}

// The executable path whose script file is `input`: the input is written to that file.
inline std::string ExecutableWithScript(std::string_view input) {
    std::string executable = Scratch().path + "/dbupgrade";
    std::ofstream out(runner::ScriptPath(executable, ""), std::ios::binary | std::ios::trunc);
    out.write(input.data(), static_cast<std::streamsize>(input.size()));
    if (!out) {
        std::abort();
    }
    return executable;
}

} // namespace fuzzcheck

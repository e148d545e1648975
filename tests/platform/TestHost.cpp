// The portable part of the platform tests' set-up, and the child's part of main().
#include "tests/platform/TestHost.h"

#include "platform/FileLock.h"
#include "platform/Library.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/RunLock.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace platformtest {

std::filesystem::path Fs(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TempFolder::TempFolder(std::string_view suffix) {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            base / Fs("dbu-platform-" + std::to_string(random()) + std::string(suffix));
        if (std::filesystem::create_directory(candidate)) {
            path_ = Utf8(candidate);
            return;
        }
    }
    throw std::runtime_error("no temporary folder");
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    // Files made read-only by a test are made writable again, or Windows keeps them.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Fs(path_), ignored)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(Fs(path_), ignored);
}

std::string TempFolder::File(std::string_view name) const {
    return Utf8(Fs(path_) / Fs(name));
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(Fs(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(Fs(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string SampleLibraryPath() {
    return Utf8(Fs(SelfPath()).parent_path() / PLATFORM_SAMPLE_LIBRARY_NAME);
}

int RunChild(const std::string& program, const std::vector<std::string>& arguments,
             ErrorStream error, const std::string& errorFile) {
    Child child(program, arguments, error, errorFile);
    return child.Wait();
}

namespace {

// report OUT ARG: what the platform says about this process, one "name=value" line each.
int Report(const std::vector<std::string>& arguments) {
    platform::Library client = platform::LoadClientLibrary();
    using Answer = int (*)();
    const auto answer = reinterpret_cast<Answer>(client.Symbol("platform_test_answer"));
    const bool hasErrorStream = platform::HasErrorStream();
    std::string report = "path=" + platform::ExecutableFullPath(arguments[0]) + "\n";
    report += "arg=" + arguments[4] + "\n";
    report +=
        "client=" + (answer != nullptr ? std::to_string(answer()) : std::string("none")) + "\n";
    report += std::string("stderr=") + (hasErrorStream ? "yes" : "no") + "\n";
    WriteBytes(arguments[3], report);
    if (hasErrorStream &&
        !platform::WriteErrorStream("report: \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0\n")) {
        return 3;
    }
    return 0;
}

// append PATH COUNT TAG: COUNT entries "TAG i" padded to 1000 bytes, each appended on its own.
int Append(const std::vector<std::string>& arguments) {
    const int count = std::stoi(arguments[4]);
    bool waitForLock = true;
    for (int i = 0; i < count; ++i) {
        std::string entry = arguments[5] + " " + std::to_string(i) + " ";
        entry.append(998 - entry.size(), 'x');
        entry += "\r\n";
        if (!platform::AppendUnderLock(arguments[3], entry, waitForLock)) {
            return 1;
        }
    }
    return 0;
}

// trylock PATH: 0 when the run lock of PATH was taken, 1 when another holder has it.
int TryLock(const std::vector<std::string>& arguments) {
    return platform::RunLock::TryAcquire(arguments[3]) ? 0 : 1;
}

}  // namespace

int ChildMain(const std::vector<std::string>& arguments) {
    const std::string& action = arguments.size() > 2 ? arguments[2] : "";
    if (action == "report" && arguments.size() == 5) {
        return Report(arguments);
    }
    if (action == "append" && arguments.size() == 6) {
        return Append(arguments);
    }
    if (action == "trylock" && arguments.size() == 4) {
        return TryLock(arguments);
    }
    return 100;
}

}  // namespace platformtest

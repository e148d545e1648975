// Shared set-up of the platform tests, which run on Linux and, cross-built, under Wine: UTF-8
// paths as std::filesystem paths, a temporary folder, whole-file reads and writes, this test
// program started again as a child process (main.cpp runs the child's part), and the few
// things a test must do through the system itself (implemented in posix/ and windows/).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platformtest {

// A UTF-8 path as a std::filesystem path, and back.
std::filesystem::path Fs(std::string_view utf8);
std::string Utf8(const std::filesystem::path& path);

// A fresh folder in the system's temporary folder, its name ending in `suffix`; removed with
// its content (read-only files too).
class TempFolder {
public:
    explicit TempFolder(std::string_view suffix = "");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    // The UTF-8 path of `name` inside the folder.
    std::string File(std::string_view name) const;

private:
    std::string path_;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, std::string_view bytes);

// What a child's standard error stream is.
enum class ErrorStream { Inherited, None, ToFile };

// A child process: this program, or a copy of it, started with `arguments`.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& arguments,
          ErrorStream error = ErrorStream::Inherited, const std::string& errorFile = "");
    ~Child();  // waits for the child when Wait was not called
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Waits for the end of the child; its exit code (-1 when it could not be started).
    int Wait();

private:
    std::intptr_t process_ = -1;
    int exitCode_ = -1;
    bool waited_ = false;
};

// Starts the child and waits for it; its exit code.
int RunChild(const std::string& program, const std::vector<std::string>& arguments,
             ErrorStream error = ErrorStream::Inherited, const std::string& errorFile = "");

// This test program's own file (the system's answer, not the one under test).
std::string SelfPath();

// Sets (or, with an empty value, removes) an environment variable of this process.
void SetEnvironment(const std::string& name, const std::string& value);

// Russian regional settings for one scope: POSIX sets LC_ALL=ru_RU.UTF-8 (when that locale
// is installed) and puts the old value back; on Windows they are the user's locale, which
// comes from the locale Wine was started in (tests/windows/wine-env.sh: ru_RU.UTF-8).
class RussianRegionalSettings {
public:
    RussianRegionalSettings();
    ~RussianRegionalSettings();
    RussianRegionalSettings(const RussianRegionalSettings&) = delete;
    RussianRegionalSettings& operator=(const RussianRegionalSettings&) = delete;
    // False when the settings are not Russian (the locale is missing).
    bool Active() const { return active_; }

private:
    bool active_ = false;
    bool hadValue_ = false;
    std::string oldValue_;
};

// The file name that the platform loads the client library by first: libfbclient.so.2 or
// fbclient.dll.
std::string ClientLibraryFileName();

// A folder of the operating system itself, where no setup keeps its files: /usr/bin, or the
// Windows folder's System32.
std::string SystemFolder();

// The sample library of these tests (it exports `int platform_test_answer(void)`, 42).
std::string SampleLibraryPath();

// The child's part of main(): runs the action that `arguments` (after "--child") names and
// returns the process's exit code.
int ChildMain(const std::vector<std::string>& arguments);

}  // namespace platformtest

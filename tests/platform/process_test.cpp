// The process as the platform sees it, from a copy of this test program in a folder with a
// Cyrillic name: its own full path, a command-line argument outside the active code page, the
// client library beside it, and its standard error stream when it has one and when it has none.
#include "tests/platform/TestHost.h"

#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace platformtest;

TEST(Process, CopyInCyrillicFolderReportsItself) {
    const TempFolder dir(
        "-\xD0\x9A\xD0\xB8\xD1\x80\xD0\xB8\xD0\xBB\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0");
    const std::string folder =
        dir.File("\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0 setup");  // "Папка setup"
    std::filesystem::create_directory(Fs(folder));
    const std::string program = Utf8(Fs(folder) / Fs("upgrade" + Utf8(Fs(SelfPath()).extension())));
    std::filesystem::copy_file(Fs(SelfPath()), Fs(program));
    std::filesystem::copy_file(Fs(SampleLibraryPath()), Fs(folder) / Fs(ClientLibraryFileName()));
    SetEnvironment("DBU_CLIENT_LIBRARY", "");

    // "中文 и пробел": Chinese has no form in code page 1251.
    const std::string argument =
        "\xE4\xB8\xAD\xE6\x96\x87 \xD0\xB8 \xD0\xBF\xD1\x80\xD0\xBE\xD0\xB1\xD0\xB5\xD0\xBB";
    const struct {
        ErrorStream error;
        const char* hasErrorStream;
        const char* errorText;
    } cases[] = {
        {ErrorStream::ToFile, "yes", "report: \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0\n"},
        {ErrorStream::None, "no", ""},
    };
    for (const auto& c : cases) {
        const std::string report = dir.File("report.txt");
        const std::string errors = dir.File("errors.txt");
        WriteBytes(errors, "");
        ASSERT_EQ(RunChild(program, {"--child", "report", report, argument}, c.error, errors), 0)
            << c.hasErrorStream;
        EXPECT_EQ(ReadBytes(report), "path=" + program + "\narg=" + argument +
                                         "\nclient=42\nstderr=" + c.hasErrorStream + "\n");
        EXPECT_EQ(ReadBytes(errors), c.errorText);
    }
}

// The folder of a program without its settings file: a setup's own folder (a Cyrillic name
// too) is fit; the system's folder is not, whatever the process may write.
TEST(Paths, ProgramFolderFitness) {
    const TempFolder dir("-Установка");
    WriteBytes(dir.File("upgrade.ini"), "");
    EXPECT_TRUE(platform::PathExists(dir.File("upgrade.ini")));
    EXPECT_TRUE(platform::PathExists(dir.Path()));
    EXPECT_FALSE(platform::PathExists(dir.File("upgrade.log")));
    EXPECT_EQ(platform::UnfitProgramFolder(dir.File("upgrade.exe")), std::nullopt);
    EXPECT_EQ(platform::UnfitProgramFolder(Utf8(Fs(SystemFolder()) / Fs("upgrade.exe"))),
              std::optional<std::string>("a system folder"));
}

TEST(Paths, ExtensionOfTheLastComponentOnly) {
    const std::string folder = Utf8(Fs("setup.v2") / Fs("dbupgrade"));
    EXPECT_EQ(platform::ChangeFileExt(folder, ".ini"), folder + ".ini");
    EXPECT_EQ(platform::ExtractFileExt(folder), "");
    EXPECT_EQ(platform::ChangeFileExt(folder + ".exe", ".log"), folder + ".log");
    EXPECT_EQ(platform::ExtractFilePath(folder), Utf8(Fs("setup.v2") / Fs("")));
}

}  // namespace

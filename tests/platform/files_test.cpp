// Files: the read under a read lock with its file error numbers, whole-file reads, and the
// replacement of a file's content (new file, existing file, read-only file, failing update).
#include "tests/platform/TestHost.h"

#include "platform/Errors.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

namespace {

using namespace platformtest;
namespace fs = std::filesystem;

TEST(ReadLockedFile, ReadsTheWholeFile) {
    const TempFolder dir;
    const std::string path = dir.File("script.sql");
    std::string content(100000, 'a');
    content += "\xD0\xAF\r\nend";
    WriteBytes(path, content);
    platform::ReadLockedFile file(path);
    EXPECT_EQ(file.Size(), content.size());
    std::string read;
    char buffer[4096];
    while (const std::size_t n = file.Read(buffer, sizeof buffer)) {
        read.append(buffer, n);
    }
    EXPECT_EQ(read, content);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(platform::ReadRegularFile(path), content);
}

TEST(ReadLockedFile, FileErrorNumbers) {
    const TempFolder dir;
    WriteBytes(dir.File("plain"), "");
    const struct {
        std::string path;
        int32_t number;
    } cases[] = {
        {dir.File("missing.sql"), 2},
        {Utf8(Fs(dir.File("plain")) / "x.sql"), 3},
        {dir.Path(), 5},  // a folder
    };
    for (const auto& c : cases) {
        try {
            platform::ReadLockedFile file(c.path);
            ADD_FAILURE() << "opened " << c.path;
        } catch (const platform::EInOutError& error) {
            EXPECT_EQ(error.ErrorCode(), c.number) << c.path;
            EXPECT_EQ(error.Message(), platform::FileErrorMessage(c.number)) << c.path;
        }
        EXPECT_EQ(platform::ReadRegularFile(c.path), std::nullopt) << c.path;
    }
}

TEST(ReplaceFileContent, ReplacesCreatesAndRefuses) {
    const TempFolder dir;
    const struct {
        const char* name;
        const char* before;  // nullptr: no file
        bool readOnly;
        platform::ReplaceOutcome outcome;
        const char* after;
    } cases[] = {
        {"existing", "[Common]\r\nSetupStatus=Cancel\r\n", false,
         platform::ReplaceOutcome::Replaced, "[Common]\r\nSetupStatus=Cancel\r\n+"},
        {"missing", nullptr, false, platform::ReplaceOutcome::Replaced, "+"},
        {"read-only", "keep", true, platform::ReplaceOutcome::NotWritten, "keep"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.File(c.name);
        if (c.before != nullptr) {
            WriteBytes(path, c.before);
        }
        if (c.readOnly) {
            fs::permissions(
                Fs(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                fs::perm_options::remove);
        }
        const fs::perms permissions =
            c.before != nullptr ? fs::status(Fs(path)).permissions() : fs::perms::unknown;
        std::string seen = "(not called)";
        const platform::ReplaceOutcome outcome =
            platform::ReplaceFileContent(path, [&](std::string_view current) {
                seen = current;
                return std::string(current) + "+";
            });
        EXPECT_EQ(outcome, c.outcome) << c.name;
        EXPECT_EQ(ReadBytes(path), c.after) << c.name;
        if (c.outcome == platform::ReplaceOutcome::Replaced) {
            EXPECT_EQ(seen, c.before != nullptr ? c.before : "") << c.name;
        }
        if (c.before != nullptr) {
            EXPECT_EQ(fs::status(Fs(path)).permissions(), permissions) << c.name;
        }
    }
    // An update that fails writes nothing; no temporary file is left in either case.
    EXPECT_THROW(platform::ReplaceFileContent(dir.File("existing"),
                                              [](std::string_view) -> std::string {
                                                  throw platform::Exception("no update");
                                              }),
                 platform::Exception);
    EXPECT_EQ(ReadBytes(dir.File("existing")), "[Common]\r\nSetupStatus=Cancel\r\n+");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Fs(dir.Path()))) {
        ++files;
    }
    EXPECT_EQ(files, 3u);
}

}  // namespace

// The executable's path as the program was started: by a path, through PATH, or neither.
#include "platform/Paths.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using platform::ExecutableFullPath;

// Sets PATH for one scope and puts the old value back.
class PathVariable {
public:
    explicit PathVariable(const std::string& value) {
        const char* old = std::getenv("PATH");
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        ::setenv("PATH", value.c_str(), 1);
    }
    ~PathVariable() {
        if (had_) {
            ::setenv("PATH", old_.c_str(), 1);
        } else {
            ::unsetenv("PATH");
        }
    }
    PathVariable(const PathVariable&) = delete;
    PathVariable& operator=(const PathVariable&) = delete;

private:
    bool had_ = false;
    std::string old_;
};

// This test program stands for the runner: a symbolic link to it in a setup folder.
TEST(ExecutablePath, IsThePathItWasStartedBy) {
    testsupport::TempDir dir;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string setup = dir.File("set up");
    std::filesystem::create_directory(setup);
    const std::string link = setup + "/upgrade";
    ASSERT_EQ(::symlink(self.c_str(), link.c_str()), 0);
    ASSERT_EQ(::symlink("upgrade", (setup + "/again").c_str()), 0);

    EXPECT_EQ(platform::ExecutableFullPath(link), link);
    EXPECT_EQ(platform::ExecutableFullPath(setup + "/again"), setup + "/again")
        << "the last link is kept";
    EXPECT_EQ(platform::ExecutableFullPath(dir.Path() + "//./set up/./upgrade"), link);
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    EXPECT_EQ(platform::ExecutableFullPath("./set up/upgrade"), link);
    EXPECT_EQ(platform::ExecutableFullPath("set up/../set up/upgrade"),
              dir.Path() + "/set up/../set up/upgrade");
    {
        // Through PATH: the first folder that holds this program; a folder whose file of that
        // name is another program does not count; an empty entry is the current folder.
        std::filesystem::create_directory(dir.File("other"));
        ASSERT_EQ(::symlink("/bin/true", dir.File("other/upgrade").c_str()), 0);
        const PathVariable path(dir.File("none") + ":" + dir.File("other") + ":" + setup + ":");
        EXPECT_EQ(platform::ExecutableFullPath("upgrade"), link);
        const PathVariable current("::/bin");
        EXPECT_EQ(platform::ExecutableFullPath("set up/upgrade"), link);
        std::filesystem::current_path(setup);
        EXPECT_EQ(platform::ExecutableFullPath("again"), setup + "/again");
    }
    std::filesystem::current_path(cwd);
    // A name that is not this program's file, or none: the resolved path of the program.
    for (const char* name : {"", "no-such-program", "/bin/true", "./no/such/file"}) {
        EXPECT_EQ(platform::ExecutableFullPath(name), self) << name;
    }
}

}  // namespace

// Libraries loaded at run time, and the client library's search: the DBU_CLIENT_LIBRARY
// override, the executable's folder first, and never a library planted in the current folder.
#include "tests/platform/TestHost.h"

#include "platform/Library.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

namespace {

using namespace platformtest;
using Answer = int (*)();

TEST(Library, LoadsLooksUpAndReleases) {
    platform::Library library = platform::Library::Load(SampleLibraryPath());
    ASSERT_TRUE(library.IsLoaded()) << library.ErrorText();
    const auto answer = reinterpret_cast<Answer>(library.Symbol("platform_test_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(library.Symbol("no_such_entry_point"), nullptr);
    EXPECT_FALSE(library.ErrorText().empty());

    platform::Library moved = std::move(library);
    EXPECT_FALSE(library.IsLoaded());
    moved.Release();
    EXPECT_FALSE(moved.IsLoaded());

    const TempFolder dir;
    const platform::Library missing = platform::Library::Load(dir.File(ClientLibraryFileName()));
    EXPECT_FALSE(missing.IsLoaded());
    EXPECT_FALSE(missing.ErrorText().empty());
}

TEST(Library, ClientLibraryCandidates) {
    SetEnvironment("DBU_CLIENT_LIBRARY", SampleLibraryPath());
    EXPECT_EQ(platform::ClientLibraryCandidates(), std::vector<std::string>{SampleLibraryPath()});
    SetEnvironment("DBU_CLIENT_LIBRARY", "");
    const std::vector<std::string> candidates = platform::ClientLibraryCandidates();
    ASSERT_FALSE(candidates.empty());
    EXPECT_EQ(candidates.front(), Utf8(Fs(SelfPath()).parent_path() / Fs(ClientLibraryFileName())));
    // The rest is the system's search: a full path, or a bare name without any folder (which
    // would be looked for in the current folder).
    for (const std::string& candidate : candidates) {
        EXPECT_TRUE(Fs(candidate).is_absolute() || platform::ExtractFilePath(candidate).empty())
            << candidate;
    }
}

TEST(Library, NeverFromTheCurrentFolder) {
    SetEnvironment("DBU_CLIENT_LIBRARY", "");
    const TempFolder dir;
    for (const std::string& name : {ClientLibraryFileName(), std::string("gds32.dll")}) {
        std::filesystem::copy_file(Fs(SampleLibraryPath()), Fs(dir.File(name)));
    }
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(Fs(dir.Path()));
    platform::Library client = platform::LoadClientLibrary();
    std::filesystem::current_path(previous);
    // The system's own client library may load; the planted one must not.
    EXPECT_EQ(client.IsLoaded() ? client.Symbol("platform_test_answer") : nullptr, nullptr);
}

}  // namespace

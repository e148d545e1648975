// Tests of the client library binding: the real libfbclient in this process, and the stub
// libraries and search-order cases each in a process of their own (binding_probe).
#include "ibclient/Binding.h"
#include "ibclient/Errors.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstddef>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace ibclient;
using testsupport::ProcessResult;
using testsupport::RunProcess;
using testsupport::TempDir;

std::string LibraryFileOf(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

TEST(BindingTest, RealLibraryLoadsAsVersionSixWithEverySlotFromIt) {
    ASSERT_TRUE(TryLoadClientLibrary());
    EXPECT_EQ(ClientLibraryVersion(), 6);
    const ClientEntryPoints& api = ClientApi();
    // Every slot, the version-6 ones included, must point into the real library: an empty
    // slot or a fallback would show up here.
#define EXPECT_FROM_CLIENT_LIBRARY(name)                                                           \
    EXPECT_NE(api.name, nullptr) << #name;                                                         \
    EXPECT_NE(LibraryFileOf(reinterpret_cast<const void*>(api.name)).find("libfbclient"),          \
              std::string::npos)                                                                   \
        << #name;
    IBCLIENT_REQUIRED_ENTRY_POINTS(EXPECT_FROM_CLIENT_LIBRARY)
    EXPECT_FROM_CLIENT_LIBRARY(isc_rollback_retaining)
    IBCLIENT_V6_ENTRY_POINTS(EXPECT_FROM_CLIENT_LIBRARY)
    // Firebird 3 has the optional ones as well.
    IBCLIENT_OPTIONAL_ENTRY_POINTS(EXPECT_FROM_CLIENT_LIBRARY)
#undef EXPECT_FROM_CLIENT_LIBRARY
}

TEST(BindingTest, LaterChecksKeepTheLoadedLibraryAndUnloadAllowsALoadAgain) {
    RequireClientLibrary();
    const auto attach = ClientApi().isc_attach_database;
    const ClientEntryPoints* table = &ClientApi();
    EXPECT_NO_THROW(RequireClientLibrary());
    EXPECT_TRUE(TryLoadClientLibrary());
    EXPECT_EQ(&ClientApi(), table);
    EXPECT_EQ(ClientApi().isc_attach_database, attach);

    UnloadClientLibrary();
    UnloadClientLibrary();  // a second release is a no-op
    // The table is never handed out empty: asking for it loads the library again.
    EXPECT_NE(ClientApi().isc_attach_database, nullptr);
    EXPECT_EQ(ClientLibraryVersion(), 6);
}

TEST(BindingTest, XSQLDALengthIsThePlatformLayout) {
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(XSQLDALength(n), XSQLDA_LENGTH(n)) << n;
    }
    for (int n = 0; n <= 5; ++n) {
        EXPECT_EQ(XSQLDALength(n),
                  offsetof(XSQLDA, sqlvar) + static_cast<std::size_t>(n) * sizeof(XSQLVAR))
            << n;
    }
    EXPECT_EQ(XSQLDALength(-3), XSQLDALength(0));
}

// The layer must reach the client library only through the dlopen'ed table: no object of
// the ibclient library refers to an API symbol, and no program links libfbclient.
TEST(BindingTest, NothingLinksTheClientLibraryDirectly) {
    const ProcessResult nm = RunProcess({"nm", "-u", DBU_IBCLIENT_LIBRARY});
    ASSERT_EQ(nm.exitCode, 0) << nm.err;
    std::istringstream lines(nm.out);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string symbol = line.substr(line.find_last_of(' ') + 1);
        for (const char* prefix : {"isc_", "fb_", "BLOB_", "gds_", "gds__"}) {
            EXPECT_NE(symbol.rfind(prefix, 0), 0U) << "direct reference to " << symbol;
        }
    }
    for (const std::string& program : {testsupport::ExecutablePath(),
                                       std::filesystem::read_symlink("/proc/self/exe").string()}) {
        const ProcessResult elf = RunProcess({"readelf", "-d", program});
        ASSERT_EQ(elf.exitCode, 0) << elf.err;
        EXPECT_EQ(elf.out.find("libfbclient"), std::string::npos) << program;
        EXPECT_EQ(elf.out.find("libgds"), std::string::npos) << program;
    }
}

// One case of the probe program: which libraries lie in its folder (file name, stub),
// what DBU_CLIENT_LIBRARY says ("" = unset; "{dir}" stands for the folder), and the lines
// it must print ("{dir}" again the folder, "{system}" the library found by dlopen's search).
struct ProbeCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    std::string override;
    std::vector<std::string> expected;
};

const char* const kFallbackLines[] = {
    "EIBClientError 3 isc_encode_sql_date is an InterBase 6 function. Please upgrade to "
    "InterBase 6 to use this functonality",
    "EIBClientError 3 isc_rollback_retaining is an InterBase 6 function. Please upgrade to "
    "InterBase 6 to use this functonality",
};

std::vector<std::string> VersionFive(const std::string& file) {
    return {"version 5 " + file, "version 5 " + file, kFallbackLines[0], kFallbackLines[1]};
}

std::vector<std::string> Twice(const std::string& line) { return {line, line}; }

const std::string kNotFound =
    "EIBClientError 1 InterBase library gds32.dll not found in the path. Please install "
    "InterBase to use this functionality";

std::string Substituted(std::string text, const std::string& dir) {
    for (auto at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}")) {
        text.replace(at, 5, dir);
    }
    return text;
}

TEST(BindingTest, StubLibrariesAndSearchOrderInProcessesOfTheirOwn) {
    const std::vector<ProbeCase> cases = {
        {"version 5: fallbacks raise client error 3 naming the replaced function",
         {{"libfbclient.so.2", DBU_STUB_CLIENT_V5}},
         "",
         VersionFive("{dir}/libfbclient.so.2")},
        {"missing isc_free: every check raises the OS error again",
         {{"libfbclient.so.2", DBU_STUB_CLIENT_NO_FREE}},
         "",
         Twice("EOSError 127 System Error.  Code: 127.\\r\\n{dir}/libfbclient.so.2: undefined "
               "symbol: isc_free")},
        {"version 6 library missing a version-6 entry point",
         {{"libfbclient.so.2", DBU_STUB_CLIENT_NO_ENCODE_TIMESTAMP}},
         "",
         Twice("EOSError 127 System Error.  Code: 127.\\r\\n{dir}/libfbclient.so.2: undefined "
               "symbol: isc_encode_timestamp")},
        {"nothing in the folder: the system's libfbclient", {}, "", Twice("version 6 {system}")},
        {"own folder wins over the system even under an old name",
         {{"libgds.so", DBU_STUB_CLIENT_V5}},
         "",
         VersionFive("{dir}/libgds.so")},
        {"in the own folder libfbclient.so.2 comes before libfbclient.so",
         {{"libfbclient.so.2", DBU_STUB_CLIENT_V5}, {"libfbclient.so", DBU_STUB_CLIENT_NO_FREE}},
         "",
         VersionFive("{dir}/libfbclient.so.2")},
        {"DBU_CLIENT_LIBRARY wins over the own folder",
         {{"libfbclient.so.2", DBU_STUB_CLIENT_NO_FREE}, {"chosen.so", DBU_STUB_CLIENT_V5}},
         "{dir}/chosen.so",
         VersionFive("{dir}/chosen.so")},
        {"DBU_CLIENT_LIBRARY naming no file: no library at all, no other search",
         {{"libfbclient.so.2", DBU_STUB_CLIENT_V5}},
         "{dir}/absent.so",
         Twice(kNotFound)},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        const std::string probe = dir.File("binding_probe");
        std::filesystem::copy_file(DBU_BINDING_PROBE, probe);
        std::filesystem::permissions(probe, std::filesystem::perms::owner_all);
        for (const auto& [file, stub] : c.files) {
            std::filesystem::copy_file(stub, dir.File(file));
        }
        std::vector<std::string> argv = {"env", "-u", "DBU_CLIENT_LIBRARY"};
        if (!c.override.empty()) {
            argv.push_back("DBU_CLIENT_LIBRARY=" + Substituted(c.override, dir.Path()));
        }
        argv.push_back(probe);
        const ProcessResult r = RunProcess(argv, dir.Path());
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

        std::vector<std::string> lines;
        std::istringstream out(r.out);
        for (std::string line; std::getline(out, line);) {
            lines.push_back(line);
        }
        ASSERT_EQ(lines.size(), c.expected.size()) << r.out << r.err;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string expected = Substituted(c.expected[i], dir.Path());
            const auto system = expected.find("{system}");
            if (system == std::string::npos) {
                EXPECT_EQ(lines[i], expected);
                continue;
            }
            const std::string prefix = expected.substr(0, system);
            ASSERT_EQ(lines[i].substr(0, prefix.size()), prefix);
            const std::string file = lines[i].substr(prefix.size());
            EXPECT_EQ(file.rfind(dir.Path(), 0), std::string::npos) << file;
            EXPECT_EQ(std::filesystem::path(file).filename(), "libfbclient.so.2") << file;
        }
    }
}

}  // namespace

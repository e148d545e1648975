// Fixtures shared by the test executables: temporary folders, real Firebird databases made
// with isql-fb, child processes and whole-file reads and writes.
#pragma once

#include <string>
#include <vector>

// GCC 12 at -O3 (Release) reports a false -Wrestrict inside std::string's
// operator+(const char*, std::string&&) once it is inlined into a long test body (GCC bug
// 105651: the insert at the front of a moved string is taken for an overlapping copy). These
// two wrap exactly the statements where it fires; every other place keeps the warning.
#if defined(__GNUC__) && !defined(__clang__)
#define DBU_FALSE_WRESTRICT_BEGIN \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wrestrict\"")
#define DBU_FALSE_WRESTRICT_END _Pragma("GCC diagnostic pop")
#else
#define DBU_FALSE_WRESTRICT_BEGIN
#define DBU_FALSE_WRESTRICT_END
#endif

namespace testsupport {

// A fresh folder under /tmp, readable and writable by everyone (so the Firebird server,
// running as its own user, can open databases in it); removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    // Path of a file inside the folder.
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct ProcessResult {
    int exitCode = -1;  // exit status, or 128 + signal number when killed
    std::string out;
    std::string err;
};

// Runs argv[0] (a path) with the given arguments and working folder; waits for it.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir = "",
                         const std::string& input = "");

// Runs an isql-fb script (embedded unless the script connects to "localhost:...").
// Returns isql-fb's output; fails the current test when isql-fb exits non-zero.
std::string RunIsql(const std::string& script);

// Same, for a script that works on an existing database (passed to isql-fb as argument).
std::string RunIsqlOn(const std::string& database, const std::string& script);

// The runner's fixed SYSDBA password, used for "localhost:" connections.
constexpr const char* kServerPassword = "quillfern";

// Creates a database with the given SQL dialect and WIN1251 as default character set, as
// `user` (its owner) with `password`, then runs `ddl` (statements terminated with ";") in it.
// `database` is a path or "localhost:path".
void CreateDatabase(const std::string& database, int dialect = 1, const std::string& ddl = "",
                    const std::string& user = "SYSDBA",
                    const std::string& password = kServerPassword);

// True when a Firebird server answers on localhost:3050.
bool ServerAvailable();

// A user of the shared server with a name of its own and `password`, allowed to create
// databases. Users are managed through a connection, so it is made through a database of its
// own on the server; it is dropped again, its grant first, when its scope ends.
class ServerUser {
public:
    explicit ServerUser(std::string password);
    ~ServerUser();
    ServerUser(const ServerUser&) = delete;
    ServerUser& operator=(const ServerUser&) = delete;
    const std::string& Name() const { return name_; }
    const std::string& Password() const { return password_; }

private:
    TempDir dir_;
    std::string admin_;
    std::string name_;
    std::string password_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// The built dbupgrade executable and the source tree.
std::string ExecutablePath();
std::string SourceDir();

}  // namespace testsupport

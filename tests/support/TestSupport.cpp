#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
    std::string tmpl = "/tmp/dbu-test-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = tmpl;
    chmod(path_.c_str(), 0777);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

namespace {

void ReadAll(int outFd, int errFd, std::string& out, std::string& err) {
    std::array<pollfd, 2> fds{pollfd{outFd, POLLIN, 0}, pollfd{errFd, POLLIN, 0}};
    int open = 2;
    std::array<char, 65536> buf{};
    while (open > 0) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            const ssize_t n = read(fds[i].fd, buf.data(), buf.size());
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? out : err).append(buf.data(), static_cast<std::size_t>(n));
            }
        }
    }
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         const std::string& input) {
    int outPipe[2];
    int errPipe[2];
    int inPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0 || pipe(inPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], inPipe[0], inPipe[1]}) {
            close(fd);
        }
        if (!workDir.empty() && chdir(workDir.c_str()) != 0) {
            _exit(126);
        }
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        execvp(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    close(inPipe[0]);
    if (!input.empty()) {
        const ssize_t written = write(inPipe[1], input.data(), input.size());
        (void)written;
    }
    close(inPipe[1]);
    ProcessResult result;
    ReadAll(outPipe[0], errPipe[0], result.out, result.err);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exitCode = 128 + WTERMSIG(status);
    }
    return result;
}

namespace {

std::string RunIsqlArgs(std::vector<std::string> args, const std::string& script) {
    TempDir dir;
    const std::string file = dir.File("script.sql");
    WriteFile(file, script);
    args.insert(args.begin(), "isql-fb");
    args.push_back("-q");
    args.push_back("-i");
    args.push_back(file);
    const ProcessResult r = RunProcess(args);
    EXPECT_EQ(r.exitCode, 0) << "isql-fb failed:\n" << script << "\n" << r.out << r.err;
    return r.out + r.err;
}

}  // namespace

std::string RunIsql(const std::string& script) {
    return RunIsqlArgs({"-user", "SYSDBA", "-password", kServerPassword}, script);
}

std::string RunIsqlOn(const std::string& database, const std::string& script) {
    return RunIsqlArgs({"-user", "SYSDBA", "-password", kServerPassword, database}, script);
}

namespace {

// `text` as an SQL string literal.
std::string Quoted(const std::string& text) {
    std::string literal = "'";
    for (const char c : text) {
        literal += c;
        if (c == '\'') {
            literal += c;
        }
    }
    return literal + "'";
}

}  // namespace

void CreateDatabase(const std::string& database, int dialect, const std::string& ddl,
                    const std::string& user, const std::string& password) {
    std::ostringstream s;
    s << "SET SQL DIALECT " << dialect << ";\n"
      << "CREATE DATABASE '" << database << "' USER " << Quoted(user) << " PASSWORD "
      << Quoted(password) << " DEFAULT CHARACTER SET WIN1251;\n"
      << ddl << "\nCOMMIT;\n";
    RunIsql(s.str());
    // Embedded databases are created by root; let the server open them as well.
    if (database.rfind("localhost:", 0) != 0) {
        chmod(database.c_str(), 0666);
    }
}

ServerUser::ServerUser(std::string password)
    : admin_("localhost:" + dir_.File("users.fdb")), password_(std::move(password)) {
    static int made = 0;
    name_ = "DBU_TEST_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
    CreateDatabase(admin_);
    // CREATE OR ALTER: a user left behind by a test that was killed gets the new password.
    RunIsqlOn(admin_, "CREATE OR ALTER USER " + name_ + " PASSWORD " + Quoted(password_) +
                          " USING PLUGIN Srp;\nGRANT CREATE DATABASE TO USER " + name_ +
                          ";\nCOMMIT;\n");
}

ServerUser::~ServerUser() {
    RunIsqlOn(admin_, "REVOKE CREATE DATABASE FROM USER " + name_ + ";\nDROP USER " + name_ +
                          " USING PLUGIN Srp;\nCOMMIT;\n");
}

bool ServerAvailable() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(3050);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string ExecutablePath() { return DBU_EXECUTABLE; }
std::string SourceDir() { return DBU_SOURCE_DIR; }

}  // namespace testsupport

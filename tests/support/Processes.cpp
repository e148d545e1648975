#include "tests/support/Processes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <list>
#include <stdexcept>

extern char** environ;

namespace testsupport {

using namespace std::chrono_literals;

bool WaitUntil(const std::function<bool()>& done, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A socket connected to 127.0.0.1:`port`; -1 when nothing accepts there.
int ConnectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const sockaddr_in addr = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool PortAnswers(int port) {
    const int fd = ConnectLoopback(port);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t size = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

// ---- Child ----

Child::Child(const std::vector<std::string>& argv, const Options& options) {
    // Everything is prepared before the fork; the child only makes system calls.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& added : options.environment) {
            replaced = replaced || added.rfind(name, 0) == 0;
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), options.environment.begin(), options.environment.end());
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    const std::string output = options.output.empty() ? "/dev/null" : options.output;
    const bool switchUser = options.user != nullptr;
    const uid_t uid = switchUser ? options.user->pw_uid : 0;
    const gid_t gid = switchUser ? options.user->pw_gid : 0;

    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        // Nothing of a test may outlive it, also when it is killed for taking too long.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) {
            ::_exit(126);
        }
        if (!options.workDir.empty() && ::chdir(options.workDir.c_str()) != 0) {
            ::_exit(126);
        }
        if (switchUser && (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
            ::_exit(126);
        }
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
}

Child::~Child() {
    if (!status_) {
        ::kill(pid_, SIGKILL);
        Reap(true);
    }
}

std::optional<int> Child::Wait(Clock::duration timeout) {
    WaitUntil([this] { return Reap(false); }, timeout);
    return status_;
}

int Child::Kill(int signal) {
    if (!Reap(false)) {
        ::kill(pid_, signal);
        Reap(true);
    }
    return *status_;
}

void Child::Signal(int signal) {
    if (!Reap(false)) {
        ::kill(pid_, signal);
    }
}

bool Child::Reap(bool block) {
    if (status_) {
        return true;
    }
    int status = 0;
    pid_t r = 0;
    do {
        r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r != pid_) {
        return false;
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

// ---- PrivateServer ----

namespace {

constexpr const char* kServerProgram = "/usr/sbin/firebird";
constexpr const char* kSecurityDatabase = "/var/lib/firebird/3.0/system/security3.fdb";
constexpr const char* kIntlFolder = "/usr/lib/x86_64-linux-gnu/firebird/3.0/intl";

}  // namespace

std::string PrivateServer::Unavailable() {
    if (::geteuid() != 0) {
        return "a private Firebird server is started as user firebird, which needs root";
    }
    if (::getpwnam("firebird") == nullptr) {
        return "there is no user firebird to run a private Firebird server";
    }
    for (const std::string& path :
         {std::string(kServerProgram), std::string(kSecurityDatabase),
          std::string(kIntlFolder) + "/libfbintl.so", std::string(kIntlFolder) + "/fbintl.conf"}) {
        if (!FileExists(path)) {
            return path + " is missing: no private Firebird server";
        }
    }
    return "";
}

PrivateServer::PrivateServer(const std::string& config) : port_(FreePort()) {
    namespace fs = std::filesystem;
    const std::string security = root_.File("security3.fdb");
    fs::create_directory(root_.File("lock"));
    fs::create_directory(root_.File("tmp"));
    // The character sets are loaded from real files only: with links to the installed ones
    // every attach with lc_ctype WIN1251 fails ("CHARACTER SET WIN1251 is not defined").
    fs::create_directory(root_.File("intl"));
    fs::copy_file(std::string(kIntlFolder) + "/libfbintl.so", root_.File("intl/libfbintl.so"));
    fs::copy_file(std::string(kIntlFolder) + "/fbintl.conf", root_.File("intl/fbintl.conf"));
    fs::copy_file(kSecurityDatabase, security);
    WriteFile(root_.File("firebird.conf"), "RemoteServicePort = " + std::to_string(port_) +
                                               "\nRemoteBindAddress = localhost\n"
                                               "SecurityDatabase = " +
                                               security + "\n" + config);
    const std::vector<std::string> environment{"FIREBIRD=" + root_.Path(),
                                               "FIREBIRD_LOCK=" + root_.File("lock"),
                                               "FIREBIRD_TMP=" + root_.File("tmp")};
    // The copy gets the runner's SYSDBA password, set embedded before the server holds it.
    WriteFile(root_.File("password.sql"), "CREATE OR ALTER USER SYSDBA PASSWORD '" +
                                              std::string(kServerPassword) +
                                              "' USING PLUGIN Srp;\nCOMMIT;\n");
    std::vector<std::string> isql{"/usr/bin/env"};
    isql.insert(isql.end(), environment.begin(), environment.end());
    isql.insert(isql.end(),
                {"isql-fb", "-q", "-user", "SYSDBA", security, "-i", root_.File("password.sql")});
    const auto set = RunProcess(isql);
    if (set.exitCode != 0) {
        throw std::runtime_error("setting the private server's password failed: " + set.out +
                                 set.err);
    }
    const passwd* user = ::getpwnam("firebird");
    for (const auto& entry : fs::recursive_directory_iterator(root_.Path())) {
        ::chown(entry.path().c_str(), user->pw_uid, user->pw_gid);
    }
    ::chown(root_.Path().c_str(), user->pw_uid, user->pw_gid);
    environment_ = environment;
    user_ = user;
    Launch();
}

PrivateServer::~PrivateServer() {
    // A stopped process ignores SIGKILL until it is continued on some kernels' schedulers;
    // continue it first so that the destructor of the child reaps it at once.
    if (process_) {
        process_->Signal(SIGCONT);
    }
}

void PrivateServer::Restart() {
    Launch();
}

std::string PrivateServer::Name(const std::string& path) const {
    return "localhost/" + std::to_string(port_) + ":" + path;
}

void PrivateServer::Kill() {
    process_->Kill(SIGKILL);
}

void PrivateServer::Freeze() {
    process_->Signal(SIGSTOP);
}

void PrivateServer::Resume() {
    process_->Signal(SIGCONT);
}

void PrivateServer::Launch() {
    process_ = std::make_unique<Child>(
        std::vector<std::string>{kServerProgram},
        Child::Options{root_.Path(), root_.File("server.out"), environment_, user_});
    if (!WaitUntil([this] { return PortAnswers(port_); }, 20s)) {
        throw std::runtime_error("the private server did not answer on port " +
                                 std::to_string(port_) + ": " + ReadFile(root_.File("server.out")));
    }
}

// ---- Relay ----

// One client connection and its connection to the server.
struct Relay::Pair {
    int client = -1;
    int server = -1;
    bool cut = false;  // the client's side is closed; the server's answers are dropped

    ~Pair() {
        for (const int fd : {client, server}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
};

namespace {

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

Relay::Relay(int serverPort) : serverPort_(serverPort) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t size = sizeof addr;
    const int on = 1;
    if (listener_ < 0 || ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &size) != 0 ||
        ::listen(listener_, 16) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
        throw std::runtime_error("the relay cannot listen");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Loop(); });
}

Relay::~Relay() {
    stop_ = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    thread_.join();
    for (const int fd : {listener_, wake_[0], wake_[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::string Relay::Name(const std::string& path) const {
    return "localhost/" + std::to_string(port_) + ":" + path;
}

void Relay::Freeze() {
    frozen_ = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
}

void Relay::Inspect(Inspector inspector) {
    const std::lock_guard<std::mutex> guard(lock_);
    inspector_ = std::move(inspector);
}

void Relay::Loop() {
    std::list<Pair> pairs;
    std::array<char, 65536> buffer{};
    while (!stop_) {
        // Frozen, nothing is read: the bytes wait in the sockets, and new clients in the
        // listener's backlog.
        const short events = frozen_ ? short{0} : short{POLLIN};
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, events, 0}};
        for (const Pair& pair : pairs) {
            fds.push_back({pair.cut ? -1 : pair.client, events, 0});
            fds.push_back({pair.server, events, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            char drain[16];
            [[maybe_unused]] const ssize_t n = ::read(wake_[0], drain, sizeof drain);
            continue;  // a change of mode, or the end: look again
        }
        if ((fds[1].revents & POLLIN) != 0) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                Pair& pair = pairs.emplace_back();
                pair.client = client;
                pair.server = ConnectLoopback(serverPort_);
                ++connections_;
                if (pair.server < 0) {
                    pairs.pop_back();
                }
            }
            continue;  // the poll set no longer matches the list
        }
        std::size_t at = 2;
        for (auto it = pairs.begin(); it != pairs.end(); at += 2) {
            Pair& pair = *it;
            bool closed = false;
            if (fds[at].revents != 0) {
                const ssize_t n = ::recv(pair.client, buffer.data(), buffer.size(), 0);
                if (n <= 0) {
                    closed = true;
                } else {
                    const std::string_view bytes(buffer.data(), static_cast<std::size_t>(n));
                    Verdict verdict = Verdict::Pass;
                    {
                        const std::lock_guard<std::mutex> guard(lock_);
                        if (inspector_) {
                            verdict = inspector_(bytes);
                        }
                    }
                    closed = !SendAll(pair.server, bytes.data(), bytes.size());
                    if (!closed && verdict == Verdict::PassThenCutClient) {
                        ::shutdown(pair.client, SHUT_RDWR);
                        ::close(pair.client);
                        pair.client = -1;
                        pair.cut = true;
                        ++cuts_;
                    }
                }
            }
            if (!closed && fds[at + 1].revents != 0) {
                const ssize_t n = ::recv(pair.server, buffer.data(), buffer.size(), 0);
                if (n <= 0) {
                    closed = true;
                } else if (!pair.cut) {
                    closed = !SendAll(pair.client, buffer.data(), static_cast<std::size_t>(n));
                }
            }
            it = closed ? pairs.erase(it) : std::next(it);
        }
    }
}

}  // namespace testsupport

// Processes that run while a test goes on: a child process killed with its test, a Firebird
// server of the test's own, and a TCP relay between a client and a server whose traffic a
// test can inspect, freeze or cut.
#pragma once

#include "tests/support/TestSupport.h"

#include <sys/types.h>

#include <csignal>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct passwd;

namespace testsupport {

using Clock = std::chrono::steady_clock;

// Polls `done` every 10 ms until it holds or `timeout` has passed; true when it held.
bool WaitUntil(const std::function<bool()>& done, Clock::duration timeout);

// True when something accepts connections on 127.0.0.1:`port`.
bool PortAnswers(int port);

// A port that nothing listens on right now (the system picks it).
int FreePort();

// A child process that runs while the test goes on; killed and reaped when it is still
// running at the end of its scope.
class Child {
public:
    struct Options {
        std::string workDir;
        std::string output;                    // receives stdout and stderr; none when empty
        std::vector<std::string> environment;  // NAME=value entries added to this process's
        const passwd* user = nullptr;          // run as this user instead of the caller
    };

    Child(const std::vector<std::string>& argv, const Options& options);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }

    // The exit code (128 + the signal's number when a signal ended it) once the child has
    // ended; nothing when it still runs after `timeout`.
    std::optional<int> Wait(Clock::duration timeout);

    // Sends `signal` unless the child has ended already, and waits for its end.
    int Kill(int signal = SIGKILL);

    // Sends `signal` unless the child has ended already, without waiting.
    void Signal(int signal);

private:
    bool Reap(bool block);

    pid_t pid_ = -1;
    std::optional<int> status_;
};

// A Firebird server of the test's own: its own port, configuration, copy of the security
// database (with the SYSDBA password kServerPassword), lock and temporary folders, run in the
// foreground as user firebird and as a child of the test. Killing or stopping it leaves the
// shared server on port 3050 and its users alone.
class PrivateServer {
public:
    // Why no private server can be started here; empty when one can.
    static std::string Unavailable();

    // `config` holds further lines of its firebird.conf (e.g. "WireCrypt = Disabled\n").
    explicit PrivateServer(const std::string& config = "");
    ~PrivateServer();
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    // Starts the server again after Kill, on the same port, as a guardian would.
    void Restart();

    int Port() const { return port_; }

    // The connection name of a database file on this server.
    std::string Name(const std::string& path) const;

    // Ends the server at once, as a crash or a power cut on the server machine would.
    void Kill();

    // Freezes the server (SIGSTOP), as a hung machine would: connections stay open and nothing
    // answers. Resume (SIGCONT) lets it go on.
    void Freeze();
    void Resume();

private:
    void Launch();

    TempDir root_;
    int port_;
    std::vector<std::string> environment_;
    const passwd* user_ = nullptr;
    std::unique_ptr<Child> process_;
};

// A TCP relay on 127.0.0.1 between clients and a server port: every connection it accepts is
// passed on to the server, byte for byte in both directions, until the test says otherwise.
// Clients reach a Firebird server through it with the name Name(path).
class Relay {
public:
    // What becomes of a piece of the client's bytes.
    enum class Verdict {
        Pass,               // passed on to the server
        PassThenCutClient,  // passed on, then the client's side is closed and the server's
                            // answer never reaches it
    };
    // Looks at each piece that a client sends (as one read returned it) before it is passed on.
    using Inspector = std::function<Verdict(std::string_view bytes)>;

    explicit Relay(int serverPort);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    int Port() const { return port_; }

    // The connection name of a database file on the server behind the relay.
    std::string Name(const std::string& path) const;

    // From now on no byte is passed in either direction; connections stay open, and new ones
    // are accepted but get no answer. A server that hangs looks like this to its clients.
    void Freeze();

    // Sets (or clears, with an empty function) the inspector of the client's bytes.
    void Inspect(Inspector inspector);

    // The number of client connections accepted so far.
    int Connections() const { return connections_.load(); }

    // The number of client connections that PassThenCutClient has cut so far.
    int Cuts() const { return cuts_.load(); }

private:
    struct Pair;
    void Loop();

    int port_ = 0;
    int serverPort_ = 0;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::atomic<bool> frozen_{false};
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> cuts_{0};
    std::mutex lock_;
    Inspector inspector_;
    std::thread thread_;
};

}  // namespace testsupport

// The requests to stop that the system sends a process, taken over by the program.
// POSIX: SIGTERM and SIGINT. They are blocked in every thread from the start of the process, so
// that neither their default action (an exit in the middle of a statement) nor the handler
// that the client library installs runs: that handler shuts the library down on a thread of
// its own, which raced the process's exit and crashed it inside the library. One listening
// thread receives them instead.
// Windows: the console's Ctrl+C (reported as SIGINT) and Ctrl+Break, close, logoff and
// shutdown events (reported as SIGTERM), for a process that has a console; a program without
// one is ended by TerminateProcess, which nothing can take over.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace platform {

// POSIX: blocks SIGTERM and SIGINT in the calling thread, and so in every thread it starts
// later (the client library's among them). Call it first in main, before any thread exists.
// Windows: nothing to do.
void BlockStopSignals() noexcept;

// "SIGTERM", "SIGINT", or "signal <number>".
std::string StopSignalName(int signal);

// Receives the blocked stop signals on a thread of its own, for as long as it exists, and
// hands each to `onSignal` (on that thread). A signal that arrived before it was created is
// received at once; one that arrives after it is gone stays pending and is lost with the
// process.
class StopSignalListener {
public:
    explicit StopSignalListener(std::function<void(int signal)> onSignal);
    ~StopSignalListener();
    StopSignalListener(const StopSignalListener&) = delete;
    StopSignalListener& operator=(const StopSignalListener&) = delete;

private:
    void Listen();

    std::function<void(int)> onSignal_;
    // POSIX: the signalfd and the eventfd that ends the listening (-1 when none); unused on
    // Windows, where the console's handler calls onSignal_ on a thread of the system's.
    int signalFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
};

}  // namespace platform

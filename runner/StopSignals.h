// SIGTERM and SIGINT, the signals that ask a run to stop, taken over by the runner. They are
// blocked in every thread from the start of the process, so that neither their default action
// (an exit in the middle of a statement) nor the handler that the client library installs runs:
// that handler shuts the library down on a thread of its own, which raced the process's exit
// and crashed it inside the library. One listening thread of the run receives them instead.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace runner {

// Blocks SIGTERM and SIGINT in the calling thread, and so in every thread it starts later
// (the client library's among them). Call it first in main, before any thread exists.
void BlockStopSignals() noexcept;

// "SIGTERM", "SIGINT", or "signal <number>".
std::string StopSignalName(int signal);

// Receives the blocked stop signals on a thread of its own, for as long as it exists, and
// hands each to `onSignal` (on that thread). A signal that arrived before it was created is
// received at once; one that arrives after it is gone stays pending and is lost with the
// process.
class TStopSignalListener {
public:
    explicit TStopSignalListener(std::function<void(int signal)> onSignal);
    ~TStopSignalListener();
    TStopSignalListener(const TStopSignalListener&) = delete;
    TStopSignalListener& operator=(const TStopSignalListener&) = delete;

private:
    void Listen();

    std::function<void(int)> onSignal_;
    int signalFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
};

}  // namespace runner

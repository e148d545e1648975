// The console's stop events on Windows: a handler that hands Ctrl+C on as SIGINT and every
// other event that ends the process (Ctrl+Break, close, logoff, shutdown) as SIGTERM.
#include "platform/StopSignals.h"

#include <windows.h>

#include <csignal>
#include <mutex>

namespace platform {

namespace {

// The one listener the console's handler serves; the handler runs on a thread of the system's.
std::mutex gListenerLock;
std::function<void(int)>* gOnSignal = nullptr;

BOOL WINAPI ConsoleHandler(DWORD event) {
    const std::lock_guard<std::mutex> guard(gListenerLock);
    if (gOnSignal == nullptr) {
        return FALSE;  // the default handling: the process ends
    }
    (*gOnSignal)(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    return TRUE;
}

}  // namespace

void BlockStopSignals() noexcept {}

StopSignalListener::StopSignalListener(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
    const std::lock_guard<std::mutex> guard(gListenerLock);
    gOnSignal = &onSignal_;
    SetConsoleCtrlHandler(&ConsoleHandler, TRUE);
}

StopSignalListener::~StopSignalListener() {
    SetConsoleCtrlHandler(&ConsoleHandler, FALSE);
    const std::lock_guard<std::mutex> guard(gListenerLock);
    gOnSignal = nullptr;
}

void StopSignalListener::Listen() {}

}  // namespace platform

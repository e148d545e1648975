// Blocking and receiving the stop signals on POSIX (signalfd, with an eventfd to end the
// listening).
#include "platform/StopSignals.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

namespace {

sigset_t StopSignalSet() noexcept {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

void BlockStopSignals() noexcept {
    const sigset_t set = StopSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignalListener::StopSignalListener(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
    // The signals are blocked in this thread too (BlockStopSignals), which is what signalfd
    // needs: it reports a blocked signal instead of letting it act.
    BlockStopSignals();
    const sigset_t set = StopSignalSet();
    signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (signalFd_ < 0 || stopFd_ < 0) {
        // Without them the signals stay blocked and pending: the run goes on as if none came.
        return;
    }
    thread_ = std::thread([this] { Listen(); });
}

StopSignalListener::~StopSignalListener() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (const int fd : {signalFd_, stopFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void StopSignalListener::Listen() {
    for (;;) {
        pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                onSignal_(static_cast<int>(info.ssi_signo));
            }
        }
    }
}

}  // namespace platform

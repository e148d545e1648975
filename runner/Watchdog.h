// The run's watchdog: one thread that watches the operation the runner waits in (a statement,
// its commit, a declaration query, the start of a transaction, the close of a database) and
// stops it when it runs longer than StatementTimeout or when the run is interrupted (SIGTERM,
// SIGINT): first by cancelling it on the server, then, when the cancel gets no answer within a
// short grace, by dropping its connection, and only as the last resort by ending the run.
// Also what the rest of the runner sees of it: the guard around one operation, the errors that
// a stopped operation raises, and the interrupted state of the run.
#pragma once

#include "ibclient/Errors.h"
#include "ibclient/IBBase.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace platform {
class StopSignalListener;
}  // namespace platform

namespace runner {

struct RunnerContext;

// How long a cancelled operation may take to end before its connection is dropped, and how
// long after that before the run is ended: a server that is alive answers a cancel within
// milliseconds, and a dropped connection fails the waiting call at once.
constexpr std::chrono::seconds kCancelGrace{3};
constexpr std::chrono::seconds kDropGrace{3};
// How long an interrupted run may take to end in order (roll back, detach, log) before it is
// ended at once.
constexpr std::chrono::seconds kInterruptedRunLimit{10};

// The operations that StatementTimeout bounds, as its time-out message names them.
constexpr std::string_view kTheStatement = "the statement";
constexpr std::string_view kTheCommit = "the commit";
constexpr std::string_view kTheDeclarationQuery = "the declaration query";
constexpr std::string_view kTheHistoryLookup = "the history lookup";
constexpr std::string_view kStartingATransaction = "starting a transaction";
constexpr std::string_view kClosingTheDatabase = "closing the database";

// An operation of the runner that ran longer than StatementTimeout and was stopped. Derived
// from the common error base, so that every handler of the runner's errors reports it.
class EStatementTimeout : public ibclient::Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EStatementTimeout"; }
};

// Raised where the runner notices that the run was interrupted. It is no std::exception on
// purpose: it passes every handler of the runner's errors (none of them may report it as a
// failed statement or script) up to the main sequence, which ends the run; the handlers that
// run clean-up for any exception still do so.
struct ERunInterrupted {};

// What became of a watched operation.
struct TWatchOutcome {
    enum Reason { NotStopped, TimedOut, Interrupted } Reason = NotStopped;
    // True when the watchdog had to drop the operation's connection (the cancel got no
    // answer): the attachment is dead.
    bool Dropped = false;
};

class TWatchdog {
public:
    // Called on the watchdog's thread with a level-1 message when the run must end at once: an
    // operation that even dropping its connection did not end, or an interrupted run that did
    // not end within kInterruptedRunLimit. It must end the process.
    using EndRun = std::function<void(const std::string& message)>;

    explicit TWatchdog(EndRun endRun);
    // Stops the thread (after waiting for a cancel call still under way).
    ~TWatchdog();
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

    // Starts watching one operation on `attachment` (0: none, which cannot be cancelled),
    // named `what` in messages, of database `database`, with a limit of `limitSeconds`
    // (0 or less: no limit; it is still stopped when the run is interrupted). Returns its
    // ticket for Disarm. Only one operation is watched at a time.
    std::uint64_t Arm(ibclient::DbHandle attachment, std::string what, std::string database,
                      std::int32_t limitSeconds);
    // Ends watching the operation of `ticket`; what became of it.
    TWatchOutcome Disarm(std::uint64_t ticket);

    // The run is interrupted by `signal`: the watched operation, if any, is cancelled at once,
    // and the run must end within kInterruptedRunLimit. Later calls change nothing.
    void Interrupt(int signal);
    bool Interrupted() const;
    // The signal of the interruption (0 while there is none).
    int InterruptSignal() const;
    // True the first time it is called after an interruption: the one level-1 entry about it
    // is then due.
    bool TakeInterruptionEntry();

private:
    struct Watched;
    void Loop();
    // Takes whatever step is due; called on the watchdog's thread with mutex_ held. endRun_
    // is called with it held too, so that no operation is disarmed while the run ends.
    void Step();
    void SendCancel(ibclient::DbHandle attachment, bool abort);
    std::chrono::steady_clock::time_point NextWake() const;

    const EndRun endRun_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::uint64_t lastTicket_ = 0;
    std::unique_ptr<Watched> watched_;
    // When the thread looks next without being woken.
    std::chrono::steady_clock::time_point scheduledWake_ =
        std::chrono::steady_clock::time_point::max();
    int interruptSignal_ = 0;
    bool interruptionLogged_ = false;
    std::chrono::steady_clock::time_point runDeadline_ =
        std::chrono::steady_clock::time_point::max();
    // Threads that sent a cancel of the server's kind; a send can wait behind a call that is
    // stuck writing to the connection, which the drop then frees, so they are not the
    // watchdog's own thread.
    std::vector<std::thread> cancellers_;
    // Cancels of the server's kind not yet returned, and their signal.
    int cancelsUnderWay_ = 0;
    std::condition_variable cancelDone_;
    std::thread thread_;
};

// The watchdog and the stop-signal listener of one run, published as context.Watchdog while
// they exist.
class TRunWatch {
public:
    TRunWatch(RunnerContext& context, TWatchdog::EndRun endRun);
    ~TRunWatch();
    TRunWatch(const TRunWatch&) = delete;
    TRunWatch& operator=(const TRunWatch&) = delete;

private:
    RunnerContext& context_;
    TWatchdog watchdog_;
    std::unique_ptr<platform::StopSignalListener> signals_;
};

// Watches the operation that follows on context.Database's attachment, with the limit
// StatementTimeout, for as long as the guard exists. Without a watchdog (context.Watchdog
// null) it does nothing.
class TWatchGuard {
public:
    // `what` names the operation in the time-out message ("the statement", "the commit"...).
    TWatchGuard(RunnerContext& context, std::string_view what);
    ~TWatchGuard();
    TWatchGuard(const TWatchGuard&) = delete;
    TWatchGuard& operator=(const TWatchGuard&) = delete;

    // For a handler of the operation's failure: when the watchdog stopped it, raises why
    // instead: ERunInterrupted once the run is interrupted, EStatementTimeout for a time-out (after
    // dropping the connection objects when the connection had to be dropped, so that nothing
    // tries the dead attachment again). Returns otherwise. Ends the watching.
    void RaiseIfStopped();

private:
    RunnerContext& context_;
    std::string what_;
    std::uint64_t ticket_ = 0;
    bool armed_ = false;
};

// Runs `operation` under a TWatchGuard named `what`; its failure after the watchdog stopped it
// raises why (TWatchGuard::RaiseIfStopped) instead of its own error.
template <typename Operation>
decltype(auto) Guarded(RunnerContext& context, std::string_view what, Operation&& operation) {
    TWatchGuard guard(context, what);
    try {
        return std::forward<Operation>(operation)();
    } catch (...) {
        guard.RaiseIfStopped();
        throw;
    }
}

// True once the run has been interrupted.
bool RunInterrupted(const RunnerContext& context);

// Raises ERunInterrupted once the run has been interrupted.
void ThrowIfInterrupted(const RunnerContext& context);

// True once the run has been interrupted; the first such call logs the one level-1 entry
// about it, and every one sets ErrorFlag.
bool NoteInterruption(RunnerContext& context);

}  // namespace runner

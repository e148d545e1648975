// The watchdog's thread and its steps, the guard around one operation and the interrupted
// state of the run.
#include "runner/Watchdog.h"

#include "ibclient/Cancel.h"
#include "ibclient/IBDatabase.h"
#include "platform/StopSignals.h"
#include "runner/Connection.h"
#include "runner/RunnerContext.h"

namespace runner {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kErrorLevel = 1;

std::string Seconds(std::chrono::seconds value) {
    return std::to_string(value.count()) + (value.count() == 1 ? " second" : " seconds");
}

std::string Seconds(std::int32_t value) {
    return Seconds(std::chrono::seconds(value));
}

}  // namespace

// The one operation being watched and how far its stopping has gone.
struct TWatchdog::Watched {
    std::uint64_t ticket = 0;
    ibclient::DbHandle attachment = 0;
    std::string what;
    std::string database;
    std::int32_t limit = 0;
    enum Phase { Running, Cancelled, Dropped } phase = Running;
    // When the next step is due: the time limit while Running, then the end of each grace.
    Clock::time_point next = Clock::time_point::max();
    // An interruption asks to stop it at once.
    bool stopNow = false;
    TWatchOutcome outcome;
};

TWatchdog::TWatchdog(EndRun endRun) : endRun_(std::move(endRun)) {
    thread_ = std::thread([this] { Loop(); });
}

TWatchdog::~TWatchdog() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    for (std::thread& canceller : cancellers_) {
        canceller.join();
    }
}

std::uint64_t TWatchdog::Arm(ibclient::DbHandle attachment, std::string what, std::string database,
                             std::int32_t limitSeconds) {
    auto watched = std::make_unique<Watched>();
    watched->attachment = attachment;
    watched->what = std::move(what);
    watched->database = std::move(database);
    watched->limit = limitSeconds;
    if (limitSeconds > 0) {
        watched->next = Clock::now() + std::chrono::seconds(limitSeconds);
    }
    std::uint64_t ticket = 0;
    bool sooner = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ticket = ++lastTicket_;
        watched->ticket = ticket;
        // The thread sleeps until its last wake time and then looks again: it needs waking
        // only for a deadline before that, which keeps an operation's arming cheap.
        sooner = watched->next < scheduledWake_;
        watched_ = std::move(watched);
    }
    if (sooner) {
        wake_.notify_all();
    }
    return ticket;
}

TWatchOutcome TWatchdog::Disarm(std::uint64_t ticket) {
    std::unique_lock<std::mutex> lock(mutex_);
    // The caller may detach the attachment next: no cancel of it may still be on its way into
    // the client library then, which would use what the detach frees. A cancel only waits
    // while the connection is stuck, and the drop that follows in time frees it.
    cancelDone_.wait(lock, [this] { return cancelsUnderWay_ == 0; });
    if (watched_ == nullptr || watched_->ticket != ticket) {
        return {};
    }
    const TWatchOutcome outcome = watched_->outcome;
    watched_.reset();
    return outcome;
}

void TWatchdog::Interrupt(int signal) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (interruptSignal_ != 0) {
            return;
        }
        interruptSignal_ = signal;
        runDeadline_ = Clock::now() + kInterruptedRunLimit;
        if (watched_ != nullptr && watched_->phase == Watched::Running) {
            watched_->stopNow = true;
        }
    }
    wake_.notify_all();
}

bool TWatchdog::Interrupted() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return interruptSignal_ != 0;
}

int TWatchdog::InterruptSignal() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return interruptSignal_;
}

bool TWatchdog::TakeInterruptionEntry() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (interruptSignal_ == 0 || interruptionLogged_) {
        return false;
    }
    interruptionLogged_ = true;
    return true;
}

void TWatchdog::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        Step();
        const Clock::time_point next = NextWake();
        scheduledWake_ = next;
        if (next == Clock::time_point::max()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, next);
        }
    }
}

Clock::time_point TWatchdog::NextWake() const {
    if (watched_ == nullptr) {
        return runDeadline_;
    }
    const bool due = watched_->phase == Watched::Running && watched_->stopNow;
    return std::min(runDeadline_, due ? Clock::now() : watched_->next);
}

void TWatchdog::SendCancel(ibclient::DbHandle attachment, bool abort) {
    if (abort) {
        // Shuts the connection down on this side without waiting for anything.
        ibclient::CancelOperation(attachment, ibclient::TCancelKind::Abort);
        return;
    }
    // The cancel that asks the server has to write to the connection, and a call stuck
    // writing to it (a server that reads nothing any more) would hold it up: it goes on a
    // thread of its own, so that the drop still follows in time, which also frees it.
    ++cancelsUnderWay_;
    cancellers_.emplace_back([this, attachment] {
        ibclient::CancelOperation(attachment, ibclient::TCancelKind::Raise);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            --cancelsUnderWay_;
        }
        cancelDone_.notify_all();
    });
}

void TWatchdog::Step() {
    const Clock::time_point now = Clock::now();
    if (watched_ != nullptr) {
        Watched& watched = *watched_;
        if (watched.phase == Watched::Running && (watched.stopNow || now >= watched.next)) {
            watched.outcome.Reason =
                watched.stopNow ? TWatchOutcome::Interrupted : TWatchOutcome::TimedOut;
            watched.phase = Watched::Cancelled;
            watched.next = now + kCancelGrace;
            if (watched.attachment != 0) {
                SendCancel(watched.attachment, false);
            }
        } else if (watched.phase == Watched::Cancelled && now >= watched.next) {
            watched.phase = Watched::Dropped;
            watched.next = now + kDropGrace;
            if (watched.attachment != 0 && ibclient::CanCancelOperations()) {
                watched.outcome.Dropped = true;
                SendCancel(watched.attachment, true);
            }
        } else if (watched.phase == Watched::Dropped && now >= watched.next) {
            const std::string cause =
                watched.outcome.Reason == TWatchOutcome::Interrupted
                    ? "was interrupted by " + platform::StopSignalName(interruptSignal_)
                    : "did not end within StatementTimeout (" + Seconds(watched.limit) + ")";
            const std::string means = ibclient::CanCancelOperations()
                                          ? "neither cancelling it nor dropping its connection "
                                            "ended it"
                                          : "the client library cannot cancel it (it lacks "
                                            "fb_cancel_operation)";
            watched.next = Clock::time_point::max();
            endRun_(" error: " + watched.what + " on database " + watched.database + " " + cause +
                    ", and " + means + ": the run ends here");
        }
    }
    if (interruptSignal_ != 0 && now >= runDeadline_) {
        runDeadline_ = Clock::time_point::max();
        endRun_(" error: the run was interrupted by " + platform::StopSignalName(interruptSignal_) +
                " and did not end in order within " + Seconds(kInterruptedRunLimit) +
                ": it ends here");
    }
}

TRunWatch::TRunWatch(RunnerContext& context, TWatchdog::EndRun endRun)
    : context_(context), watchdog_(std::move(endRun)) {
    signals_ = std::make_unique<platform::StopSignalListener>(
        [this](int signal) { watchdog_.Interrupt(signal); });
    context_.Watchdog = &watchdog_;
}

TRunWatch::~TRunWatch() {
    context_.Watchdog = nullptr;
    signals_.reset();
}

TWatchGuard::TWatchGuard(RunnerContext& context, std::string_view what)
    : context_(context), what_(what) {
    if (context_.Watchdog == nullptr) {
        return;
    }
    ibclient::TIBDatabase* const database = context_.Database;
    const ibclient::DbHandle attachment =
        database != nullptr && database->Connected() ? *database->Handle() : 0;
    ticket_ = context_.Watchdog->Arm(attachment, what_,
                                     database != nullptr ? database->DatabaseName() : "",
                                     context_.Settings.StatementTimeout);
    armed_ = true;
}

TWatchGuard::~TWatchGuard() {
    if (armed_ && context_.Watchdog != nullptr) {
        context_.Watchdog->Disarm(ticket_);
    }
}

void TWatchGuard::RaiseIfStopped() {
    if (!armed_ || context_.Watchdog == nullptr) {
        return;
    }
    armed_ = false;
    const TWatchOutcome outcome = context_.Watchdog->Disarm(ticket_);
    // After an interruption every failure belongs to it: a cancel sent for the operation before
    // can reach this one when that one ended first.
    if (outcome.Reason == TWatchOutcome::Interrupted || context_.Watchdog->Interrupted()) {
        throw ERunInterrupted{};
    }
    if (outcome.Reason == TWatchOutcome::TimedOut) {
        std::string message = "timed out: " + what_ + " did not end within StatementTimeout (" +
                              Seconds(context_.Settings.StatementTimeout) + ") and was cancelled";
        if (outcome.Dropped) {
            // The attachment is dead: its transaction and statements go with it, so that the
            // rest of this database's run fails at once instead of trying it again.
            DropConnection(context_);
            message += "; the cancel got no answer within " + Seconds(kCancelGrace) +
                       ", so the connection was dropped";
        }
        throw EStatementTimeout(message);
    }
}

bool RunInterrupted(const RunnerContext& context) {
    return context.Watchdog != nullptr && context.Watchdog->Interrupted();
}

void ThrowIfInterrupted(const RunnerContext& context) {
    if (RunInterrupted(context)) {
        throw ERunInterrupted{};
    }
}

bool NoteInterruption(RunnerContext& context) {
    if (!RunInterrupted(context)) {
        return false;
    }
    context.ErrorFlag = true;
    if (context.Watchdog->TakeInterruptionEntry()) {
        context.LogMessage(kErrorLevel,
                           " error: the run was interrupted by " +
                               platform::StopSignalName(context.Watchdog->InterruptSignal()) +
                               ": it stops here; work not yet committed is rolled back, and the "
                               "remaining statements and databases are not run");
    }
    return true;
}

}  // namespace runner

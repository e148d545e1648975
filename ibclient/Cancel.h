// Stopping the client library's work from outside the call that does it: cancelling the
// operation that runs on an attachment, from another thread than the one waiting in it, and
// shutting the library down in order before the process ends.
#pragma once

#include "ibclient/IBBase.h"

namespace ibclient {

enum class TCancelKind {
    // The server stops the operation at its next check; the waiting call fails with "operation
    // was cancelled" and the attachment stays usable. A server that does not answer never
    // stops it.
    Raise,
    // The attachment's connection is shut down on the client's side at once: the waiting call
    // fails with a network error, whatever the server does, and the attachment is dead. An
    // embedded attachment is shut down by the engine at its next check.
    Abort,
};

enum class TCancelResult {
    Sent,
    // The library refused it (nothing runs, or the attachment is gone).
    Refused,
    // The library is not loaded or lacks fb_cancel_operation (before Firebird 2.5).
    Unsupported,
};

// Asks the client library to cancel what runs on `attachment` (fb_cancel_operation). Meant to
// be called from another thread while a call on that attachment waits; it does not wait for
// the server (measured with Firebird 3 on a connection that passes nothing any more: both
// kinds return within milliseconds). Never raises.
TCancelResult CancelOperation(DbHandle attachment, TCancelKind kind) noexcept;

// True when the loaded client library can cancel operations (it exports fb_cancel_operation).
bool CanCancelOperations() noexcept;

// Shuts the client library down (fb_shutdown): it closes what is still attached and ends its
// own threads, so that the process exit that follows finds none of them running. Call it once,
// from the main thread, after the last use of the library. Does nothing when the library was
// never loaded or lacks fb_shutdown.
void ShutdownClientLibrary() noexcept;

}  // namespace ibclient

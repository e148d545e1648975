// Cancelling an attachment's operation and the orderly shutdown of the client library.
#include "ibclient/Cancel.h"

#include "ibclient/Binding.h"

namespace ibclient {

namespace {

// How long the library's shutdown may take to close what is still attached, in milliseconds.
constexpr unsigned int kShutdownTimeout = 5000;

}  // namespace

TCancelResult CancelOperation(DbHandle attachment, TCancelKind kind) noexcept {
    const ClientEntryPoints* api = LoadedClientApi();
    if (api == nullptr || api->fb_cancel_operation == nullptr) {
        return TCancelResult::Unsupported;
    }
    // A status vector of this call's own: the per-thread one belongs to the calls that raise.
    ISC_STATUS_ARRAY status{};
    isc_db_handle handle = attachment;
    const ISC_USHORT option = kind == TCancelKind::Raise ? fb_cancel_raise : fb_cancel_abort;
    return api->fb_cancel_operation(status, &handle, option) == 0 ? TCancelResult::Sent
                                                                  : TCancelResult::Refused;
}

bool CanCancelOperations() noexcept {
    const ClientEntryPoints* api = LoadedClientApi();
    return api != nullptr && api->fb_cancel_operation != nullptr;
}

void ShutdownClientLibrary() noexcept {
    const ClientEntryPoints* api = LoadedClientApi();
    if (api != nullptr && api->fb_shutdown != nullptr) {
        api->fb_shutdown(kShutdownTimeout, fb_shutrsn_app_stopped);
    }
}

}  // namespace ibclient

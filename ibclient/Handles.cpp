// The quiet releases of the handle owners, each through the bound client library.
#include "ibclient/Handles.h"

#include "ibclient/Binding.h"

#include <type_traits>

namespace ibclient {

static_assert(std::is_same_v<HandleValue, FB_API_HANDLE>,
              "handle values must have the client library's FB_API_HANDLE width");

void DetachQuietly(HandleValue* handle) noexcept {
    ISC_STATUS_ARRAY status{};
    ClientApi().isc_detach_database(status, handle);
}

void RollbackQuietly(HandleValue* handle) noexcept {
    ISC_STATUS_ARRAY status{};
    ClientApi().isc_rollback_transaction(status, handle);
}

void DropStatementQuietly(HandleValue* handle) noexcept {
    ISC_STATUS_ARRAY status{};
    ClientApi().isc_dsql_free_statement(status, handle, DSQL_drop);
}

void CloseBlobQuietly(HandleValue* handle) noexcept {
    ISC_STATUS_ARRAY status{};
    ClientApi().isc_close_blob(status, handle);
}

}  // namespace ibclient

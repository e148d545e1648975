// Run-time binding of the InterBase-compatible client library (libfbclient on Linux):
// the library is loaded with dlopen on first use and every API function is called through
// the table of entry points below, never linked.
#pragma once

#include <cstddef>
#include <ibase.h>

namespace ibclient {

// The 43 entry points that every usable client library must export, in lookup order.
#define IBCLIENT_REQUIRED_ENTRY_POINTS(X)                                                          \
    X(BLOB_get) X(BLOB_put) X(isc_sqlcode) X(isc_sql_interprete) X(isc_interprete)                \
    X(isc_vax_integer) X(isc_blob_info) X(isc_open_blob2) X(isc_close_blob) X(isc_get_segment)     \
    X(isc_put_segment) X(isc_create_blob2) X(isc_decode_date) X(isc_encode_date)                   \
    X(isc_dsql_free_statement) X(isc_dsql_execute2) X(isc_dsql_execute)                            \
    X(isc_dsql_set_cursor_name) X(isc_dsql_fetch) X(isc_dsql_sql_info)                             \
    X(isc_dsql_alloc_statement2) X(isc_dsql_prepare) X(isc_dsql_describe_bind)                     \
    X(isc_dsql_describe) X(isc_dsql_execute_immediate) X(isc_drop_database)                        \
    X(isc_detach_database) X(isc_attach_database) X(isc_database_info) X(isc_start_multiple)      \
    X(isc_commit_transaction) X(isc_commit_retaining) X(isc_rollback_transaction)                  \
    X(isc_cancel_events) X(isc_que_events) X(isc_event_counts) X(isc_event_block) X(isc_free)      \
    X(isc_add_user) X(isc_delete_user) X(isc_modify_user) X(isc_prepare_transaction)               \
    X(isc_prepare_transaction2)

// The entry points of a version-6 library, required once isc_rollback_retaining is found;
// on a version-5 library they (and isc_rollback_retaining) are fallbacks raising client error 3.
#define IBCLIENT_V6_ENTRY_POINTS(X)                                                                \
    X(isc_service_attach) X(isc_service_detach) X(isc_service_query) X(isc_service_start)          \
    X(isc_decode_sql_date) X(isc_decode_sql_time) X(isc_decode_timestamp)                          \
    X(isc_encode_sql_date) X(isc_encode_sql_time) X(isc_encode_timestamp)

// Entry points that Firebird 2.5 and later export and older libraries lack: cancelling the
// operation running on an attachment (from another thread) and the orderly shutdown of the
// library. Their slots stay empty when the library does not export them; callers check.
#define IBCLIENT_OPTIONAL_ENTRY_POINTS(X) X(fb_cancel_operation) X(fb_shutdown)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
// One typed function slot per API function; filled by loading, read-only afterwards.
struct ClientEntryPoints {
#define IBCLIENT_SLOT(name) decltype(&::name) name = nullptr;
    IBCLIENT_REQUIRED_ENTRY_POINTS(IBCLIENT_SLOT)
    IBCLIENT_SLOT(isc_rollback_retaining)
    IBCLIENT_V6_ENTRY_POINTS(IBCLIENT_SLOT)
    IBCLIENT_OPTIONAL_ENTRY_POINTS(IBCLIENT_SLOT)
#undef IBCLIENT_SLOT
    // Firebird's object interface (a Firebird::IMaster*), exported from Firebird 3 on; null
    // when the library lacks it. Only FullErrorText uses it.
    void* (*fb_get_master_interface)() = nullptr;
};
#pragma GCC diagnostic pop

// Loads the library when it is not loaded yet; true when it is loaded now. Looks where
// platform::ClientLibraryCandidates says: DBU_CLIENT_LIBRARY (a file, exclusively) when set,
// else the executable's own folder, then the system's places (Linux: dlopen's search for
// libfbclient.so.2, libfbclient.so, libgds.so.0, libgds.so; Windows: fbclient.dll, gds32.dll,
// the registered Firebird instance, the system folder).
// A library lacking a required entry point raises EOSError and is released again.
bool TryLoadClientLibrary();

// TryLoadClientLibrary, raising client error 1 when the library cannot be loaded.
void RequireClientLibrary();

// 6 when the library exports isc_rollback_retaining, else 5 (loads the library first).
int ClientLibraryVersion();

// Releases the library at process end.
void UnloadClientLibrary();

// Size in bytes of an XSQLDA with n entries on this platform (XSQLDA_LENGTH).
std::size_t XSQLDALength(int n);

// The entry-point table of the loaded library. Loads the library first when needed and
// raises as RequireClientLibrary does, so it never hands out empty slots.
const ClientEntryPoints& ClientApi();

// The entry-point table when the library is loaded, else null. Never loads it and never
// raises, for the calls that make sense only on a library that is in use (cancel, shutdown).
const ClientEntryPoints* LoadedClientApi() noexcept;

}  // namespace ibclient

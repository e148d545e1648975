// Loading of the client library, the lookup of its entry points into the table that the whole
// layer calls through, the version rule and the fallbacks of a version-5 library.
//
// Where the library is looked for, and how the process is prepared for it, is the platform
// layer's (platform::LoadClientLibrary): on Linux the executable's own folder first, then the
// system's search, with a UTF-8 character-type locale so that the library takes database file
// names as UTF-8; on Windows the executable's folder, the registered Firebird instance and the
// system folder, never the current folder.
//
// A required entry point that the loaded library lacks raises EOSError with the fixed code
// kEntryPointNotFound (127, the Windows ERROR_PROC_NOT_FOUND) and the system's text of the
// failed lookup. The library is then released again and the table emptied, so the next check
// loads and fails the same way instead of handing out empty slots.
#include "ibclient/Binding.h"

#include "ibclient/Errors.h"
#include "platform/Library.h"

#include <atomic>
#include <mutex>
#include <string>

namespace ibclient {

namespace {

// The code carried by the EOSError of a missing entry point.
constexpr int32_t kEntryPointNotFound = 127;

// Process-wide binding state. `loaded` is set only after every slot is filled and is what
// ClientApi() checks without taking the lock.
struct BindingState {
    std::mutex lock;
    platform::Library library;
    ClientEntryPoints api;
    int version = 0;
    std::atomic<bool> loaded{false};
};

BindingState& State() {
    static BindingState state;
    return state;
}

// Stands in for a version-6 entry point on a version-5 library: same signature, raises client
// error 3 naming the replaced function whatever the arguments.
template <typename F, const char* Name>
struct Fallback;

template <typename R, typename... Args, const char* Name>
struct Fallback<R (*)(Args...), Name> {
    static R Call(Args...) { RaiseClientError(ceIB60Feature, {Name}); }
};

#define IBCLIENT_FALLBACK_NAME(name) constexpr char kFallbackName_##name[] = #name;
IBCLIENT_FALLBACK_NAME(isc_rollback_retaining)
IBCLIENT_V6_ENTRY_POINTS(IBCLIENT_FALLBACK_NAME)
#undef IBCLIENT_FALLBACK_NAME

// Resolves one entry point into its slot; false when the library does not export it.
template <typename F> bool Resolve(platform::Library& library, const char* name, F& slot) {
    void* const symbol = library.Symbol(name);
    if (symbol == nullptr) {
        return false;
    }
    slot = reinterpret_cast<F>(symbol);
    return true;
}

// Releases the half-loaded library and raises the error of the missing entry point.
[[noreturn]] void FailMissingEntryPoint(BindingState& state) {
    const std::string text = state.library.ErrorText();
    state.library.Release();
    state.api = ClientEntryPoints{};
    state.version = 0;
    throw EOSError(kEntryPointNotFound, "System Error.  Code: " +
                                            std::to_string(kEntryPointNotFound) + ".\r\n" +
                                            text);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
// Fills the table from the open library in the required order, then applies the version rule;
// the optional entry points last, their slots left empty when missing.
void BindEntryPoints(BindingState& state) {
    ClientEntryPoints& api = state.api;
#define IBCLIENT_REQUIRE(name)                                                                     \
    if (!Resolve(state.library, #name, api.name)) {                                                \
        FailMissingEntryPoint(state);                                                              \
    }
    IBCLIENT_REQUIRED_ENTRY_POINTS(IBCLIENT_REQUIRE)
    if (Resolve(state.library, "isc_rollback_retaining", api.isc_rollback_retaining)) {
        state.version = 6;
        IBCLIENT_V6_ENTRY_POINTS(IBCLIENT_REQUIRE)
    } else {
        state.version = 5;
#define IBCLIENT_USE_FALLBACK(name)                                                                \
    api.name = &Fallback<decltype(&::name), kFallbackName_##name>::Call;
        IBCLIENT_USE_FALLBACK(isc_rollback_retaining)
        IBCLIENT_V6_ENTRY_POINTS(IBCLIENT_USE_FALLBACK)
#undef IBCLIENT_USE_FALLBACK
    }
#undef IBCLIENT_REQUIRE
#define IBCLIENT_OPTIONAL(name) Resolve(state.library, #name, api.name);
    IBCLIENT_OPTIONAL_ENTRY_POINTS(IBCLIENT_OPTIONAL)
#undef IBCLIENT_OPTIONAL
    Resolve(state.library, "fb_get_master_interface", api.fb_get_master_interface);
}
#pragma GCC diagnostic pop

}  // namespace

bool TryLoadClientLibrary() {
    BindingState& state = State();
    if (state.loaded.load(std::memory_order_acquire)) {
        return true;
    }
    const std::lock_guard<std::mutex> guard(state.lock);
    if (state.library.IsLoaded()) {
        return true;
    }
    state.library = platform::LoadClientLibrary();
    if (!state.library.IsLoaded()) {
        return false;
    }
    BindEntryPoints(state);
    state.loaded.store(true, std::memory_order_release);
    return true;
}

void RequireClientLibrary() {
    if (!TryLoadClientLibrary()) {
        RaiseClientError(ceLibraryNotFound);
    }
}

int ClientLibraryVersion() {
    RequireClientLibrary();
    return State().version;
}

void UnloadClientLibrary() {
    BindingState& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    if (!state.library.IsLoaded()) {
        return;
    }
    state.loaded.store(false, std::memory_order_release);
    state.library.Release();
    state.api = ClientEntryPoints{};
    state.version = 0;
}

std::size_t XSQLDALength(int n) {
    // XSQLDA_LENGTH(n) of ibase.h, written so that 0 (and, defensively, a negative count)
    // gives the header alone instead of relying on unsigned wrap-around.
    const std::size_t header = sizeof(XSQLDA) - sizeof(XSQLVAR);
    return header + static_cast<std::size_t>(n > 0 ? n : 0) * sizeof(XSQLVAR);
}

const ClientEntryPoints& ClientApi() {
    BindingState& state = State();
    if (!state.loaded.load(std::memory_order_acquire)) {
        // Never hand out an empty table: load now, or raise why the library is unusable.
        RequireClientLibrary();
    }
    return state.api;
}

const ClientEntryPoints* LoadedClientApi() noexcept {
    BindingState& state = State();
    return state.loaded.load(std::memory_order_acquire) ? &state.api : nullptr;
}

}  // namespace ibclient

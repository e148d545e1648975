// Loading of the client library with dlopen, the lookup of its entry points into the table
// that the whole layer calls through, the version rule and the fallbacks of a version-5
// library.
//
// Where the library is looked for, first hit wins:
//   1. When the environment variable DBU_CLIENT_LIBRARY is set and not empty, exactly that
//      file (a name without "/" goes through dlopen's own search) and nothing else; if it
//      cannot be loaded, the library counts as not found.
//   2. The executable's own folder (from /proc/self/exe): libfbclient.so.2, libfbclient.so,
//      libgds.so.0, libgds.so, the way a Windows loader looks in the application's folder
//      first. A client library shipped next to the runner thus wins over the system one.
//   3. dlopen's normal search (LD_LIBRARY_PATH, ld.so.cache, /lib, /usr/lib) for the same
//      four names in the same order.
//
// Database file names are UTF-8 here. The client library takes a file name to be in the code
// set of the character-type locale, converts it from there and fixes that code set at its
// first conversion; under the "C" locale every name with a non-ASCII character then fails
// ("Cannot transliterate character between character sets"), and its UTF-8 file-name
// parameter does not help, since the name is converted back to the locale's code set to open
// the file. So before the library is loaded, the character-type locale (only that one; numbers
// keep their "C" form) becomes a UTF-8 one: C.UTF-8, or the environment's when that is UTF-8.
//
// A required entry point that the loaded library lacks raises EOSError with the fixed code
// kEntryPointNotFound (127, the Windows ERROR_PROC_NOT_FOUND: dlsym has no numeric error) and
// the text of dlerror(). The library is then released again and the table emptied, so the
// next check loads and fails the same way instead of handing out empty slots.
#include "ibclient/Binding.h"

#include "ibclient/Errors.h"

#include <dlfcn.h>
#include <unistd.h>

#include <langinfo.h>

#include <array>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <mutex>
#include <string>

namespace ibclient {

namespace {

// The code carried by the EOSError of a missing entry point.
constexpr int32_t kEntryPointNotFound = 127;

constexpr std::array<const char*, 4> kLibraryNames = {"libfbclient.so.2", "libfbclient.so",
                                                      "libgds.so.0", "libgds.so"};

// Process-wide binding state. `loaded` is set only after every slot is filled and is what
// ClientApi() checks without taking the lock.
struct BindingState {
    std::mutex lock;
    void* handle = nullptr;
    ClientEntryPoints api;
    int version = 0;
    std::atomic<bool> loaded{false};
};

BindingState& State() {
    static BindingState state;
    return state;
}

// The folder of the running executable, with a trailing "/"; empty when unknown.
std::string ExecutableFolder() {
    std::array<char, PATH_MAX> path{};
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) {
        return {};
    }
    const std::string exe(path.data(), static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

// Makes the character-type locale a UTF-8 one (see the top of this file); leaves it as it was
// when the system has none.
void UseUtf8CharacterType() {
    const char* const current = std::setlocale(LC_CTYPE, nullptr);
    const std::string previous = current != nullptr ? current : "C";
    for (const char* name : {"C.UTF-8", "C.utf8", ""}) {
        if (std::setlocale(LC_CTYPE, name) != nullptr &&
            std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) {
            return;
        }
    }
    std::setlocale(LC_CTYPE, previous.c_str());
}

// Opens the client library by the search order described at the top of this file.
void* OpenClientLibrary() {
    const char* override = std::getenv("DBU_CLIENT_LIBRARY");
    if (override != nullptr && *override != '\0') {
        return dlopen(override, RTLD_NOW | RTLD_LOCAL);
    }
    const std::string folder = ExecutableFolder();
    if (!folder.empty()) {
        for (const char* name : kLibraryNames) {
            if (void* handle = dlopen((folder + name).c_str(), RTLD_NOW | RTLD_LOCAL)) {
                return handle;
            }
        }
    }
    for (const char* name : kLibraryNames) {
        if (void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL)) {
            return handle;
        }
    }
    return nullptr;
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
template <typename F>
bool Resolve(void* handle, const char* name, F& slot) {
    dlerror();  // clear an earlier error so the text below belongs to this lookup
    void* const symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        return false;
    }
    slot = reinterpret_cast<F>(symbol);
    return true;
}

// Releases the half-loaded library and raises the error of the missing entry point.
[[noreturn]] void FailMissingEntryPoint(BindingState& state, const char* name) {
    const char* const error = dlerror();
    std::string text = error != nullptr ? error : std::string("undefined symbol: ") + name;
    dlclose(state.handle);
    state.handle = nullptr;
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
    if (!Resolve(state.handle, #name, api.name)) {                                                 \
        FailMissingEntryPoint(state, #name);                                                       \
    }
    IBCLIENT_REQUIRED_ENTRY_POINTS(IBCLIENT_REQUIRE)
    if (Resolve(state.handle, "isc_rollback_retaining", api.isc_rollback_retaining)) {
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
#define IBCLIENT_OPTIONAL(name) Resolve(state.handle, #name, api.name);
    IBCLIENT_OPTIONAL_ENTRY_POINTS(IBCLIENT_OPTIONAL)
#undef IBCLIENT_OPTIONAL
    Resolve(state.handle, "fb_get_master_interface", api.fb_get_master_interface);
}
#pragma GCC diagnostic pop

}  // namespace

bool TryLoadClientLibrary() {
    BindingState& state = State();
    if (state.loaded.load(std::memory_order_acquire)) {
        return true;
    }
    const std::lock_guard<std::mutex> guard(state.lock);
    if (state.handle != nullptr) {
        return true;
    }
    UseUtf8CharacterType();
    state.handle = OpenClientLibrary();
    if (state.handle == nullptr) {
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
    if (state.handle == nullptr) {
        return;
    }
    state.loaded.store(false, std::memory_order_release);
    dlclose(state.handle);
    state.handle = nullptr;
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

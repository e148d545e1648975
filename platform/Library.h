// A library loaded at run time and its entry points, and where the InterBase client library is
// looked for on this system.
#pragma once

#include <string>
#include <vector>

namespace platform {

// One loaded library; released when destroyed. Move-only.
class Library {
public:
    Library() noexcept = default;
    Library(Library&& other) noexcept;
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() { Release(); }

    // Loads the library `name`: a name holding a path separator is loaded from exactly that
    // file; a bare file name goes through the system's own search (POSIX: dlopen's, with
    // LD_LIBRARY_PATH and the system folders; Windows: the system folder only, never the
    // current one). The result is not loaded when that fails; ErrorText() says why.
    static Library Load(const std::string& name);

    bool IsLoaded() const noexcept { return handle_ != nullptr; }

    // The address of the exported symbol `name`; null when the library does not export it
    // (ErrorText() then says so) or none is loaded.
    void* Symbol(const char* name);

    // The system's text of the last failure of Load or Symbol on this object.
    const std::string& ErrorText() const noexcept { return error_; }

    // Releases the library (no-op when none is loaded).
    void Release() noexcept;

private:
    void* handle_ = nullptr;
    std::string error_;
};

// The file names to try for the InterBase client library, in search order; the first that
// loads wins. Each is a full path or a bare name for the system's own search (Library::Load).
// When the environment variable DBU_CLIENT_LIBRARY is set and not empty, it is the only one.
// POSIX: the executable's own folder (its resolved path, /proc/self/exe) with libfbclient.so.2,
// libfbclient.so, libgds.so.0, libgds.so, then the same four names for dlopen's search.
// Windows: the executable's folder (fbclient.dll, gds32.dll); then the Firebird instance that
// Firebird's installer registers (HKLM\SOFTWARE\Firebird Project\Firebird Server\Instances,
// DefaultInstance: the install folder, which holds fbclient.dll since Firebird 3; earlier
// versions keep it in the subfolder "bin"); then fbclient.dll and gds32.dll in the system folder.
std::vector<std::string> ClientLibraryCandidates();

// Prepares the process for loading the client library (LoadClientLibrary calls it first).
// POSIX: the character-type locale becomes a UTF-8 one (C.UTF-8, or the environment's when
// that is UTF-8), since the client library takes file names in that locale's code set and
// fixes it at its first conversion. Windows: the current folder is taken out of the process's
// library search (SetDllDirectoryW), so that neither the library nor what it loads later comes
// from there.
void PrepareForClientLibrary();

// Loads the client library from the first of ClientLibraryCandidates() that loads (not loaded
// when none does), after PrepareForClientLibrary. On Windows no error box is shown for a
// library that cannot be loaded.
Library LoadClientLibrary();

}  // namespace platform

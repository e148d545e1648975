// Libraries loaded with dlopen, and where the client library is looked for on POSIX.
#include "platform/Library.h"

#include "platform/Paths.h"

#include <dlfcn.h>
#include <langinfo.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr std::array<const char*, 4> kClientLibraryNames = {"libfbclient.so.2", "libfbclient.so",
                                                            "libgds.so.0", "libgds.so"};

// The folder of the running executable (links resolved), with a trailing "/"; empty when
// unknown.
std::string ExecutableFolder() {
    std::array<char, PATH_MAX> path{};
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) {
        return {};
    }
    return ExtractFilePath(std::string_view(path.data(), static_cast<std::size_t>(n)));
}

// Makes the character-type locale a UTF-8 one; leaves it as it was when the system has none.
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

// The text of the last dlopen or dlsym failure. The C library keeps that text in a buffer
// of the thread's own until dlerror is called once more, which frees it.
std::string LastDlError(const char* fallback) {
    const char* const error = ::dlerror();
    std::string text = error != nullptr ? error : fallback;
    ::dlerror();
    return text;
}

}  // namespace

Library Library::Load(const std::string& name) {
    Library library;
    ::dlerror();  // clear an earlier error so the text below belongs to this load
    library.handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library.handle_ == nullptr) {
        library.error_ = LastDlError("cannot load library");
    }
    return library;
}

void* Library::Symbol(const char* name) {
    if (handle_ == nullptr) {
        error_ = "no library loaded";
        return nullptr;
    }
    ::dlerror();  // clear an earlier error so the text below belongs to this lookup
    void* const symbol = ::dlsym(handle_, name);
    if (symbol == nullptr) {
        error_ = LastDlError((std::string("undefined symbol: ") + name).c_str());
    }
    return symbol;
}

void Library::Release() noexcept {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
}

std::vector<std::string> ClientLibraryCandidates() {
    const char* const override = std::getenv("DBU_CLIENT_LIBRARY");
    if (override != nullptr && *override != '\0') {
        return {override};
    }
    std::vector<std::string> candidates;
    if (const std::string folder = ExecutableFolder(); !folder.empty()) {
        for (const char* name : kClientLibraryNames) {
            candidates.push_back(folder + name);
        }
    }
    candidates.insert(candidates.end(), kClientLibraryNames.begin(), kClientLibraryNames.end());
    return candidates;
}

void PrepareForClientLibrary() {
    UseUtf8CharacterType();
}

}  // namespace platform

// binding_probe: loads the client library the way the runner does and prints, one line per
// step, what happened, for the binding tests to compare:
//   "version <n> <file of the loaded library>" or "<exception class> <code> <message>"
// (codes: SQLErrorCode of an EIBError, ErrorCode of an EOSError; CR and LF in messages are
// written as \r and \n). Steps: the version check, a second check through ClientApi(), and
// on a version-5 library a call of two fallbacks.
#include "ibclient/Binding.h"
#include "ibclient/Errors.h"

#include <dlfcn.h>

#include <iostream>
#include <string>

namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

void Report(const ibclient::Exception& e) {
    int code = 0;
    if (const auto* ib = dynamic_cast<const ibclient::EIBError*>(&e)) {
        code = ib->SQLErrorCode();
    } else if (const auto* os = dynamic_cast<const ibclient::EOSError*>(&e)) {
        code = os->ErrorCode();
    }
    std::cout << e.ClassName() << ' ' << code << ' ' << Escaped(e.Message()) << '\n';
}

std::string LoadedFile() {
    Dl_info info{};
    const auto* entry = reinterpret_cast<void*>(ibclient::ClientApi().isc_attach_database);
    return dladdr(entry, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "?";
}

}  // namespace

int main() {
    int version = 0;
    try {
        version = ibclient::ClientLibraryVersion();
        std::cout << "version " << version << ' ' << LoadedFile() << '\n';
    } catch (const ibclient::Exception& e) {
        Report(e);
    }
    try {
        ibclient::ClientApi();
        std::cout << "version " << ibclient::ClientLibraryVersion() << ' ' << LoadedFile() << '\n';
    } catch (const ibclient::Exception& e) {
        Report(e);
    }
    if (version == 5) {
        try {
            ISC_DATE date = 0;
            ibclient::ClientApi().isc_encode_sql_date(nullptr, &date);
            std::cout << "isc_encode_sql_date returned\n";
        } catch (const ibclient::Exception& e) {
            Report(e);
        }
        try {
            ibclient::ClientApi().isc_rollback_retaining(ibclient::StatusVector(), nullptr);
            std::cout << "isc_rollback_retaining returned\n";
        } catch (const ibclient::Exception& e) {
            Report(e);
        }
    }
    ibclient::UnloadClientLibrary();
    return 0;
}

// The parameters that every database is attached with and its transactions are started with:
// the connection's user, password and role, its character set and connect timeout, and the
// longest wait for a lock.
#pragma once

#include "runner/GeneralSettings.h"

#include <string>
#include <vector>

namespace runner {

// The user, password and role a connection is made with; an empty one is not passed.
struct TCredentials {
    std::string User;
    std::string Password;
    std::string Role;
};

// Who the connections are made as. The settings file's User and Password when it names
// either; otherwise the environment's `envUser` and `envPassword` (ISC_USER, ISC_PASSWORD;
// null when unset) when either is set; otherwise SYSDBA with the runner's built-in password.
// A password named without a user is SYSDBA's; a user without a password is passed without
// one. The role is the settings file's.
TCredentials ConnectionCredentials(const TGeneralSettings& settings, const char* envUser,
                                   const char* envPassword);

// The parameter lines of every attach: the credentials (ConnectionCredentials with the
// process's ISC_USER and ISC_PASSWORD), the WIN1251 connection character set and, when
// ConnectTimeout is positive, the connect timeout. They hold the password: never log them.
std::vector<std::string> DatabaseParams(const TGeneralSettings& settings);

// The transaction parameter line that limits a lock wait to LockTimeout seconds (at most the
// 32767 the server takes); empty when LockTimeout is 0 or negative (no limit).
std::string LockTimeoutParam(const TGeneralSettings& settings);

}  // namespace runner

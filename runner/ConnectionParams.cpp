// Who the runner connects as, and the parameter lines of its attaches and transactions.
#include "runner/ConnectionParams.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace runner {

namespace {

// The user and password of a connection that neither the settings nor the environment name.
constexpr const char* kBuiltInUser = "SYSDBA";
constexpr const char* kBuiltInPassword = "quillfern";
// The longest lock wait the server takes.
constexpr int32_t kMaxLockTimeout = 32767;

}  // namespace

TCredentials ConnectionCredentials(const TGeneralSettings& settings, const char* envUser,
                                   const char* envPassword) {
    TCredentials credentials{settings.User, settings.Password, settings.Role};
    if (credentials.User.empty() && credentials.Password.empty()) {
        credentials.User = envUser != nullptr ? envUser : "";
        credentials.Password = envPassword != nullptr ? envPassword : "";
        if (credentials.User.empty() && credentials.Password.empty()) {
            credentials.User = kBuiltInUser;
            credentials.Password = kBuiltInPassword;
        }
    }
    if (credentials.User.empty()) {
        credentials.User = kBuiltInUser;
    }
    return credentials;
}

std::vector<std::string> DatabaseParams(const TGeneralSettings& settings) {
    const TCredentials credentials =
        ConnectionCredentials(settings, std::getenv("ISC_USER"), std::getenv("ISC_PASSWORD"));
    // Lines, not a comma text: a password may hold commas and equals signs.
    std::vector<std::string> lines{"user_name=" + credentials.User};
    if (!credentials.Password.empty()) {
        lines.push_back("password=" + credentials.Password);
    }
    if (!credentials.Role.empty()) {
        lines.push_back("sql_role_name=" + credentials.Role);
    }
    lines.emplace_back("lc_ctype=WIN1251");
    if (settings.ConnectTimeout > 0) {
        lines.push_back("connect_timeout=" + std::to_string(settings.ConnectTimeout));
    }
    return lines;
}

std::string LockTimeoutParam(const TGeneralSettings& settings) {
    return settings.LockTimeout > 0
               ? "lock_timeout=" + std::to_string(std::min(settings.LockTimeout, kMaxLockTimeout))
               : std::string();
}

}  // namespace runner

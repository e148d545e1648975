// The state one run of the upgrade runner shares between its steps: the log writer, the
// error flag that decides SetupStatus, the user-notification sink and the single database and
// transaction objects that serve every database of the list.
#pragma once

#include "runner/GeneralSettings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace logging {
class TLogger;
}
namespace ibclient {
class TIBDatabase;
class TIBTransaction;
}  // namespace ibclient

namespace runner {

class TWatchdog;

struct RunnerContext {
    // The executable's full path as it was started (platform::ExecutableFullPath) and the first
    // command-line argument (empty when there is none).
    std::string ExecutablePath;
    std::string FirstArgument;

    // Section General of the settings file.
    TGeneralSettings Settings;

    // The script of the current database's run (set when it is opened) and the number of the
    // first line, counting from 1, of the statement being handled, so that what is logged
    // about a statement can say where it stands.
    std::string ScriptPath;
    std::size_t StatementLine = 0;
    logging::TLogger* Log = nullptr;

    // True once an error has occurred in this run; never reset. It alone decides SetupStatus.
    bool ErrorFlag = false;
    // The statements of this run that were reported as failed (ReportFailedStatement), so that
    // the script reader can stop a database's script after one (OnError=Stop).
    std::size_t FailedStatements = 0;

    // Created by the database loop, reused for every entry of the list.
    ibclient::TIBDatabase* Database = nullptr;
    ibclient::TIBTransaction* Transaction = nullptr;

    // The run's watchdog (StatementTimeout, SIGTERM and SIGINT) while the run has one.
    TWatchdog* Watchdog = nullptr;

    // Logs through the run's writer (no-op before the writer exists).
    void LogMessage(int32_t level, std::string_view message) const;

    // The user-notification sink: receives user-facing texts and discards them (the runner is
    // unattended); kept as one place so the texts it is given stay visible in the code.
    void Notify(std::string_view /*text*/) const noexcept {}
};

}  // namespace runner

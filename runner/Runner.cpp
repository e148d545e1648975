// The runner's main sequence and the rules it applies to the settings file's content.
#include "runner/Runner.h"

#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBTransaction.h"
#include "logging/Logger.h"
#include "platform/Paths.h"
#include "platform/RunLock.h"
#include "runner/Connection.h"
#include "runner/RunnerContext.h"
#include "runner/ScriptReader.h"
#include "runner/Settings.h"
#include "runner/StatementLog.h"
#include "runner/Watchdog.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <typeinfo>

namespace runner {

namespace {

constexpr int32_t kErrorLevel = 1;
constexpr int32_t kProgressLevel = 5;

// The transaction object and the database object that serve every entry of the list. They
// exist from before the first entry until the loop is left, on every way out.
class ConnectionObjects {
public:
    // Creates the transaction object, then the database object (creating the first component
    // also loads the client library, which raises when the library is missing), and points
    // context.Transaction and context.Database at them.
    explicit ConnectionObjects(RunnerContext& context) : context_(context) {
        transaction_ = std::make_unique<ibclient::TIBTransaction>();
        database_ = std::make_unique<ibclient::TIBDatabase>();
        context_.Transaction = transaction_.get();
        context_.Database = database_.get();
    }

    // Releases the transaction object, then the database object, and clears the context's
    // pointers to them.
    ~ConnectionObjects() {
        context_.Transaction = nullptr;
        context_.Database = nullptr;
        transaction_.reset();
        database_.reset();
    }

    ConnectionObjects(const ConnectionObjects&) = delete;
    ConnectionObjects& operator=(const ConnectionObjects&) = delete;

private:
    RunnerContext& context_;
    std::unique_ptr<ibclient::TIBTransaction> transaction_;
    std::unique_ptr<ibclient::TIBDatabase> database_;
};

// The run's log writer, published through the context while it exists.
class RunLogger {
public:
    RunLogger(RunnerContext& context, const std::string& logPath)
        : context_(context),
          logger_(std::make_unique<logging::TLogger>(logPath, context.Settings.DebugMode)) {
        context_.Log = logger_.get();
    }
    ~RunLogger() { Release(); }
    RunLogger(const RunLogger&) = delete;
    RunLogger& operator=(const RunLogger&) = delete;

    void Release() noexcept {
        context_.Log = nullptr;
        logger_.reset();
    }

private:
    RunnerContext& context_;
    std::unique_ptr<logging::TLogger> logger_;
};

// The closing steps of a run with databases: release the database list, log
// " Close application", release the log writer. Runs on every way out of the loop.
class CloseApplication {
public:
    CloseApplication(RunnerContext& context, std::vector<std::string>& databaseList,
                     RunLogger& logger)
        : context_(context), databaseList_(databaseList), logger_(logger) {}
    ~CloseApplication() {
        databaseList_.clear();
        context_.LogMessage(kProgressLevel, " Close application");
        logger_.Release();
    }
    CloseApplication(const CloseApplication&) = delete;
    CloseApplication& operator=(const CloseApplication&) = delete;

private:
    RunnerContext& context_;
    std::vector<std::string>& databaseList_;
    RunLogger& logger_;
};

// One entry of the loop: connect, run the script, close; then the success message while no
// error has occurred in this run. A name that cannot be used is a failed database.
void UpgradeDatabase(RunnerContext& context, const std::string& entry) {
    const std::string name(EntryValue(entry));
    if (const std::optional<std::string> problem = DatabaseEntryProblem(entry)) {
        context.ErrorFlag = true;
        context.LogMessage(kErrorLevel, *problem);
        return;
    }
    if (OpenDatabase(context, name)) {
        context.LogMessage(kProgressLevel, " Start upgrade database " + name + " ");
        try {
            RunScript(context);
        } catch (const std::exception& e) {
            // The layer's errors and the standard library's alike (a value too large for
            // memory, say): either ends this database's run, never the loop.
            context.ErrorFlag = true;
            context.LogMessage(kErrorLevel,
                               " error: there was an error during parsing SQL \r\nerror message: " +
                                   std::string(e.what()) + "\r\n" + StatementLocation(context));
        } catch (...) {
            // Any other error leaves the loop, but the connection is closed first. An error of
            // the close itself must not replace the one on its way out.
            try {
                CloseDatabase(context);
            } catch (...) {
            }
            throw;
        }
        CloseDatabase(context);
    }
    if (!context.ErrorFlag) {
        context.LogMessage(kProgressLevel,
                           " Database " + name + " upgrade was successful completed");
        context.Notify("Database " + name + " upgrade was successful completed");
    }
}

std::string DemangledName(const std::type_info& type) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

// Writes `value` as SetupStatus of the settings file; the level-1 text of the failure when it
// could not be written. The main sequence and a watchdog that ends the run take turns.
std::optional<std::string> WriteStatus(const std::string& settingsPath, const char* value) {
    static std::mutex turns;
    const std::lock_guard<std::mutex> turn(turns);
    try {
        WriteSetupStatus(settingsPath, "Common", "SetupStatus", value);
        return std::nullopt;
    } catch (const ibclient::Exception& e) {
        return " error: SetupStatus was not written\r\nerror message: " + e.Message();
    }
}

// Ends the run at once from the watchdog's thread, while the main thread still waits inside
// the client library: the entry, "Cancel", and an exit that runs no exit handler (the
// library's own would run under the waiting call).
[[noreturn]] void EndRunAtOnce(const RunnerContext& context, const std::string& settingsPath,
                               const std::string& logPath, const std::string& message) noexcept {
    try {
        // A writer of its own: the run's may be in use on the main thread.
        logging::TLogger log(logPath, context.Settings.DebugMode);
        log.Log(kErrorLevel, message);
        if (const auto failure = WriteStatus(settingsPath, "Cancel")) {
            log.Log(kErrorLevel, *failure);
        }
    } catch (...) {
    }
    std::_Exit(1);
}

}  // namespace

int32_t ParseDebugMode(std::string_view text) {
    return ReadSettingsInteger(text).value_or(TGeneralSettings().DebugMode);
}

std::string_view EntryValue(std::string_view entry) {
    const std::size_t eq = entry.find('=');
    return eq == std::string_view::npos ? std::string_view() : entry.substr(eq + 1);
}

std::optional<std::string> DatabaseEntryProblem(std::string_view entry) {
    const std::string_view value = EntryValue(entry);
    const std::string key(entry.substr(0, entry.find('=')));
    if (value.empty()) {
        return " error: database " + key + " has an empty name; it is not upgraded";
    }
    if (value.find('\0') != std::string_view::npos) {
        return " error: the name of database " + key +
               " holds a NUL byte; it is not upgraded (only the part in front of it would be "
               "opened)";
    }
    if (value.size() > kMaxSettingsValueLength) {
        return " error: the name of database " + key + " is longer than " +
               std::to_string(kMaxSettingsValueLength) + " characters; it is not upgraded";
    }
    return std::nullopt;
}

RunSettings ReadSettings(const std::string& settingsPath) {
    const TSettingsFile file = TSettingsFile::Load(settingsPath);
    RunSettings settings;
    settings.General = ReadGeneralSettings(file);
    const SectionKeys keys = file.ReadSection("Database");
    settings.DatabaseListCut = keys.Cut;
    settings.DatabaseList.reserve(keys.Names.size());
    for (std::size_t i = 0; i < keys.Names.size(); ++i) {
        settings.DatabaseList.push_back(keys.Names[i] + "=" + keys.Values[i]);
    }
    return settings;
}

int RunMainSequence(RunnerContext& context) {
    std::vector<std::string> databaseList;
    const std::string settingsPath = platform::ChangeFileExt(context.ExecutablePath, ".ini");
    RunSettings settings = ReadSettings(settingsPath);
    context.Settings = settings.General;
    databaseList = std::move(settings.DatabaseList);
    const std::string logPath = platform::ChangeFileExt(context.ExecutablePath, ".log");
    RunLogger logger(context, logPath);

    // A second run of the same setup touches nothing: the first one's work and outcome stand.
    const std::optional<platform::RunLock> runLock = platform::RunLock::TryAcquire(settingsPath);
    if (!runLock) {
        context.LogMessage(kErrorLevel, " error: another run of this setup is in progress (" +
                                            settingsPath + ")");
        return 1;
    }
    // From here on StatementTimeout, SIGTERM and SIGINT are watched (a stop signal that came
    // earlier is taken now).
    const TRunWatch watch(context, [&context, settingsPath, logPath](const std::string& message) {
        EndRunAtOnce(context, settingsPath, logPath, message);
    });

    if (settings.DatabaseListCut) {
        // Databases left out of the list are not upgraded: that must not read as success.
        context.ErrorFlag = true;
        context.LogMessage(kErrorLevel, " error: the key names of section Database exceed " +
                                            std::to_string(kSectionKeyBufferSize) +
                                            " characters; only the first " +
                                            std::to_string(databaseList.size()) +
                                            " databases were read");
    }
    if (databaseList.empty()) {
        context.ErrorFlag = true;
        context.LogMessage(kErrorLevel, " error: database list count = 0");
        context.Notify("error: database list count = 0");
    }
    if (context.Settings.DebugMode >= kProgressLevel) {
        context.LogMessage(kProgressLevel,
                           " Database list count = " + std::to_string(databaseList.size()));
        for (std::size_t i = 0; i < databaseList.size(); ++i) {
            context.LogMessage(kProgressLevel, " database_" + std::to_string(i) + " - " +
                                                   std::string(EntryValue(databaseList[i])));
        }
    }

    if (!databaseList.empty()) {
        // Until the run's outcome is written at its end, the file says "Cancel": a run that is
        // killed or crashes must not leave the "Continue" of an earlier run behind.
        if (const auto failure = WriteStatus(settingsPath, "Cancel")) {
            context.LogMessage(kErrorLevel, *failure);
        }
        const CloseApplication closing(context, databaseList, logger);
        const ConnectionObjects objects(context);
        try {
            for (const std::string& entry : databaseList) {
                ThrowIfInterrupted(context);
                UpgradeDatabase(context, entry);
            }
        } catch (const ERunInterrupted&) {
            // Reported right here, before " Close application".
        }
        NoteInterruption(context);
    }
    const bool interrupted = NoteInterruption(context);

    const char* const status = context.ErrorFlag ? "Cancel" : "Continue";
    if (const auto failure = WriteStatus(settingsPath, status)) {
        // A stale SetupStatus would be read as this run's outcome, so the failure is logged
        // (the run's writer may already be released) and ends the run with exit code 1.
        logging::TLogger(logPath, context.Settings.DebugMode).Log(kErrorLevel, *failure);
        return 1;
    }
    return interrupted ? 1 : 0;
}

void WriteCancelAfterEscapedError(const RunnerContext& context) noexcept {
    if (context.ExecutablePath.empty()) {
        return;
    }
    try {
        WriteSetupStatus(platform::ChangeFileExt(context.ExecutablePath, ".ini"), "Common",
                         "SetupStatus", "Cancel");
    } catch (...) {
        // Best effort: the report and exit code 1 still tell the caller.
    }
}

std::string UnhandledErrorReport(const std::exception& error, std::string_view module) {
    const auto* own = dynamic_cast<const ibclient::Exception*>(&error);
    const std::string className = own ? own->ClassName() : DemangledName(typeid(error));
    std::string message;
    const std::string_view what = error.what();
    for (std::size_t i = 0; i < what.size(); ++i) {
        if (what[i] == '\r' && i + 1 < what.size() && what[i + 1] == '\n') {
            continue;
        }
        message += (what[i] == '\r' || what[i] == '\n') ? ' ' : what[i];
    }
    return "Exception " + className + " in module " + std::string(module) + ": " + message + "\n";
}

}  // namespace runner

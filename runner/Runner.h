// The runner's main sequence: settings, log writer, the loop over the databases of the
// settings file, and SetupStatus; plus the pieces of it that have rules of their own (paths,
// DebugMode, database entries) and the handling of an error that escapes it.
#pragma once

#include "runner/GeneralSettings.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace runner {

struct RunnerContext;

// What the settings file gives the run.
struct RunSettings {
    // Section General, read through its table of keys.
    TGeneralSettings General;
    // One "key=value" entry per key line of section Database, in file order, each with its
    // line's own value (a key that occurs twice gives two entries).
    std::vector<std::string> DatabaseList;
    // True when keys of section Database were left out because their names did not fit into
    // the key-name buffer.
    bool DatabaseListCut = false;
};

// Reads the keys of section General and the entries of section Database. A missing or
// unreadable file gives the defaults and an empty list; never raises on content.
RunSettings ReadSettings(const std::string& settingsPath);

// A DebugMode text as a signed 32-bit integer (ReadSettingsInteger); anything else, an empty
// text or a number out of range gives 1.
int32_t ParseDebugMode(std::string_view text);

// The value part of a database list entry: the text after its first "=".
std::string_view EntryValue(std::string_view entry);

// Why the value of database list entry `entry` cannot be used as a database name, as its
// level-1 log text; nullopt when it can. A name is never cut or taken in part: an empty value,
// one holding a NUL byte (the client library would open only the part in front of it) and one
// longer than kMaxSettingsValueLength characters are refused, naming the entry's key.
std::optional<std::string> DatabaseEntryProblem(std::string_view entry);

// The whole run for `context` (ExecutablePath and FirstArgument filled in). Returns the exit
// code: 0 on an orderly end; 1 when SetupStatus could not be written (logged at level 1),
// when another run of the same settings file is in progress (logged at level 1; this run then
// touches no database and no settings value), or when the run was interrupted by SIGTERM or
// SIGINT (logged at level 1, SetupStatus "Cancel").
// An error that escapes the sequence propagates after the clean-up steps around it ran.
int RunMainSequence(RunnerContext& context);

// After an error escaped RunMainSequence: writes SetupStatus "Cancel" so that a "Continue" of
// an earlier run is not taken for this run's outcome. Best effort; never raises.
void WriteCancelAfterEscapedError(const RunnerContext& context) noexcept;

// The one-line report of an error that escaped the main sequence:
// "Exception <class name> in module <module>: <message>", line breaks in the message turned
// into blanks, ending with a line feed.
std::string UnhandledErrorReport(const std::exception& error, std::string_view module);

}  // namespace runner

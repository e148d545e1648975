// The keys of the settings file's section General in one table: each key's name, default,
// the reader of its value and what it means. The runner reads its settings through the
// table, the script check judges a settings file by it, and the README's list of keys is made
// from it, so none of them can name a key or a default that the others do not know.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace runner {

class TSettingsFile;

// What the runner does with the rest of a database's script after a statement has failed its
// retry.
enum class TOnError {
    Continue,  // run the next statement
    Stop,      // skip the rest of that database's script
};

// The values of section General as the run uses them; every member starts at its default.
struct TGeneralSettings {
    // The log threshold.
    int32_t DebugMode = 1;
    // Seconds the retry's reconnect keeps trying while the server cannot be reached (0: one
    // attempt).
    int32_t ReconnectWait = 30;
    // Seconds a statement waits for a lock held by another user (0 or less: no limit).
    int32_t LockTimeout = 0;
    // Seconds an attach may take to reach the server (0 or less: the client library's
    // default).
    int32_t ConnectTimeout = 0;
    // Seconds an operation on a connected database (a statement, its commit, a declaration
    // query, a history table lookup, the start of a transaction, the close of a database) may
    // take before it is stopped (0 or less: no limit).
    int32_t StatementTimeout = 0;
    // The table of each database that records every statement applied (empty: none), as the
    // settings file names it; whether it is a table name at all is judged where it is used.
    std::string HistoryTable;
    // The connection's user, password and role as the settings file names them (empty: not
    // named); ConnectionParams decides what the connection takes.
    std::string User;
    std::string Password;
    std::string Role;

    bool operator==(const TGeneralSettings&) const = default;
    // What follows a statement that failed its retry.
    TOnError OnError = TOnError::Continue;
};

// One key of section General.
struct TSettingKey {
    std::string_view Name;
    // The default in words, as the check and the README name it ("1", "30 seconds").
    std::string_view Default;
    // What the check says of a value that is not valid, after the value ("is no number").
    std::string_view Invalid;
    // The README's text on the key (markdown, may span lines).
    std::string_view Meaning;
    // Stores the value `text` (trimmed and unquoted, as the settings file gives it) in
    // `settings`; false when `text` is no valid value. A number then keeps its default; the
    // history table's name is stored all the same, so that the run refuses it instead of
    // quietly running without the history it was told to keep.
    bool (*Read)(std::string_view text, TGeneralSettings& settings);
};

// Every key of section General, in the order the README lists them.
std::span<const TSettingKey> GeneralSettingKeys() noexcept;

// The key named `name` (ASCII letters in any case), or null.
const TSettingKey* FindGeneralSettingKey(std::string_view name) noexcept;

// The known key whose name is closest to `name` (the fewest single-letter edits, ignoring
// ASCII case), for the finding on a misspelt key; nullopt when none is near enough to be
// what was meant.
std::optional<std::string_view> ClosestGeneralSettingKey(std::string_view name);

// The values of section General of `file`, each key read by its own reader; a key that is
// missing, or whose value its reader refuses, keeps its default.
TGeneralSettings ReadGeneralSettings(const TSettingsFile& file);

// A number of section General as a signed 32-bit integer: optional leading blanks, an
// optional sign, then decimal digits or hexadecimal digits after "$", "x", "X", "0x" or "0X".
// nullopt for anything else, an empty text or a number out of range.
std::optional<int32_t> ReadSettingsInteger(std::string_view text);

// The README's list of the keys of section General: one markdown item per key, made from the
// table.
std::string GeneralSettingsMarkdown();

}  // namespace runner

// The table of the keys of section General and the readers of their values.
#include "runner/GeneralSettings.h"

#include "ibclient/TextFormat.h"
#include "platform/Text.h"
#include "runner/History.h"
#include "runner/Settings.h"

#include <algorithm>
#include <array>
#include <climits>
#include <vector>

namespace runner {

namespace {

// Reads a number into `Member`; a text that is no number keeps the default.
template <int32_t TGeneralSettings::*Member>
bool ReadInteger(std::string_view text, TGeneralSettings& settings) {
    const std::optional<int32_t> value = ReadSettingsInteger(text);
    if (value) {
        settings.*Member = *value;
    }
    return value.has_value();
}

// Stores the text into `Member`: every text is a value.
template <std::string TGeneralSettings::*Member>
bool ReadText(std::string_view text, TGeneralSettings& settings) {
    settings.*Member = text;
    return true;
}

// Stores the history table's name as written; valid when it is empty (no table) or a name the
// table may have.
bool ReadHistoryTable(std::string_view text, TGeneralSettings& settings) {
    settings.HistoryTable = text;
    return text.empty() || IsHistoryTableName(text);
}

// Reads Continue or Stop (ASCII letters in any case).
bool ReadOnError(std::string_view text, TGeneralSettings& settings) {
    if (platform::SameTextAscii(text, "Continue")) {
        settings.OnError = TOnError::Continue;
    } else if (platform::SameTextAscii(text, "Stop")) {
        settings.OnError = TOnError::Stop;
    } else {
        return false;
    }
    return true;
}

constexpr std::array kKeys{
    TSettingKey{"DebugMode", "1", "is no number",
                "the log threshold: level-1 entries (errors) are written from 1 on, level-5 "
                "entries (progress) from 5 on, and 5 or more also lists the databases; level-6 "
                "entries (each declaration's stored value and each statement as sent, after "
                "substitution) from 6 on; 0 or less writes no log.",
                ReadInteger<&TGeneralSettings::DebugMode>},
    TSettingKey{"ReconnectWait", "30 seconds", "is no number",
                "when the retry of a failed statement finds the server unreachable (a network "
                "error, or the rejection of a server that is still starting after a restart), "
                "it tries to attach again with a short, growing pause for up to this many "
                "seconds; 0 makes one attempt. Any other connect error fails the retry at once.",
                ReadInteger<&TGeneralSettings::ReconnectWait>},
    TSettingKey{"LockTimeout", "no lock timeout", "is no number",
                "seconds (1 to 32767; larger values count as 32767) that a statement waits for "
                "a lock held by another user; it then fails, is retried once and reported. 0 or "
                "negative: it waits as long as the lock is held.",
                ReadInteger<&TGeneralSettings::LockTimeout>},
    TSettingKey{"ConnectTimeout", "no connect timeout", "is no number",
                "seconds that reaching the server may take, passed to every attach as its "
                "connect timeout. 0 or negative: the client library's default.",
                ReadInteger<&TGeneralSettings::ConnectTimeout>},
    TSettingKey{"StatementTimeout", "no statement timeout", "is no number",
                "seconds that a statement, its commit, a declaration query, a lookup in the "
                "history table, the start of a transaction or the close of a database may take. "
                "One that takes longer is cancelled and fails with a level-1 entry saying that "
                "it timed out; a timed-out statement is not retried. When the cancel gets no "
                "answer within 3 seconds (a server that hangs), the connection is dropped and "
                "the rest of that database's script is skipped; when even that does not end the "
                "wait, the run ends there (level-1 entry, `Cancel`, exit code 1). Connecting is "
                "bounded by `ConnectTimeout`, not by this key. 0 or negative: no limit.",
                ReadInteger<&TGeneralSettings::StatementTimeout>},
    TSettingKey{"HistoryTable", "none",
                "is no table name (a letter, then letters, digits, _ or $, at most 27)",
                "the table in each database in which the runner records every statement that "
                "it applies, and finds the statements applied before (see \"History table\"); "
                "it is created when missing. A letter, then letters, digits, `_` or `$`, at "
                "most 27 in all; any other value fails every database.",
                ReadHistoryTable},
    TSettingKey{"User", "`ISC_USER`, else SYSDBA", "",
                "the user that every database is attached as; see \"The connection's user\" "
                "for how `User`, `Password` and the environment variables `ISC_USER` and "
                "`ISC_PASSWORD` decide it.",
                ReadText<&TGeneralSettings::User>},
    TSettingKey{"Password", "`ISC_PASSWORD`, else the built-in one", "",
                "that user's password: passed to the client library only, never logged or "
                "written anywhere. `dbupgrade-check --settings` warns when a settings file that "
                "holds one may be read by other users.",
                ReadText<&TGeneralSettings::Password>},
    TSettingKey{"Role", "none", "",
                "the SQL role that the connection takes; the user must have been granted it.",
                ReadText<&TGeneralSettings::Role>},
    TSettingKey{"OnError", "Continue", "is neither Continue nor Stop",
                "`Continue` runs the rest of the script after a statement has failed its retry; "
                "`Stop` skips the rest of that database's script (a level-1 entry says from which "
                "line how many statements were not run) and goes on with the next database.",
                ReadOnError},
};

// The number of single-letter insertions, deletions and changes that turn `a` into `b`,
// ignoring ASCII case.
std::size_t EditDistance(std::string_view a, std::string_view b) {
    const std::string upperA = platform::AsciiUpperCase(a);
    const std::string upperB = platform::AsciiUpperCase(b);
    std::vector<std::size_t> row(upperB.size() + 1);
    for (std::size_t j = 0; j < row.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= upperA.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= upperB.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min(
                {row[j] + 1, row[j - 1] + 1, diagonal + (upperA[i - 1] == upperB[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

}  // namespace

std::span<const TSettingKey> GeneralSettingKeys() noexcept {
    return kKeys;
}

const TSettingKey* FindGeneralSettingKey(std::string_view name) noexcept {
    const auto found = std::find_if(kKeys.begin(), kKeys.end(), [name](const TSettingKey& key) {
        return platform::SameTextAscii(key.Name, name);
    });
    return found == kKeys.end() ? nullptr : &*found;
}

std::optional<std::string_view> ClosestGeneralSettingKey(std::string_view name) {
    std::optional<std::string_view> closest;
    // A third of the name's letters (at least two) may be wrong; beyond that the name is not
    // a misspelling of the key but something else.
    std::size_t best = std::max<std::size_t>(2, name.size() / 3) + 1;
    for (const TSettingKey& key : kKeys) {
        const std::size_t distance = EditDistance(name, key.Name);
        if (distance < best) {
            best = distance;
            closest = key.Name;
        }
    }
    return closest;
}

TGeneralSettings ReadGeneralSettings(const TSettingsFile& file) {
    TGeneralSettings settings;
    for (const TSettingKey& key : kKeys) {
        // A missing key reads as an empty text, which leaves every key at its default.
        key.Read(file.ReadString("General", key.Name, ""), settings);
    }
    return settings;
}

std::optional<int32_t> ReadSettingsInteger(std::string_view text) {
    const auto parsed = ibclient::ParseIntegerText(text);
    if (!parsed || parsed->Value > INT32_MAX || parsed->Value < INT32_MIN) {
        return std::nullopt;
    }
    return static_cast<int32_t>(parsed->Value);
}

std::string GeneralSettingsMarkdown() {
    std::string list;
    for (const TSettingKey& key : kKeys) {
        list += "- `[General] " + std::string(key.Name) +
                "` (default: " + std::string(key.Default) + "): " + std::string(key.Meaning) + "\n";
    }
    return list;
}

}  // namespace runner

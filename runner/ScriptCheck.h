// The desk check of an upgrade script and its settings file: the script is read with the
// runner's own reader and declaration rules, and every statement is looked at for what will
// make the runner fail, or do something else than the text says, on a customer's machine.
// Nothing is connected to and nothing is written.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace runner {

enum class TSeverity {
    Error,    // the runner will fail, or will do something else than the text says
    Warning,  // the runner will do it, but it is probably not what was meant
};

// One finding: the line it belongs to (the statement's first line, or the line of the exact
// spot, counting from 1) and its text.
struct TFinding {
    std::size_t Line = 0;
    TSeverity Severity = TSeverity::Error;
    std::string Text;
};

// What the check of one script found, in script order.
struct TScriptReport {
    // The statements the runner acts on: declarations and SQL statements, not the empty ones.
    std::size_t Statements = 0;
    std::vector<TFinding> Findings;
};

// Reads the script at `path` exactly as the runner reads it and checks every statement.
// Raises EInOutError (as the runner does) when the file cannot be opened or read.
TScriptReport CheckScript(const std::string& path);

// Checks the settings file at `path`: the [Database] section and its values and the numbers
// of [General]. nullopt when the file is missing or cannot be read.
std::optional<std::vector<TFinding>> CheckSettings(const std::string& path);

// "FILE:LINE: error: TEXT" or "FILE:LINE: warning: TEXT".
std::string FormatFinding(std::string_view file, const TFinding& finding);

// "N statements, E errors, W warnings".
std::string FormatSummary(std::size_t statements, std::size_t errors, std::size_t warnings);

}  // namespace runner

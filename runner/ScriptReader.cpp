// The script reader: the script's path, the shared-read script file with its line rules and
// the loop that cuts the script into statements at blank lines where the text is complete.
#include "runner/ScriptReader.h"

#include "ibclient/Errors.h"
#include "platform/Errors.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "runner/RunnerContext.h"
#include "runner/ScriptVariables.h"
#include "runner/StatementLog.h"
#include "runner/StatementRunner.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace runner {

namespace {

constexpr char kCtrlZ = 26;

// Appends [first, last) to `line` without its carriage returns. Every CR is either the first
// half of a CR LF break or a lone CR, and both are left out of the line's text.
void AppendWithoutCR(std::string& line, const char* first, const char* last) {
    while (first < last) {
        const auto* cr = static_cast<const char*>(
            std::memchr(first, '\r', static_cast<std::size_t>(last - first)));
        const char* pieceEnd = cr != nullptr ? cr : last;
        line.append(first, pieceEnd);
        first = cr != nullptr ? cr + 1 : last;
    }
}

} // namespace

std::string ScriptPath(const std::string& executablePath, const std::string& firstArgument) {
    if (platform::SameTextAscii(platform::ExtractFileExt(firstArgument), ".sql")) {
        return firstArgument;
    }
    return platform::ChangeFileExt(executablePath, ".sql");
}

TScriptFile::TScriptFile(const std::string& path) : file_(path) {}

void TScriptFile::Load() {
    if (loaded_) {
        return;
    }
    loaded_ = true;
    std::string bytes;
    if (!closed_) {
        // Sized to the file (one byte more, to see its end without growing); a file that
        // grows while it is read, or reports no size, doubles the buffer as needed.
        std::size_t capacity = kBufferSize;
        if (const std::uint64_t size = file_.Size(); size > 0 && size < SIZE_MAX) {
            capacity = static_cast<std::size_t>(size) + 1;
        }
        bytes.resize(capacity);
        std::size_t used = 0;
        bool utf16 = false;
        for (;;) {
            if (used == bytes.size()) {
                bytes.resize(bytes.size() * 2);
            }
            const std::size_t count = file_.Read(bytes.data() + used, bytes.size() - used);
            if (count == 0) {
                break;
            }
            const std::size_t before = used;
            used += count;
            if (before < 2 && used >= 2) {
                utf16 = std::string_view(bytes.data(), 2) == "\xFF\xFE" ||
                        std::string_view(bytes.data(), 2) == "\xFE\xFF";
            }
            // Outside UTF-16 a Ctrl-Z byte ends the file: nothing after it is read.
            if (!utf16 && std::memchr(bytes.data() + before, kCtrlZ, count) != nullptr) {
                break;
            }
        }
        bytes.resize(used);
    }
    script_ = DecodeScript(std::move(bytes));
}

const TScriptText& TScriptFile::Script() {
    Load();
    return script_;
}

bool TScriptFile::ReadLine(std::string& line) {
    line.clear();
    Load();
    const std::string& text = script_.Text;
    if (closed_ || next_ >= text.size()) {
        return false;
    }
    const char* first = text.data() + next_;
    const char* last = text.data() + text.size();
    const auto* lf = static_cast<const char*>(
        std::memchr(first, '\n', static_cast<std::size_t>(last - first)));
    const char* lineEnd = lf != nullptr ? lf : last;
    AppendWithoutCR(line, first, lineEnd);
    next_ = lf != nullptr ? static_cast<std::size_t>(lf + 1 - text.data()) : text.size();
    ++lineNumber_;
    return true;
}

void TScriptFile::Close() noexcept {
    file_.Close();
    closed_ = true;
}

void RunScriptFile(RunnerContext& context, const StatementExecutor& execute) {
    const std::string path = ScriptPath(context.ExecutablePath, context.FirstArgument);
    context.ScriptPath = path;
    context.StatementLine = 0;
    std::optional<TScriptFile> file;
    try {
        file.emplace(path);
    } catch (const platform::EInOutError& error) {
        context.ErrorFlag = true;
        context.LogMessage(1, " error: coudn't open file " + path + "\r\n" +
                                  "error message: " + error.Message() + "\r\n");
        context.Notify(path + ": " + error.Message());
        return;
    }

    // OnError=Stop: the statements after a failed one are counted, not run.
    const bool stopOnError = context.Settings.OnError == TOnError::Stop;
    const std::size_t failedBefore = context.FailedStatements;
    std::size_t skipped = 0;
    std::size_t firstSkipped = 0;
    ReadStatements(*file, [&](const std::string& statement, const TStatementShape& shape,
                              const std::vector<TUnconvertible>& unconvertible) {
        context.StatementLine = shape.FirstLine;
        if (shape.CommentOnly) {
            LogSkippedComment(context);
            return;
        }
        if (stopOnError && context.FailedStatements != failedBefore) {
            if (!platform::IsBlank(statement)) {
                firstSkipped = skipped == 0 ? shape.FirstLine : firstSkipped;
                ++skipped;
            }
            return;
        }
        // A statement holding a place that the conversion could not carry over is not
        // handed on.
        if (unconvertible.empty()) {
            execute(statement);
            return;
        }
        const std::string message = UnconvertibleMessage(unconvertible, file->Script().Encoding);
        if (IsDeclaration(platform::Trim(statement))) {
            throw ibclient::Exception(message + ":\r\n" + statement);
        }
        ReportFailedStatement(context, statement, message);
    });
    file->Close();
    if (skipped > 0) {
        LogStoppedScript(context, skipped, firstSkipped);
    }
}

void ReadStatements(TScriptFile& file, const NumberedStatementHandler& handle) {
    // Unconvertible places are in text order, so one forward pass over them serves all
    // statements.
    const std::vector<TUnconvertible>& places = file.Script().Unconvertible;
    std::size_t nextPlace = 0;
    std::vector<TUnconvertible> held;
    TStatementShape shape;
    const auto handOn = [&](const std::string& statement, std::size_t lastLine) {
        held.clear();
        for (; nextPlace < places.size() && places[nextPlace].Line <= lastLine; ++nextPlace) {
            if (places[nextPlace].Line >= shape.FirstLine) {
                held.push_back(places[nextPlace]);
            }
        }
        handle(statement, shape, held);
    };

    // The scanner goes on from where it stopped at each new line: whether the statement may
    // end at a blank line is known without scanning it again.
    TSqlScanner scanner;
    std::string statement;
    std::string line;
    while (file.ReadLine(line)) {
        if (platform::IsBlank(line) && (statement.empty() || scanner.Complete())) {
            if (statement.empty()) {
                shape = TStatementShape{file.LineNumber(), false, {}};
                handOn(statement, file.LineNumber());
            } else {
                shape.CommentOnly = !scanner.HasCode();
                handOn(statement, file.LineNumber() - 1);
            }
            statement.clear();
            scanner.Reset();
            continue;
        }
        if (statement.empty()) {
            shape = TStatementShape{file.LineNumber(), false, {}};
            statement.swap(line); // the line as read; ReadLine refills `line` anyway
        } else {
            // A blank line inside an open string, comment, parenthesis or PSQL body belongs
            // to the statement as it stands in the file.
            statement += "\r\n";
            statement += line;
        }
        scanner.Scan(statement);
    }
    // The last statement of a script that does not end with a blank line, or one that is
    // still open at the end: it is handed on as it is, and the server reports it.
    if (statement.empty()) {
        shape = TStatementShape{file.LineNumber() + 1, false, {}};
        handOn(statement, file.LineNumber() + 1);
    } else {
        shape.CommentOnly = scanner.Complete() && !scanner.HasCode();
        shape.Open = scanner.Opening();
        handOn(statement, file.LineNumber());
    }
}

} // namespace runner

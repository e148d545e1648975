// Runs the upgrade script once against the database the runner has just connected: the
// script's path, the shared-read file with its line rules, and the loop that cuts the script
// into statements at the blank lines where the text collected so far is complete.
#pragma once

#include "platform/Files.h"
#include "runner/ScriptText.h"
#include "runner/SqlTokenizer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace runner {

struct RunnerContext;

// Reads the script file, cuts it into statements at blank lines and executes each one.
// Returns normally when the script was read to its end or could not be opened; raises when
// an error ends the run early.
void RunScript(RunnerContext& context);

// The script to run: `firstArgument` when the extension of its last path component is ".sql"
// in any ASCII letter case, otherwise `executablePath` with its extension replaced by ".sql".
std::string ScriptPath(const std::string& executablePath, const std::string& firstArgument);

// The script file opened for reading while other writers are shut out (on POSIX a shared
// flock, on Windows a share mode without writers: see platform::ReadLockedFile), read line by line
// from its text in the connection character set (DecodeScript).
class TScriptFile {
public:
    // Opens an existing regular file; raises platform::EInOutError when that fails (a folder gives
    // "File access denied").
    explicit TScriptFile(const std::string& path);

    // Reads the next line into `line`; false (and `line` empty) at the end of the file.
    // A line ends at LF or CR LF, which are consumed; any other CR is dropped from the text;
    // Ctrl-Z (code 26) ends the file; a last line without a line break counts. Lines have no
    // length limit and all other bytes, NUL included, pass unchanged. The first call reads the
    // whole file and converts it; raises platform::EInOutError when reading fails.
    bool ReadLine(std::string& line);

    // The number of lines ReadLine has returned so far: the line number of the last one.
    std::size_t LineNumber() const noexcept { return lineNumber_; }

    // The converted script; reads the file when ReadLine has not done so yet.
    const TScriptText& Script();

    // Closes the file (and so releases its lock); ReadLine then reports the end of the file.
    void Close() noexcept;

private:
    // Reads the file to its end (or to its first Ctrl-Z when it is no UTF-16 text) and
    // converts it, once.
    void Load();

    static constexpr std::size_t kBufferSize = 256 * 1024;

    platform::ReadLockedFile file_;
    TScriptText script_;
    std::size_t next_ = 0;        // first unread byte of script_.Text
    std::size_t lineNumber_ = 0;  // lines returned so far
    bool loaded_ = false;
    bool closed_ = false;
};

// Called with each collected statement (its lines joined by CR LF); its errors end the run.
using StatementExecutor = std::function<void(const std::string& statement)>;

// What the reader knows of a statement it hands on.
struct TStatementShape {
    // The number of its first line in the file, counting from 1; an empty statement gets the
    // number of the blank line, or of the line after the last one, that handed it on.
    std::size_t FirstLine = 0;
    // True for a paragraph of nothing but comments: no statement for the server.
    bool CommentOnly = false;
    // What is still open where the script ends inside the statement (a string, a comment, a
    // parenthesis or a PSQL body; its offset in the statement), or Nothing.
    TSqlOpening Open;
};

// Called with each collected statement, what the reader knows of it, and the places on its
// lines that the conversion to the connection character set could not carry over (usually
// none).
using NumberedStatementHandler =
    std::function<void(const std::string& statement, const TStatementShape& shape,
                       const std::vector<TUnconvertible>& unconvertible)>;

// Cuts the rest of `file` into statements. A blank line (a line of nothing but characters of
// code 32 or less) ends the statement collected so far where that text is complete
// (TSqlScanner: outside quoted texts and /* */ comments, parentheses balanced, outside a PSQL
// body); otherwise it belongs to the statement. At each blank line that ends a statement (or
// finds none collected) and once at the end, even with an empty statement, `handle` gets the
// lines collected, joined by CR LF. Each line of a statement is one line of the file, so the
// statement's line k is line FirstLine + k. A statement still open at the end is handed on as
// it is. The scanner goes over each line once, so the test at a blank line costs nothing.
// Read errors and the errors of `handle` propagate.
void ReadStatements(TScriptFile& file, const NumberedStatementHandler& handle);

// Reads the script of this run and hands every statement to `execute`, with context.ScriptPath
// set to the script's path and context.StatementLine to the statement's first line, as
// ReadStatements cuts them, also the empty ones. A paragraph of nothing but comments is not
// handed on (logged at level 5). A statement holding a character that the conversion to the
// connection character set could not carry over is not handed on: it is a failed statement
// (ReportFailedStatement with UnconvertibleMessage), and a declaration holding one raises,
// since the variable it would set must not silently stay unset. With OnError=Stop, once a
// statement has failed (context.FailedStatements grew) the rest of the script is read but not
// handed on, and one level-1 entry says from which line how many statements were skipped.
// When the script cannot be opened it sets ErrorFlag, logs the level-1 " error: coudn't open
// file " entry, notifies, and returns normally. Read errors and the errors of `execute`
// propagate.
void RunScriptFile(RunnerContext& context, const StatementExecutor& execute);

}  // namespace runner

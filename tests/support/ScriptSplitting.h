// Reference splittings of a script's lines into statements, for the tests and the fuzz target
// of the script reader: the way every blank line ends a statement, and the reader's rule
// (a blank line ends a statement only where the text so far is complete) computed naively,
// the whole statement scanned again at every blank line.
#pragma once

#include "runner/SqlTokenizer.h"

#include <cstddef>
#include <string>
#include <vector>

namespace testsupport {

struct SplitStatement {
    std::string Text;           // the lines joined by CR LF
    std::size_t FirstLine = 0;  // counting from 1; an empty one gets the blank line's number
    bool operator==(const SplitStatement&) const = default;
};

inline bool IsBlankLine(const std::string& line) {
    for (const char c : line) {
        if (static_cast<unsigned char>(c) > 32) {
            return false;
        }
    }
    return true;
}

// Splits `lines` (as the reader reads them) at blank lines: at every one when
// `onlyWhereComplete` is false, otherwise only where the text collected so far is complete
// (runner::IsCompleteSql over the whole text). One more, possibly empty, statement follows
// the last line.
inline std::vector<SplitStatement> SplitAtBlankLines(const std::vector<std::string>& lines,
                                                     bool onlyWhereComplete) {
    std::vector<SplitStatement> statements;
    SplitStatement current;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t number = i + 1;
        if (IsBlankLine(lines[i]) &&
            (current.Text.empty() || !onlyWhereComplete || runner::IsCompleteSql(current.Text))) {
            if (current.Text.empty()) {
                current.FirstLine = number;
            }
            statements.push_back(current);
            current = SplitStatement{};
            continue;
        }
        if (current.Text.empty()) {
            current.FirstLine = number;
            current.Text = lines[i];
        } else {
            current.Text += "\r\n" + lines[i];
        }
    }
    if (current.Text.empty()) {
        current.FirstLine = lines.size() + 1;
    }
    statements.push_back(current);
    return statements;
}

// The number of leading statements of `everyBlankLine` (SplitAtBlankLines without the rule)
// that are complete texts: up to there the reader's rule must split the same way.
inline std::size_t CompletePrefix(const std::vector<SplitStatement>& everyBlankLine) {
    std::size_t count = 0;
    while (count < everyBlankLine.size() && runner::IsCompleteSql(everyBlankLine[count].Text)) {
        ++count;
    }
    return count;
}

}  // namespace testsupport

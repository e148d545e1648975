// The fixture of the tests that run the real dbupgrade executable as a process: a copy of it
// in a temporary folder, so that its .ini, .log and .sql sit beside it, with helpers to write
// the settings, run it and read back the log and SetupStatus.
#pragma once

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace runnertest {

// How often `part` occurs in `text` (overlapping occurrences counted).
inline std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class RunnerProcessFixture : public ::testing::Test {
protected:
    RunnerProcessFixture() {
        std::filesystem::copy_file(testsupport::ExecutablePath(), exe);
        // An empty script: a database whose script has no statement counts as upgraded.
        testsupport::WriteFile(script, "");
    }

    // Runs the copy with `arguments`; expects an orderly end (empty stdout, and empty stderr
    // on exit code 0) unless told otherwise.
    testsupport::ProcessResult Run(int expectedExit = 0,
                                   const std::vector<std::string>& arguments = {}) {
        std::vector<std::string> argv{exe};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const auto r = testsupport::RunProcess(argv, dir.Path());
        EXPECT_EQ(r.exitCode, expectedExit) << r.err;
        EXPECT_EQ(r.out, "");
        if (expectedExit == 0) {
            EXPECT_EQ(r.err, "");
        }
        return r;
    }

    // Writes settings with the given DebugMode and one [Database] key per entry, in order.
    void WriteSettings(const std::vector<std::string>& databases, int debugMode = 5) const {
        std::string content =
            "[General]\r\nDebugMode=" + std::to_string(debugMode) + "\r\n[Database]\r\n";
        for (std::size_t i = 0; i < databases.size(); ++i) {
            content += "db" + std::to_string(i) + "=" + databases[i] + "\r\n";
        }
        testsupport::WriteFile(ini, content);
    }

    // The log's entries without their time stamps; checks each stamp's form on the way. An
    // entry starts with a stamp and " level " and may span lines.
    std::vector<std::string> LogEntries() const {
        const std::string text = testsupport::ReadFile(log);
        const auto startsEntry = [&text](std::size_t pos) {
            static constexpr std::string_view kShape = "00-00-0000 00:00:00.000 level ";
            if (text.size() < pos + kShape.size()) {
                return false;
            }
            for (std::size_t i = 0; i < kShape.size(); ++i) {
                const char c = text[pos + i];
                if (kShape[i] == '0' ? (c < '0' || c > '9') : c != kShape[i]) {
                    return false;
                }
            }
            return true;
        };
        std::vector<std::string> entries;
        EXPECT_TRUE(startsEntry(0)) << text.substr(0, 200);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\r\n", start);
            while (end != std::string::npos && end + 2 < text.size() && !startsEntry(end + 2)) {
                end = text.find("\r\n", end + 2);
            }
            const std::size_t next = end == std::string::npos ? text.size() : end + 2;
            entries.push_back(text.substr(start + 24, next - start - 24));
            start = next;
        }
        return entries;
    }

    std::string Settings() const { return testsupport::ReadFile(ini); }

    // The line of a level-1 entry that locates the statement on `line` of the script beside
    // the executable, run against `database`.
    std::string Location(std::size_t line, const std::string& database) const {
        return "script: " + script + ":" + std::to_string(line) + ", database: " + database +
               "\r\n";
    }

    // The value of SetupStatus in the settings file; empty when there is none.
    std::string SetupStatus() const {
        const std::string text = Settings();
        const std::size_t at = text.find("SetupStatus=");
        if (at == std::string::npos) {
            return "";
        }
        const std::size_t from = at + 12;
        return text.substr(from, text.find_first_of("\r\n", from) - from);
    }

    // A new database in the folder (a path; "localhost:" is not added).
    std::string NewDatabase(const std::string& name, int dialect = 1,
                            const std::string& ddl = "") const {
        const std::string path = dir.File(name);
        testsupport::CreateDatabase(path, dialect, ddl);
        return path;
    }

    testsupport::TempDir dir;
    const std::string exe = dir.File("dbupgrade");
    const std::string ini = dir.File("dbupgrade.ini");
    const std::string log = dir.File("dbupgrade.log");
    const std::string script = dir.File("dbupgrade.sql");
};

}  // namespace runnertest

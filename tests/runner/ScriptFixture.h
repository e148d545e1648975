// The statements the script reader hands on for a script, read from a real file in a
// temporary folder the way a run reads dbupgrade.sql beside the executable.
#pragma once

#include "runner/RunnerContext.h"
#include "runner/ScriptReader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace runner {

inline std::vector<std::string> CollectStatements(const testsupport::TempDir& dir,
                                                  const std::string& content) {
    RunnerContext context;
    context.ExecutablePath = dir.File("dbupgrade");
    testsupport::WriteFile(dir.File("dbupgrade.sql"), content);
    std::vector<std::string> statements;
    RunScriptFile(context, [&](const std::string& statement) { statements.push_back(statement); });
    EXPECT_FALSE(context.ErrorFlag);
    return statements;
}

}  // namespace runner

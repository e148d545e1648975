// The platform tests' main(): GoogleTest, or the child's part when started with "--child"
// (TestHost.h), so that one program serves both sides of the tests between processes.
#include "tests/platform/TestHost.h"

#include "platform/Process.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
    if (arguments.size() > 1 && arguments[1] == "--child") {
        return platformtest::ChildMain(arguments);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// One passing test, then the ending its argument names: "exit-3" returns 3 after GoogleTest's
// summary, "crash" traps once main has returned 0 (as a static destructor or a DLL detach can).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

TEST(Harness, Passes) {}

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    const std::string_view ending = argc > 1 ? argv[1] : "";
    if (ending == "crash") std::atexit([] { __builtin_trap(); });
    const int result = RUN_ALL_TESTS();
    return ending == "exit-3" ? 3 : result;
}

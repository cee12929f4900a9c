// One passing test, then the ending its argument names: "exit-3" returns 3
// after GoogleTest's summary, "crash" traps in a static destructor once main
// has returned 0 (as a DLL detach or a destructor can), anything else ends
// as GoogleTest says.
#include <gtest/gtest.h>

#include <string_view>

namespace
{

bool crash_at_exit = false;

struct CrashAtExit {
    ~CrashAtExit()
    {
        if (crash_at_exit) __builtin_trap();
    }
} crash_at_exit_guard;

TEST(Harness, Passes) {}

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    const std::string_view ending = argc > 1 ? argv[1] : "";
    crash_at_exit = ending == "crash";
    const int result = RUN_ALL_TESTS();
    return ending == "exit-3" ? 3 : result;
}

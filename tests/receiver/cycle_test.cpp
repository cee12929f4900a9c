// The receive cycle through its seam (fake_calls.h), for what Wine cannot show: the time limit,
// the line the port is asked for, what is released, and the files' paths with the longest work
// folder, under the sanitizers (the rest: e2e_test.py).
#include <gtest/gtest.h>

#include "fake_calls.h"

namespace ostrel::testing
{

// The 350th byte arrives in the pass in which the clock shows two seconds more than at the first
// byte (inside the limit), or three (past it). A port whose purge failed (SetPort's 3) is the
// receiver's to close. Exit codes as the host reads them: 0 acknowledged, 9 timed out, 3 no link.
TEST(ReceiveCycle, KeepsTheTimeLimitAndReleasesThePortThenTheLibraryOnEveryPath)
{
    const struct {
        std::time_t lastByteClock;
        int setPortResult, exitCode;
        std::vector<std::string> calls; // the port closed, then the library freed, then publication
    } rows[] = {
        {2, 0, 0, {"CloseHandle", "FreeLibrary", "MoveFileA"}},
        {3, 0, 9, {"CloseHandle", "FreeLibrary"}},
        {2, 3, 3, {"CloseHandle", "FreeLibrary"}},
    };
    for (const auto &row : rows) {
        FakeCalls fake;
        fake.lastByteClock = row.lastByteClock;
        fake.setPortResult = row.setPortResult;
        EXPECT_EQ(row.exitCode, ReceiveCycle(fake)) << row.lastByteClock << row.setPortResult;
        EXPECT_EQ(row.calls, fake.calls);
        EXPECT_EQ((std::vector<int>{19200, 8, 0, 0}), fake.line); // 8N1: parity 0 none, stop 0 one
    }
}

} // namespace ostrel::testing

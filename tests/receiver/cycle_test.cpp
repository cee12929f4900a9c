// The receive cycle through its seam (fake_calls.h), under the sanitizers, for what Wine cannot
// show: the time limit, the port's line and time-outs, what is released, the waits with drivers
// Wine does not have, the files' paths with the longest work folder (the rest: e2e_test.py).
#include <gtest/gtest.h>

#include "fake_calls.h"

namespace ostrel::testing
{

// The 350th byte arrives in the pass in which the clock shows two seconds more than at the first
// byte (inside the limit), or three (past it). A port whose purge failed (SetPort's 3) is the
// receiver's to close, and an opened port gets the receiver's own time-outs. Exit codes as the
// host reads them: 0 acknowledged, 9 timed out, 3 no link.
TEST(ReceiveCycle, KeepsTheTimeLimitAndReleasesThePortThenTheLibraryOnEveryPath)
{
    const struct {
        std::time_t lastByteClock;
        int setPortResult, exitCode;
        std::vector<std::string> calls; // the port closed, then the library freed, then publication
    } rows[] = {
        {2, 0, 0, {"SetCommTimeouts", "CloseHandle", "FreeLibrary", "MoveFileA"}},
        {3, 0, 9, {"SetCommTimeouts", "CloseHandle", "FreeLibrary"}},
        {2, 3, 3, {"CloseHandle", "FreeLibrary"}},
    };
    for (const auto &row : rows) {
        FakeCalls fake;
        fake.lastByteClock = row.lastByteClock, fake.setPortResult = row.setPortResult;
        EXPECT_EQ(row.exitCode, ReceiveCycle(fake)) << row.lastByteClock << row.setPortResult;
        EXPECT_EQ(row.calls, fake.calls);
        EXPECT_EQ((std::vector<int>{19200, 8, 0, 0}), fake.line); // 8N1: parity 0 none, stop 0 one
    }
}

// No wait spins, and a stop marker the host makes a second into a wait ends it within one look:
// a read waits in the driver for a byte (the time-outs the receiver gave the port), a read that
// returns at once or fails is followed by a pause, and the looks for the acknowledgement pause
// too. The tick count wraps during the first look.
TEST(ReceiveCycle, WaitsLookForTheStopMarkerOnceALookWhateverTheDriverDoes)
{
    const struct {
        const char *wait;
        DWORD firstByteMs;
        decltype(FakeCalls::emptyRead) emptyRead;
        int exitCode;
    } rows[] = {
        {"first byte, the driver waits", MAXDWORD, FakeCalls::kWaits, 8},
        {"first byte, the driver returns at once", MAXDWORD, FakeCalls::kReturnsAtOnce, 8},
        {"first byte, the read fails", MAXDWORD, FakeCalls::kFails, 8},
        {"first byte after 0.4 s, then the acknowledgement", 400, FakeCalls::kWaits, 0},
    };
    for (const auto &row : rows) {
        FakeCalls fake;
        fake.firstByteMs = row.firstByteMs, fake.emptyRead = row.emptyRead, fake.stopMs = 1010;
        EXPECT_EQ(row.exitCode, ReceiveCycle(fake)) << row.wait;
        const COMMTIMEOUTS &set = fake.timeouts; // a byte there at once, else wait up to a look
        const DWORD look = set.ReadTotalTimeoutConstant; // a stop waits half of it on average
        EXPECT_TRUE(set.ReadIntervalTimeout == MAXDWORD &&
                    set.ReadTotalTimeoutMultiplier == MAXDWORD && look > 0 && look < 100)
            << row.wait;
        const uint64_t made = (row.exitCode == 0 ? fake.readyAt : 0) + fake.stopMs;
        EXPECT_TRUE(fake.elapsed >= made && fake.elapsed <= made + look)
            << row.wait << fake.elapsed;
        EXPECT_LE(fake.stopLooks, static_cast<int>(made / look) + 2) << row.wait; // stale one too
    }
}

} // namespace ostrel::testing

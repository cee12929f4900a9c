// The close sequence and the program's start against the in-process object
// model: every failure branch, the references held, and the hidden window.
// What the calls carry is pinned end to end against the stand-in.
#include <gtest/gtest.h>

#include <algorithm>

#include "closer.h"
#include "fake_closer.h"

namespace
{

using closertest::FakeCloserCalls;
using closertest::Fault;
using closertest::ModelState;
using Events = std::vector<std::string>;

const std::string kAlertsOff = "Invoke Application.DisplayAlerts off";
const std::string kAlertsOn = "Invoke Application.DisplayAlerts on";

// Runs the close and checks what must hold after every run: no reference
// held, every name freed.
bool Close(ModelState &state, const char *name)
{
    FakeCloserCalls calls(state);
    bool closed = wendra::CloseWorkbookByName(calls, name);
    EXPECT_EQ(0, calls.OutstandingReferences()) << "references left";
    EXPECT_EQ(state.namesHandedOut, state.namesFreed) << "names left";
    return closed;
}

bool IsInvoke(const std::string &event) { return event.rfind("Invoke ", 0) == 0; }

bool IsFallible(const std::string &event)
{
    return event.rfind("release", 0) != 0 && event.rfind("free", 0) != 0;
}

Events Invokes(Events::const_iterator from, Events::const_iterator to)
{
    Events invokes;
    std::copy_if(from, to, std::back_inserter(invokes), IsInvoke);
    return invokes;
}

// What is released at the end comes in reverse order of taking: name, book,
// collection, application.
void ExpectReleasedInReverse(Events::const_iterator from, Events::const_iterator to)
{
    const Events order = {"free name", "release Book", "release Workbooks", "release Application"};
    size_t next = 0;
    for (; from != to; ++from) {
        if (IsInvoke(*from)) continue;
        while (next < order.size() && from->rfind(order[next], 0) != 0)
            ++next;
        EXPECT_LT(next, order.size()) << *from << " out of order";
        ++next;
    }
}

// The clean run closes the second book between alerts off and on; then every
// call that can fail is made to fail once, in each way: the close ends at
// once with false and never leaves the alerts off (unless switching them on
// is the call that failed).
TEST(CloseSequence, EveryCallFailingInTurnEndsCleanly)
{
    ModelState clean;
    clean.books = {L"Other.xlsx", L"Book.xlsx"};
    ASSERT_TRUE(Close(clean, "BOOK.xlsx"));
    EXPECT_EQ(std::vector<int>{1}, clean.open);
    EXPECT_TRUE(clean.alerts);
    const Events invokes = Invokes(clean.events.begin(), clean.events.end());
    ASSERT_GE(invokes.size(), 3u);
    EXPECT_EQ((Events{kAlertsOff, "Invoke Book2.Close", kAlertsOn}),
              Events(invokes.end() - 3, invokes.end()));
    ExpectReleasedInReverse(std::find(clean.events.begin(), clean.events.end(), kAlertsOn),
                            clean.events.end());
    ASSERT_GT(clean.fallibleCalls, 15);

    for (Fault fault : {Fault::Hresult, Fault::Exception}) {
        for (int n = 1; n <= clean.fallibleCalls; ++n) {
            SCOPED_TRACE("failing call " + std::to_string(n) +
                         (fault == Fault::Hresult ? " (HRESULT)" : " (exception)"));
            ModelState state;
            state.books = clean.books;
            state.failAt = n;
            state.fault = fault;
            EXPECT_FALSE(Close(state, "BOOK.xlsx"));

            auto failed = state.events.cbegin();
            for (int seen = 0; !(IsFallible(*failed) && ++seen == n);)
                ++failed;
            const bool alertsWereOff =
                std::find(state.events.cbegin(), failed, kAlertsOff) != failed;
            const bool failedAlertsOn = *failed == kAlertsOn;
            Events expectedInvokes;
            if (alertsWereOff && !failedAlertsOn) expectedInvokes.push_back(kAlertsOn);
            EXPECT_EQ(expectedInvokes, Invokes(failed + 1, state.events.cend()));
            EXPECT_EQ(!failedAlertsOn, state.alerts);
            ExpectReleasedInReverse(failed + 1, state.events.cend());
        }
    }
}

TEST(CloseSequence, NullCollectionIsAFailure)
{
    ModelState state;
    state.books = {L"a"};
    state.nullWorkbooks = true;
    EXPECT_FALSE(Close(state, "a"));
    EXPECT_EQ(Events{"Invoke Application.Workbooks"},
              Invokes(state.events.begin(), state.events.end()));
}

int Start(ModelState &state, const char *commandLine)
{
    FakeCloserCalls calls(state);
    int exitCode = wendra::StartCloser(calls, GetModuleHandleA(nullptr), commandLine);
    EXPECT_EQ(0, calls.OutstandingReferences());
    return exitCode;
}

TEST(Program, RunsTheCloseWhileItsHiddenWindowIsCreated)
{
    ModelState state;
    state.books = {L"Book.xlsx"};
    EXPECT_EQ(0, Start(state, "\"C:\\bin\\Wendra.exe\" BOOK.xlsx"));
    ASSERT_GE(state.events.size(), 5u);
    EXPECT_EQ((Events{"CreateWindowExA", "CoInitialize"}),
              Events(state.events.begin(), state.events.begin() + 2));
    EXPECT_EQ((Events{"PostQuitMessage 0", "ShowWindow hide", "GetMessageA"}),
              Events(state.events.end() - 3, state.events.end()));
    EXPECT_TRUE(state.open.empty());
}

TEST(Program, WithoutItsWindowTouchesNothing)
{
    ModelState state;
    state.books = {L"Book.xlsx"};
    state.createFails = true;
    EXPECT_EQ(0, Start(state, "W Book.xlsx"));
    EXPECT_EQ(Events{"CreateWindowExA"}, state.events);
}

} // namespace

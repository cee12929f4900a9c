// The program's start: the argument, the hidden window and the message loop.
#include <gtest/gtest.h>

#include <algorithm>

#include "closer.h"
#include "fake_closer.h"

namespace
{

using closertest::FakeBook;
using closertest::FakeCloserCalls;
using closertest::ModelState;
using Events = std::vector<std::string>;

int Start(ModelState &state, const char *commandLine)
{
    FakeCloserCalls calls(state);
    int exitCode = wendra::StartCloser(calls, GetModuleHandleA(nullptr), commandLine);
    EXPECT_EQ(0, calls.OutstandingReferences());
    return exitCode;
}

bool Has(const Events &events, const std::string &event)
{
    return std::find(events.begin(), events.end(), event) != events.end();
}

TEST(Program, WithoutArgumentMakesNoCallAtAll)
{
    for (const char *line : {"\"C:\\bin\\Wendra.exe\"", "\"C:\\bin\\Wendra.exe\"   ",
                             "Wendra.exe\t \t", "Wendra.exe", ""}) {
        ModelState state;
        state.books = {FakeBook{L"Book.xlsx"}};
        EXPECT_EQ(0, Start(state, line)) << line;
        EXPECT_EQ(Events{}, state.events) << line;
    }
}

TEST(Program, RunsTheCloseWhileItsWindowIsCreated)
{
    ModelState state;
    state.books = {FakeBook{L"Book.xlsx"}};
    EXPECT_EQ(0, Start(state, "\"C:\\bin\\Wendra.exe\" BOOK.xlsx"));
    ASSERT_GE(state.events.size(), 8u);
    EXPECT_EQ((Events{"RegisterClassExA tervon file close", "CreateWindowExA", "CoInitialize"}),
              Events(state.events.begin(), state.events.begin() + 3));
    EXPECT_EQ((Events{"PostQuitMessage 0", "ShowWindow hide", "UpdateWindow", "GetMessageA"}),
              Events(state.events.end() - 4, state.events.end()));
    EXPECT_TRUE(state.open.empty());
}

TEST(Program, ExitsWithZeroWhateverTheCloseDid)
{
    for (int failAt : {0, 1, 2, 3, 6}) {
        ModelState state;
        state.books = {FakeBook{L"Book.xlsx"}};
        state.failAt = failAt;
        EXPECT_EQ(0, Start(state, "W Book.xlsx")) << failAt;
        EXPECT_TRUE(Has(state.events, "PostQuitMessage 0")) << failAt;
    }
}

TEST(Program, EndsWithoutTouchingTheApplicationWhenNoWindowComes)
{
    ModelState unregistered;
    unregistered.registerFails = true;
    EXPECT_EQ(0, Start(unregistered, "W Book.xlsx"));
    EXPECT_EQ(Events{"RegisterClassExA tervon file close"}, unregistered.events);

    ModelState noWindow;
    noWindow.createFails = true;
    EXPECT_EQ(0, Start(noWindow, "W Book.xlsx"));
    EXPECT_EQ((Events{"RegisterClassExA tervon file close", "CreateWindowExA"}), noWindow.events);
}

// The runtime's own split would drop a leading byte of 0x80 and above.
TEST(Program, KeepsAHighByteAtTheStartOfTheArgument)
{
    ModelState state;
    state.books = {FakeBook{L"rger.xlsx"}, FakeBook{L"\u00c4rger.xlsx"}};
    EXPECT_EQ(0, Start(state, "\"C:\\bin\\Wendra.exe\" \xC4RGER.xlsx"));
    EXPECT_EQ(std::vector<int>{1}, state.open);
}

} // namespace

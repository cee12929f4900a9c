// The close sequence against the in-process object model: the calls it
// makes, every failure branch, and the references it holds.
#include <gtest/gtest.h>

#include <algorithm>

#include "closer.h"
#include "fake_closer.h"

namespace
{

using closertest::FakeBook;
using closertest::FakeCloserCalls;
using closertest::Fault;
using closertest::ModelState;
using Events = std::vector<std::string>;

const std::string kAlertsOff = "Invoke Application.DisplayAlerts put (BOOL 0 named)";
const std::string kAlertsOn = "Invoke Application.DisplayAlerts put (BOOL -1 named)";

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

Events Invokes(const Events &events)
{
    Events invokes;
    std::copy_if(events.begin(), events.end(), std::back_inserter(invokes),
                 [](const std::string &e) { return e.rfind("Invoke ", 0) == 0; });
    return invokes;
}

bool IsFallible(const std::string &event)
{
    return event.rfind("release", 0) != 0 && event.rfind("free", 0) != 0;
}

// The number, among the calls that can fail, of the first call `event`.
int CallNumber(const Events &events, const std::string &event)
{
    auto found = std::find(events.begin(), events.end(), event);
    EXPECT_NE(events.end(), found) << event;
    return 1 + static_cast<int>(std::count_if(events.begin(), found, IsFallible));
}

TEST(CloseSequence, ClosesTheBookWhoseNameDiffersOnlyInCase)
{
    ModelState state;
    state.books = {FakeBook{L"Book1.xlsx"}, FakeBook{L"Report.XLSX"}};
    EXPECT_TRUE(Close(state, "report.xlsx"));
    const Events expected = {
        "CLSIDFromProgID",
        "GetActiveObject",
        "QueryInterface Application",
        "release Application",
        "Invoke Application.Workbooks get ()",
        "Invoke Workbooks.Count get ()",
        "Invoke Workbooks.Item get (I4 1)",
        "VariantClear",
        "Invoke Book1.Name get ()",
        "WideCharToMultiByte size",
        "WideCharToMultiByte",
        "Invoke Workbooks.Count get ()",
        "Invoke Workbooks.Item get (I4 2)",
        "release Book1",
        "VariantClear",
        "Invoke Book2.Name get ()",
        "free name",
        "WideCharToMultiByte size",
        "WideCharToMultiByte",
        kAlertsOff,
        "Invoke Book2.Close method () alerts=off",
        kAlertsOn,
        "free name",
        "release Book2",
        "release Workbooks",
        "release Application",
    };
    EXPECT_EQ(expected, state.events);
    EXPECT_EQ(std::vector<int>{1}, state.open);
    EXPECT_TRUE(state.alerts);
}

TEST(CloseSequence, ClosesOnlyTheLowerOfTwoBooksDifferingInCase)
{
    ModelState state;
    state.books = {FakeBook{L"BOOK.xlsx"}, FakeBook{L"book.xlsx"}};
    EXPECT_TRUE(Close(state, "Book.xlsx"));
    EXPECT_EQ(std::vector<int>{2}, state.open);
}

TEST(CloseSequence, WithoutBooksCallsOnlyWorkbooksAndOneCount)
{
    ModelState state;
    EXPECT_TRUE(Close(state, "Book.xlsx"));
    EXPECT_EQ((Events{"Invoke Application.Workbooks get ()", "Invoke Workbooks.Count get ()"}),
              Invokes(state.events));
}

TEST(CloseSequence, NoMatchLeavesTheAlertsAlone)
{
    ModelState state;
    state.books = {FakeBook{L"Book.xlsx"}};
    for (const char *name : {"\"Book.xlsx\"", "Book.xlsx ", "Book"}) {
        EXPECT_TRUE(Close(state, name)) << name;
        for (const std::string &e : state.events)
            EXPECT_EQ(std::string::npos, e.find("DisplayAlerts")) << name;
    }
    EXPECT_EQ(std::vector<int>{1}, state.open);
}

TEST(CloseSequence, NotRunningTouchesNothing)
{
    ModelState state;
    state.books = {FakeBook{L"Book.xlsx"}};
    state.running = false;
    EXPECT_FALSE(Close(state, "Book.xlsx"));
    EXPECT_EQ((Events{"CLSIDFromProgID", "GetActiveObject"}), state.events);
}

TEST(CloseSequence, ReadsTheCountAgainInEveryPass)
{
    ModelState state;
    state.books = {FakeBook{L"a"}, FakeBook{L"b"}, FakeBook{L"c"}, FakeBook{L"d"}};
    state.shrinkAfterName = 1;
    state.shrinkTo = 2;
    EXPECT_TRUE(Close(state, "zzz"));
    EXPECT_EQ((Events{"Invoke Application.Workbooks get ()", "Invoke Workbooks.Count get ()",
                      "Invoke Workbooks.Item get (I4 1)", "Invoke Book1.Name get ()",
                      "Invoke Workbooks.Count get ()", "Invoke Workbooks.Item get (I4 2)",
                      "Invoke Book2.Name get ()", "Invoke Workbooks.Count get ()"}),
              Invokes(state.events));
}

TEST(CloseSequence, NullNameMatchesNothing)
{
    ModelState state;
    state.books = {FakeBook{L"", true}, FakeBook{L"x"}};
    EXPECT_TRUE(Close(state, ""));
    EXPECT_TRUE(Close(state, "x"));
    EXPECT_EQ(std::vector<int>{1}, state.open);
}

TEST(CloseSequence, CountOfAnotherTypeIsConverted)
{
    ModelState state;
    state.books = {FakeBook{L"a"}, FakeBook{L"b"}};
    state.countAnswer.vt = VT_I2;
    state.countAnswer.iVal = 2;
    EXPECT_TRUE(Close(state, "B"));
    EXPECT_EQ(std::vector<int>{1}, state.open);

    ModelState words;
    words.books = {FakeBook{L"a"}};
    words.countAnswer.vt = VT_BSTR;
    words.countAnswer.bstrVal = SysAllocString(L"one");
    EXPECT_FALSE(Close(words, "a"));
    EXPECT_EQ(2u, Invokes(words.events).size());
    VariantClear(&words.countAnswer);
}

TEST(CloseSequence, NullCollectionIsAFailure)
{
    ModelState state;
    state.books = {FakeBook{L"a"}};
    state.nullWorkbooks = true;
    EXPECT_FALSE(Close(state, "a"));
    EXPECT_EQ(Events{"Invoke Application.Workbooks get ()"}, Invokes(state.events));
}

// Names outside ASCII are compared in the ANSI code page (1252 here): what
// it lacks becomes its default character, and only A to Z are folded.
TEST(CloseSequence, ComparesNamesInTheAnsiCodePage)
{
    const struct {
        const wchar_t *book;
        const char *argument;
        bool closes;
    } cases[] = {
        {L"\u00c4rger.xlsx", "\xC4rger.xlsx", true},
        {L"\u00c4rger.xlsx", "\xE4rger.xlsx", false},
        {L"\u5831\u544a.xlsx", "??.XLSX", true},
        {L"\u5831\u544a.xlsx", "\x95\xf1\x8d\x90.xlsx", false},
    };
    for (const auto &c : cases) {
        ModelState state;
        state.books = {FakeBook{c.book}};
        EXPECT_TRUE(Close(state, c.argument));
        EXPECT_EQ(c.closes, state.open.empty()) << c.argument;
    }
}

TEST(CloseSequence, FailedCloseSwitchesTheAlertsBackOn)
{
    const std::string close = "Invoke Book1.Close method () alerts=off";
    ModelState clean;
    clean.books = {FakeBook{L"Book.xlsx"}};
    ASSERT_TRUE(Close(clean, "book.xlsx"));

    ModelState state;
    state.books = clean.books;
    state.failAt = CallNumber(clean.events, close);
    EXPECT_FALSE(Close(state, "book.xlsx"));
    ASSERT_GE(state.events.size(), 6u);
    EXPECT_EQ((Events{close, kAlertsOn, "free name", "release Book1", "release Workbooks",
                      "release Application"}),
              Events(state.events.end() - 6, state.events.end()));
    EXPECT_TRUE(state.alerts);
    EXPECT_EQ(std::vector<int>{1}, state.open);
}

// Every call that can fail is made to fail once, in each way: the close
// ends at once with false, releases everything in reverse order, and never
// leaves the alerts off (unless switching them on is the call that failed).
TEST(CloseSequence, EveryFailureEndsCleanly)
{
    ModelState clean;
    clean.books = {FakeBook{L"Other.xlsx"}, FakeBook{L"Book.xlsx"}};
    ASSERT_TRUE(Close(clean, "BOOK.xlsx"));
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

            auto failed = state.events.begin();
            for (int seen = 0; !(IsFallible(*failed) && ++seen == n);)
                ++failed;
            const bool alertsWereOff =
                std::find(state.events.begin(), failed, kAlertsOff) != failed;
            const bool failedAlertsOn = *failed == kAlertsOn;
            Events after(failed + 1, state.events.end());
            Events expectedInvokes;
            if (alertsWereOff && !failedAlertsOn) expectedInvokes.push_back(kAlertsOn);
            EXPECT_EQ(expectedInvokes, Invokes(after));
            EXPECT_EQ(!failedAlertsOn, state.alerts);

            // What is released after the failure comes in reverse order of
            // taking: name, book, collection, application.
            const Events order = {"free name", "release Book", "release Workbooks",
                                  "release Application"};
            size_t next = 0;
            for (const std::string &e : after) {
                if (e.rfind("Invoke", 0) == 0) continue;
                while (next < order.size() && e.rfind(order[next], 0) != 0)
                    ++next;
                EXPECT_LT(next, order.size()) << e << " out of order";
                ++next;
            }
        }
    }
}

} // namespace

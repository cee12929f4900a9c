// Wendra.exe started with exact command-line texts against the spreadsheet
// stand-in (tools/spreadsheet), which logs every call it receives; also the
// stand-in's own limits. The win32 build runs its 32-bit Wendra.exe against
// the 64-bit stand-in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "spreadsheet_standin.h"

namespace
{

using Lines = std::vector<std::string>;
using winetest::LaunchExact;
using winetest::SpreadsheetStandIn;

std::string WendraPath() { return winetest::ProgramDir() + "\\Wendra.exe"; }
std::string QuotedWendra() { return "\"" + WendraPath() + "\""; }

// The stand-in's log lines.
const std::string kWorkbooks = "Application.Workbooks get args=() alerts=on";
const std::string kCount = "Workbooks.Count get args=() alerts=on";
const std::string kAlertsOff = "Application.DisplayAlerts put args=(BOOL 0) named=(-3) alerts=on";
const std::string kAlertsOn = "Application.DisplayAlerts put args=(BOOL -1) named=(-3) alerts=off";
const std::string kFailed = " -> failed";

std::string Item(int i)
{
    return "Workbooks.Item get args=(I4 " + std::to_string(i) + ") alerts=on";
}
std::string Name(int book)
{
    return "Workbook.Name get args=() alerts=on book=" + std::to_string(book);
}
std::string Close(int book)
{
    return "Workbook.Close method args=() alerts=off book=" + std::to_string(book);
}
std::string End(const char *open, bool alerts = true)
{
    return std::string("end alerts=") + (alerts ? "on" : "off") + " open=(" + open + ")";
}

// Workbooks, then Count, Item and Name for books 1 to n.
Lines Walk(int n)
{
    Lines lines{kWorkbooks};
    for (int i = 1; i <= n; ++i)
        lines.insert(lines.end(), {kCount, Item(i), Name(i)});
    return lines;
}

Lines operator+(Lines a, const Lines &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Case {
    const char *what;
    std::vector<std::wstring> standIn;
    std::string commandLine; // the whole text Wendra.exe is started with
    Lines calls;             // the stand-in's log
};

void RunCases(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SpreadsheetStandIn standIn(c.standIn);
        EXPECT_EQ(0u, LaunchExact(WendraPath(), c.commandLine));
        EXPECT_EQ(c.calls, standIn.Stop());
    }
}

TEST(EndToEnd, ClosesTheNamedBookWithAlertsOffAroundClose)
{
    const std::vector<std::wstring> two = {L"--book", L"Book1.xlsx", L"--book", L"Report.XLSX"};
    RunCases({
        {"name differing in case", two, QuotedWendra() + " report.xlsx",
         Walk(2) + Lines{kAlertsOff, Close(2), kAlertsOn, End("1")}},
        {"quoted argument", two, QuotedWendra() + " \"Report.XLSX\"",
         Walk(2) + Lines{kCount, End("1 2")}},
        {"trailing blank", two, QuotedWendra() + " Report.XLSX ",
         Walk(2) + Lines{kCount, End("1 2")}},
        {"two books differing in case",
         {L"--book", L"BOOK.xlsx", L"--book", L"book.xlsx"},
         QuotedWendra() + " Book.xlsx",
         Walk(1) + Lines{kAlertsOff, Close(1), kAlertsOn, End("2")}},
        {"no workbook", {}, QuotedWendra() + " Book.xlsx", Lines{kWorkbooks, kCount, End("")}},
        {"a null name matches nothing",
         {L"--null-book", L"--book", L"x"},
         QuotedWendra() + " X",
         Walk(2) + Lines{kAlertsOff, Close(2), kAlertsOn, End("1")}},
        {"collection shrinking during the walk",
         {L"--book", L"a", L"--book", L"b", L"--book", L"c", L"--book", L"d", L"--shrink-after",
          L"Workbook.Name#1", L"--shrink-to", L"2"},
         QuotedWendra() + " zzz",
         Walk(2) + Lines{kCount, End("1 2")}},
    });
}

TEST(EndToEnd, EmptyArgumentMakesNoCall)
{
    const std::vector<std::wstring> one = {L"--book", L"Book.xlsx"};
    RunCases({
        {"program name only", one, QuotedWendra(), Lines{End("1")}},
        {"program name and blanks", one, QuotedWendra() + "   \t ", Lines{End("1")}},
        {"unquoted program name", one, "Wendra.exe", Lines{End("1")}},
    });
}

TEST(EndToEnd, FailuresNeverLeaveTheAlertsOff)
{
    const std::vector<std::wstring> one = {L"--book", L"Book.xlsx"};
    auto with = [&](std::vector<std::wstring> more) {
        more.insert(more.begin(), one.begin(), one.end());
        return more;
    };
    RunCases({
        {"Close fails", with({L"--fail", L"Workbook.Close"}), QuotedWendra() + " book.xlsx",
         Walk(1) + Lines{kAlertsOff, Close(1) + kFailed, kAlertsOn, End("1")}},
        {"switching the alerts on fails", with({L"--fail", L"Application.DisplayAlerts#2"}),
         QuotedWendra() + " book.xlsx",
         Walk(1) + Lines{kAlertsOff, Close(1), kAlertsOn + kFailed, End("", false)}},
        {"Count fails with a plain HRESULT", with({L"--fail", L"Workbooks.Count#2=0x80004005"}),
         QuotedWendra() + " other.xlsx", Walk(1) + Lines{kCount + kFailed, End("1")}},
    });
}

TEST(EndToEnd, NoSpreadsheetRunningEndsAtOnce)
{
    EXPECT_EQ(0u, LaunchExact(WendraPath(), QuotedWendra() + " Book.xlsx"));
}

// Names outside ASCII in code page 1252: what it lacks (CJK characters have
// no look-alike there) becomes '?', and a leading byte of 0x80 and above
// stays part of the argument.
TEST(EndToEnd, ComparesNamesInTheAnsiCodePage)
{
    ASSERT_EQ(1252u, GetACP()) << "LC_ALL of this test entry";
    const std::vector<std::wstring> books = {L"--book", L"\u5831\u544a.xlsx", L"--book",
                                             L"\u00c4rger.xlsx"};
    RunCases({
        {"characters the code page lacks", books, QuotedWendra() + " ??.XLSX",
         Walk(1) + Lines{kAlertsOff, Close(1), kAlertsOn, End("2")}},
        {"high byte at the start", books, QuotedWendra() + " \xC4RGER.xlsx",
         Walk(2) + Lines{kAlertsOff, Close(2), kAlertsOn, End("1")}},
        {"accented letters are not folded", books, QuotedWendra() + " \xE4rger.xlsx",
         Walk(2) + Lines{kCount, End("1 2")}},
    });
}

// Under LC_ALL=ja_JP.UTF-8 Wine's ANSI code page is 932 (its own ctest
// entry). The bytes here come from Python's cp932 codec.
const std::string kReportUpper = "\x95\xf1\x8d\x90\x8f\x91.XLSX";     // 報告書.XLSX
const std::string kDoubleByteToken = "\x83\x5c\"\x95\x5c \x8e\xa6\""; // ソ"表 示"

TEST(EndToEnd932, JapaneseNamesMatchByteForByte)
{
    ASSERT_EQ(932u, GetACP()) << "LC_ALL of this test entry";
    const std::vector<std::wstring> books = {L"--book", L"\u5831\u544a.xlsx",
                                             L"--book", L"\u5831\u544a\u66f8.xlsx",
                                             L"--book", L"\u5831\u544a\u66f8.xlsx"};
    const Lines closesTheSecond = Walk(2) + Lines{kAlertsOff, Close(2), kAlertsOn, End("1 3")};
    RunCases({
        {"name in upper-case ASCII letters", books, QuotedWendra() + " " + kReportUpper,
         closesTheSecond},
        {"double-byte first token with quotes", books, kDoubleByteToken + " " + kReportUpper,
         closesTheSecond},
        {"a name none of them has", books, QuotedWendra() + " " + kReportUpper.substr(0, 10),
         Walk(3) + Lines{kCount, End("1 2 3")}},
    });
}

// The stand-in's own limits: the demo ends it after a named call, and it
// ends by itself after its lifetime.
TEST(StandIn, EndsAfterTheNamedCall)
{
    SpreadsheetStandIn standIn(
        {L"--book", L"Book.xlsx", L"--end-after", L"Application.DisplayAlerts#2"});
    EXPECT_EQ(0u, LaunchExact(WendraPath(), QuotedWendra() + " Other.xlsx"));
    EXPECT_FALSE(standIn.WaitForEnd(200));
    EXPECT_EQ(0u, LaunchExact(WendraPath(), QuotedWendra() + " Book.xlsx"));
    EXPECT_TRUE(standIn.WaitForEnd(20000));
    const Lines noMatch = Walk(1) + Lines{kCount};
    EXPECT_EQ((noMatch + Walk(1) + Lines{kAlertsOff, Close(1), kAlertsOn, End("")}),
              standIn.Stop());
}

TEST(StandIn, EndsByItself)
{
    SpreadsheetStandIn standIn({L"--book", L"a.xlsx", L"--lifetime", L"1"});
    EXPECT_TRUE(standIn.WaitForEnd(20000));
    EXPECT_EQ(Lines{End("1")}, standIn.Stop());
}

} // namespace

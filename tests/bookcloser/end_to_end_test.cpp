// Wendra.exe (32-bit in the win32 build) started with exact command lines against the 64-bit
// spreadsheet stand-in (tools/spreadsheet), whose log shows every call it received.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace
{

using Lines = std::vector<std::string>;
using Options = std::vector<std::wstring>;

std::string ProgramDir() // the test's own folder, where the deliverables are
{
    char path[MAX_PATH];
    const std::string self(path, GetModuleFileNameA(nullptr, path, sizeof path));
    return self.substr(0, self.find_last_of('\\'));
}

std::string Wendra() { return "\"" + ProgramDir() + "\\Wendra.exe\""; }

// Wine 8 now and then loses a new process before it runs (ERROR_INTERNAL_ERROR; measured 5 in
// about 27,000 starts, in bursts): such a start is made again, at most twice, and said so.
template <typename Create> BOOL StartProcess(Create create)
{
    for (int attempt = 1;; ++attempt) {
        if (create()) return TRUE;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 3) return FALSE;
        std::fprintf(stderr, "note: Wine lost a new process before it ran; starting it again\n");
    }
}

// Runs Wendra.exe with exactly `commandLine` (ANSI code page bytes; Wine passes the code page on
// with the Unix locale) while the stand-in (a Unix path on Z:) runs with `options`; checks its log.
void ExpectCalls(const Lines &calls, const Options &options, std::string commandLine)
{
    const std::wstring standIn = L"Z:" + std::wstring(_wgetenv(L"VL_TOOLS_BIN_DIR"));
    std::wstring line = L"spreadsheet --log vl-calls.log --ready vl-ready";
    for (const std::wstring &option : options)
        line += L" \"" + option + L"\"";
    DeleteFileA("vl-calls.log");
    DeleteFileA("vl-ready");
    STARTUPINFOW startupW{};
    STARTUPINFOA startupA{};
    startupW.cb = startupA.cb = sizeof startupA; // the same record, with other string types
    PROCESS_INFORMATION spreadsheet{}, wendra{};
    ASSERT_TRUE(StartProcess([&] {
        return CreateProcessW((standIn + L"/spreadsheet.exe").c_str(), &line[0], nullptr, nullptr,
                              FALSE, 0, nullptr, nullptr, &startupW, &spreadsheet);
    }));
    for (int i = 0; i < 1500 && GetFileAttributesA("vl-ready") == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(20);
    EXPECT_TRUE(StartProcess([&] {
        return CreateProcessA((ProgramDir() + "\\Wendra.exe").c_str(), &commandLine[0], nullptr,
                              nullptr, FALSE, 0, nullptr, nullptr, &startupA, &wendra);
    }));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(wendra.hProcess, 30000)) << "Wendra.exe ended";
    DWORD exitCode = ~0u;
    EXPECT_TRUE(GetExitCodeProcess(wendra.hProcess, &exitCode) && exitCode == 0) << exitCode;
    PostThreadMessageW(spreadsheet.dwThreadId, WM_QUIT, 0, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(spreadsheet.hProcess, 20000)) << "stand-in ended";
    for (const PROCESS_INFORMATION &process : {wendra, spreadsheet}) {
        TerminateProcess(process.hProcess, 999); // if it still runs
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    Lines log;
    std::ifstream file("vl-calls.log");
    for (std::string text; std::getline(file, text);)
        log.push_back(text);
    EXPECT_EQ(calls, log) << commandLine;
}

const std::string kCount = "Workbooks.Count get args=() alerts=on";
const std::string kAlertsOff = "Application.DisplayAlerts put args=(BOOL 0) named=(-3) alerts=on";
const std::string kAlertsOn = "Application.DisplayAlerts put args=(BOOL -1) named=(-3) alerts=off";

// Workbooks, then Count, Item and Name for books 1 to n; then book n closed with the alerts off,
// or (closes = false) one more Count; then the end, with the books still open.
Lines Walk(int n, bool closes, const char *open)
{
    Lines lines{"Application.Workbooks get args=() alerts=on"};
    for (int i = 1; i <= n; ++i)
        lines.insert(lines.end(),
                     {kCount, "Workbooks.Item get args=(I4 " + std::to_string(i) + ") alerts=on",
                      "Workbook.Name get args=() alerts=on book=" + std::to_string(i)});
    const std::string close = "Workbook.Close method args=() alerts=off book=" + std::to_string(n);
    for (const std::string &line : closes ? Lines{kAlertsOff, close, kAlertsOn} : Lines{kCount})
        lines.push_back(line);
    lines.push_back(std::string("end alerts=on open=(") + open + ")");
    return lines;
}

TEST(EndToEnd, ClosesTheFirstBookOfThatName)
{
    ASSERT_EQ(1252u, GetACP()) << "LC_ALL of this test entry";
    const Options two = {L"--book", L"Book1.xlsx", L"--book", L"Report.XLSX"};
    // Only A to Z are folded, not 0x40 and 0x5B next to them.
    ExpectCalls(Walk(3, true, "1 2"), {L"--book", L"@{", L"--book", L"`[", L"--book", L"`{"},
                Wendra() + " `{");
    // Quotes and trailing blanks belong to the argument; bytes up to 0x20 end the program name.
    ExpectCalls(Walk(2, false, "1 2"), two, Wendra() + " \"Report.XLSX\"");
    ExpectCalls(Walk(2, false, "1 2"), two, Wendra() + " Report.XLSX ");
    ExpectCalls(Walk(2, true, "1"), two, "Wendra\x01report.xlsx");
    ExpectCalls({"end alerts=on open=(1 2)"}, two, Wendra() + "   \t ");
    // A null name matches nothing; the count is read anew in every pass ("x" goes before its turn).
    ExpectCalls(Walk(2, false, "1 2"),
                {L"--null-book", L"--book", L"a", L"--book", L"x", L"--shrink-after",
                 L"Workbook.Name#2", L"--shrink-to", L"2"},
                Wendra() + " X");
    // Code page 1252 lacks CJK characters ("?"); bytes from 0x80 match as they are (0xA0 too).
    const Options cp1252 = {L"--book", L"\u00a0\u00e4rger.xlsx", L"--book", L"\u5831\u544a.xlsx",
                            L"--book", L"\u00a0\u00c4rger.xlsx"};
    ExpectCalls(Walk(2, true, "1 3"), cp1252, Wendra() + " ??.XLSX");
    ExpectCalls(Walk(3, true, "1 2"), cp1252, Wendra() + " \xA0\xC4RGER.xlsx");
}

// Each call of a clean close fails in turn (by exception and by plain HRESULT by turns): nothing
// follows but, once the alerts are off and unless that call failed, one that switches them on.
TEST(EndToEnd, AFailedCallEndsTheCloseWithTheAlertsOn)
{
    const Lines clean = Walk(1, true, ""); // the calls, then the end line
    std::map<std::string, int> seen;
    for (size_t n = 0; n + 1 < clean.size(); ++n) {
        const std::string call = clean[n].substr(0, clean[n].find(' '));
        const std::string fail =
            call + "#" + std::to_string(++seen[call]) + (n % 2 ? "=0x80004005" : "");
        Lines expected(clean.begin(), clean.begin() + n + 1);
        expected.back() += " -> failed";
        const bool onFailed = n + 2 == clean.size();
        if (std::count(expected.begin(), expected.end(), kAlertsOff) && !onFailed)
            expected.push_back(kAlertsOn);
        expected.push_back(onFailed ? "end alerts=off open=()" : "end alerts=on open=(1)");
        ExpectCalls(expected,
                    {L"--book", L"Book", L"--fail", std::wstring(fail.begin(), fail.end())},
                    Wendra() + " BOOK");
    }
}

// LC_ALL=ja_JP.UTF-8 (its own ctest entry) gives code page 932. Python's cp932 codec made the
// bytes: "報告書.XLSX" and "メ\"表 示\"" (the second byte of メ is itself a lead byte).
const std::string kReportUpper = "\x95\xf1\x8d\x90\x8f\x91.XLSX";
const std::string kDoubleByteToken = "\x83\x81\"\x95\x5c \x8e\xa6\"";

TEST(EndToEnd932, JapaneseNamesMatchByteForByte)
{
    ASSERT_EQ(932u, GetACP()) << "LC_ALL of this test entry";
    const std::wstring report = L"\u5831\u544a\u66f8.xlsx";
    const Options books = {L"--book", L"\u5831\u544a.xlsx", L"--book", report, L"--book", report};
    ExpectCalls(Walk(2, true, "1 3"), books, kDoubleByteToken + " " + kReportUpper);
    ExpectCalls(Walk(3, false, "1 2 3"), books, Wendra() + " " + kReportUpper.substr(0, 10));
}

} // namespace

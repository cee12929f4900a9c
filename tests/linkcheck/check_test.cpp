// The check through its seam, under the sanitizers, for what Wine cannot show or shows only slowly
// (the rest: wine_test.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "check.h"

namespace linkcheck
{
namespace
{

class Fake final : public CheckCalls
{
public:
    std::map<std::string, std::string> files;
    std::string program = "C:\\app\\VetrolinkCheck.exe", loaded = "C:\\app\\Vetrolink.dll";
    std::vector<std::string> missingExports;
    int family = 2007, comPortResult = 0, setPortResult = 0;
    std::string portList = "COM3,";
    DWORD loadError = 0, clockOffset = 0;       // the calendar clock's milliseconds at tick 0
    std::vector<std::array<DWORD, 3>> arrivals; // a tick, bytes from 0 then, ClearCommError's flags
    mutable std::string printed;
    mutable DWORD tick = 0, error = 0, flags = 0, sent = 0;
    mutable COMMTIMEOUTS wait{};
    mutable size_t next = 0;

    static inline Fake *current;
    static HMODULE Module() { return reinterpret_cast<HMODULE>(&current); }
    Fake() { current = this; }
    static int VETROLINK_CALL WindowsVer(void) { return current->family; }
    static int VETROLINK_CALL AskVer(char *text) { return snprintf(text, 7, "Ver5.1"), 0; }
    static int VETROLINK_CALL ComPort(int, int, int *count, char *list)
    {
        *count = int(std::count(current->portList.begin(), current->portList.end(), ','));
        return snprintf(list, 100, "%s", current->portList.c_str()), current->comPortResult;
    }
    static int VETROLINK_CALL SetPort(DWORD, int, int, int, HANDLE *port, const char *)
    {
        current->error = 5; // access denied: what Windows answers for a port another program holds
        return current->setPortResult ? current->setPortResult : (*port = HANDLE(3), 0);
    }

    void PrintLine(const char *text) const override { printed += text + std::string("\n"); }
    bool CanShow(const char *) const override { return true; }
    bool FromCodePage932(const char *, char *, DWORD) const override { return false; }
    bool ConsoleOfItsOwn() const override { return false; }
    void WaitForEnter() const override {}
    HMODULE LoadLibraryA(const char *) const override { return (error = loadError) ? 0 : Module(); }
    FARPROC GetProcAddress(HMODULE, const char *name) const override
    {
        const std::map<std::string, FARPROC> exports{{"ComPort", FARPROC(&ComPort)},
                                                     {"SetPort", FARPROC(&SetPort)},
                                                     {"AskVer", FARPROC(&AskVer)},
                                                     {"WindowsVer", FARPROC(&WindowsVer)}};
        return std::count(missingExports.begin(), missingExports.end(), name) ? 0
                                                                              : exports.at(name);
    }
    DWORD ModulePath(HMODULE module, char *path, DWORD size) const override
    {
        return snprintf(path, size, "%s", (module ? loaded : program).c_str());
    }
    DWORD SearchDllPath(const char *, char *, DWORD) const override { return 0; }
    DWORD GetLastError() const override { return error; }
    void SetLastError(DWORD value) const override { error = value; }
    BOOL ReadFileStart(const char *path, void *buffer, DWORD size, DWORD *read,
                       DWORD *fileSize) const override
    {
        auto file = files.find(path);
        if (file == files.end()) return error = 2, FALSE;
        *fileSize = file->second.size(), *read = std::min(size, *fileSize);
        return std::memcpy(buffer, file->second.data(), *read), TRUE;
    }
    const void *VersionResource(HMODULE, DWORD *) const override { return nullptr; }
    LONG RegOpenKeyExA(HKEY, const char *, HKEY *) const override { return 2; }
    LONG RegEnumKeyExA(HKEY, DWORD, char *, DWORD *) const override { return 259; }
    LONG RegQueryValueExA(HKEY, const char *, char *, DWORD *) const override { return 2; }
    LONG RegCloseKey(HKEY) const override { return 0; }
    DWORD QueryDosDeviceA(const char *, char *, DWORD) const override { return 0; }
    HANDLE OpenPort(const char *) const override { return INVALID_HANDLE_VALUE; }
    BOOL PurgeComm(HANDLE, DWORD) const override { return TRUE; }
    BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS *set) const override { return wait = *set, TRUE; }
    // A driver that keeps the time-outs it was given: an empty read waits up to their constant.
    BOOL ReadFile(HANDLE, void *buffer, DWORD, DWORD *transferred) const override
    {
        if (next < arrivals.size() && arrivals[next][0] > tick && wait.ReadTotalTimeoutMultiplier)
            tick = std::min(arrivals[next][0], tick + wait.ReadTotalTimeoutConstant);
        *transferred = next < arrivals.size() && arrivals[next][0] <= tick;
        if (*transferred) *static_cast<unsigned char *>(buffer) = sent++;
        if (*transferred && sent == arrivals[next][1]) flags = arrivals[next++][2], sent = 0;
        return TRUE;
    }
    BOOL ClearCommError(HANDLE, DWORD *e) const override { return *e = flags, flags = 0, TRUE; }
    BOOL CloseHandle(HANDLE) const override { return TRUE; }
    DWORD GetTickCount() const override { return tick; }
    void Sleep(DWORD milliseconds) const override { tick += milliseconds; }
    std::time_t Time() const override { return (tick + clockOffset) / 1000; }
};

// The check with these words on a fake that setUp prepares: its exit code, each fragment printed.
void Check(
    std::vector<std::string> words, int exitCode, std::vector<std::string> fragments,
    const std::function<void(Fake &)> &setUp = [](Fake &) {})
{
    Fake fake;
    setUp(fake);
    std::vector<char *> argv{const_cast<char *>("VetrolinkCheck")};
    for (std::string &word : words)
        argv.push_back(word.data());
    Options options;
    bool understood = ParseOptions(fake, int(argv.size()), argv.data(), options);
    EXPECT_EQ(exitCode, understood ? RunCheck(fake, options) : kExitUsage) << fake.printed;
    for (const std::string &fragment : fragments)
        EXPECT_NE(fake.printed.find(fragment), std::string::npos) << fragment << '\n'
                                                                  << fake.printed;
}

// The receiver's clock counts whole seconds from the first byte and gives up when it has moved
// more than 2 (exit 9), even in the read that brings the 350th byte: a block of 2.9 s is taken
// or not by where the seconds fall. Only 350 bytes make a block, and line errors spoil one.
TEST(Check, JudgesAsTheReceiverAndNamesWhatStopsIt)
{
    auto listen = [&](std::vector<std::array<DWORD, 3>> arrivals, DWORD clockOffset, int exitCode,
                      std::vector<std::string> fragments) {
        Check({"/listen", "6"}, exitCode, fragments,
              [=](Fake &f) { f.arrivals = arrivals, f.clockOffset = clockOffset; });
    };
    listen({}, 0, kExitNoData, {"Received:  nothing in 6 s"});
    listen({{100, 349, 0}}, 0, kExitNotABlock, {"Block:     the receiver gives up", "349 of 350"});
    listen({{100, 300, 0}, {282, 50, 0}}, 0, kExitFound,
           {"350 bytes, 182 ms from the first byte to the last (350 bytes take 182 ms at 19200",
            "Last:      2a 2b 2c 2d 2e 2f 30 31", "350 bytes within the receiver's time limit"});
    listen({{100, 351, 0}}, 0, kExitNotABlock, {"351 bytes, more than one block of 350"});
    listen({{100, 350, 0}, {3000, 350, 0}}, 0, kExitNotABlock, {"700 bytes, 2900 ms", "take 364"});
    listen({{0, 349, 0}, {2900, 1, 0}}, 0, kExitFound, {});
    listen({{0, 349, 0}, {2900, 1, 0}}, 100, kExitNotABlock, {"with 350 of 350 bytes in"});
    listen(
        {{0, 100, 8}, {1, 100, 8}, {2, 50, 4}, {3, 50, 2}, {4, 49, 0x11}, {5, 1, 0}}, 0,
        kExitNotABlock,
        {"errors in reads: framing 2, parity 1, overrun 2, break 1", "the line reported errors"});

    // Each word refused names itself and the accepted form; a value is never taken from past argv
    // (it holds no NUL after the last word), an unknown word takes none. Then the receiver's steps,
    // on what Wine cannot make: files, exports, the 2000 family, a port Windows refuses as held.
    Check({"/vid"}, 6,
          {"Not understood: /vid without its value: /vid HEX, 1 to 4 hex digits (0 to"});
    Check({"/foo", "/listen", "3"}, 6,
          {"Not understood: /foo (VetrolinkCheck /? lists the options)"});
    Check({"-PID", "12345"}, 6, {"-PID 12345: -PID HEX, 1 to 4 hex digits (0 to FFFF)"});
    Check({"/port", "COM5"}, 6, {"/port COM5 without /listen: /port COMn /listen SECONDS"});
    const std::string beside = "C:\\app\\Vetrolink.dll", system = "C:\\windows\\Vetrolink.dll";
    Check({}, 1, {"not a Windows DLL"},
          [&](Fake &f) { f.files[beside] = "PK", f.loadError = 193; });
    Check({}, 0,
          {"not the copy in this program's folder C:\\app\\: the receiver beside this program"},
          [&](Fake &f) { f.loaded = system; });
    Check({}, 1, {"Exports:   missing SetPort, which the receiver needs"},
          [](Fake &f) { f.missingExports = {"SetPort"}; });
    Check({}, 0, {"Version:   no AskVer (the receiver does not use it)"},
          [](Fake &f) { f.missingExports = {"AskVer"}; });
    Check({"/listen", "1"}, 3,
          {"gives 2000: Windows 2000, XP or Server 2003 (NT 5.x)", "2 listed: COM3,COM7,",
           "COM3 does not open: another program holds it (SetPort 1, Windows error 5)"},
          [](Fake &f) { f.family = 2000, f.portList = "COM3,COM7,", f.setPortResult = 1; });
    Check({"/port", "COM7", "/listen", "1"}, 2,
          {"Receiver:  opens COM3, the first port listed, not COM7"}, [](Fake &f) {
              f.portList = "COM3,COM7,", f.arrivals = {{0, 350, 0}};
          });
}

} // namespace
} // namespace linkcheck

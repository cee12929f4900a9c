// The library's logic against an in-memory Windows (fake_windows.h), for
// what Windows under Wine cannot produce; wine_test.py tests the rest for real.
#include <gtest/gtest.h>

#include "fake_windows.h"
#include "logic.h"

using namespace std::string_literals;
using namespace vetrolink;
using namespace vetrolink::testing;

static const std::string kKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1a2b&Pid_00ff";

// An instance naming `port` as stored; the port answers with a record of `size` bytes.
static RegistryKey &Add(FakeWindows &w, const std::string &name, const std::string &port,
                        long size = sizeof(COMMCONFIG))
{
    w.keys[kKey].subkeys.push_back({name, kAsWindows});
    w.ports[port.c_str()] = size;
    RegistryKey &key = w.keys[kKey + "\\" + name + "\\Device Parameters"];
    return key.values["PortName"] = port, key;
}

// Which instances count, in order, and nothing written past the list's NUL. The walk's handle and
// buffer rules, and port names empty or unterminated in their field, are discovery_fuzz's.
TEST(ComPort, ListsTheUsablePortsThatAnswerAndWritesNothingElse)
{
    for (char fill : {'\x00', '\xff'}) {
        FakeWindows w;
        Add(w, "a", "COM2\0"s).closeFailures = 2; // closes at the third try
        Add(w, "b", "CO,M3\0"s);                  // a comma would split it in two
        Add(w, "c", "COM4").trailer = "1";        // no NUL, and a stray byte after it
        Add(w, "d", "COM5\0"s, -1);               // in use
        Add(w, "e", "COM6\0"s, 600);              // provider data: asked again
        Add(w, "f", "COM7\0"s, 4096);             // the most believed, as by SetPort
        Add(w, "g", "COM8\0"s, 4097);
        w.keys[kKey].subkeys.push_back({"h", ERROR_ACCESS_DENIED}); // ends the walk
        Add(w, "i", "COM3\0"s);
        std::string list(100, fill);
        int count = -7;
        EXPECT_EQ(0, ComPortForFamily(w, 2007, 0x1a2b, 0xff, &count, list.data()));
        const std::string listed = "COM2,COM4,COM6,COM7,";
        EXPECT_EQ((listed + '\0').append(99 - listed.size(), fill), list);
        EXPECT_EQ(4, count);
        EXPECT_EQ(std::vector<std::string>{}, w.Finish());
    }
}

// Both openers: exclusive; reads that return at once (MAXDWORD, 0, 0), writes without a time-out;
// the record asked for again at the size the driver gives (0x34), up to 4 KiB; both buffers purged
// (0xc); a handle the caller does not get is closed. The record handed back is the driver's with
// the line set; selectors outside 0 to 2 keep the port's parity and stop bits.
TEST(SetPort, OpensConfiguresAndPurgesInOrderAndHandsTheRecordBack)
{
    const std::string timeouts = "SetCommTimeouts ffffffff 0 0 0 0", ask = "GetCommConfig 34",
                      set = "SetCommConfig 34", purge = "PurgeComm c", close = "CloseHandle",
                      ask4k = "GetCommConfig 1000", set4k = "SetCommConfig 1000";
    const struct {
        long size; // of the port's record; -1: in use
        BOOL accepted, purged;
        unsigned char fill; // of the reported record
        int selector;
        BYTE parity, stopBits;
        int result;
        std::vector<std::string> calls; // after CreateFileA
    } rows[] = {
        {52, 1, 1, 0x00, 0, NOPARITY, ONESTOPBIT, 0, {timeouts, ask, set, purge}},
        {52, 1, 1, 0xff, 1, EVENPARITY, ONE5STOPBITS, 0, {timeouts, ask, set, purge}},
        {52, 1, 1, 0xff, 3, 0xff, 0xff, 0, {timeouts, ask, set, purge}}, // the port's
        {4096, 1, 1, 0x5b, 2, ODDPARITY, TWOSTOPBITS, 0, {timeouts, ask, ask4k, set4k, purge}},
        {4097, 1, 1, 0, 0, 0, 0, 2, {timeouts, ask, close}},
        {-1, 1, 1, 0, 0, 0, 0, 1, {}},
        {52, 0, 1, 0, 0, 0, 0, 2, {timeouts, ask, set, close}}, // the line refused
        {52, 1, 0, 0, 0, 0, 0, 3, {timeouts, ask, set, purge}},
    };
    for (auto [open, flags] : {std::pair{&vetrolink::SetPort, "0"}, {&SetPortOver, "40000080"}}) {
        for (const auto &row : rows) {
            SCOPED_TRACE(::testing::Message() << "row " << &row - rows << ", flags " << flags);
            FakeWindows w;
            w.ports["COM12345678"] = row.size, w.fill = row.fill;
            w.configAccepted = row.accepted, w.purgeAnswer = row.purged;
            HANDLE handle = nullptr;
            EXPECT_EQ(row.result, open(w, 19200, 8, row.selector, row.selector, &handle,
                                       "COM12345678")); // 11 characters
            EXPECT_EQ("CreateFileA \\\\.\\COM12345678 c0000000 0 "s + flags, w.log.at(0));
            EXPECT_EQ(row.calls, std::vector(w.log.begin() + 1, w.log.end()));
            if (handle) w.CloseHandle(handle); // the caller's to close, and open
            EXPECT_EQ(std::vector<std::string>{}, w.Finish());
            if (row.result == 0) {
                std::vector<unsigned char> want(w.applied.size(), row.fill);
                DCB &d = reinterpret_cast<COMMCONFIG *>(want.data())->dcb;
                d.fParity = d.fDtrControl = d.fRtsControl = 1; // DTR and RTS: ENABLE
                d.fOutxCtsFlow = d.fOutxDsrFlow = d.fDsrSensitivity = d.fTXContinueOnXoff = 0;
                d.fOutX = d.fInX = d.fNull = d.fAbortOnError = d.ErrorChar = 0;
                d.BaudRate = 19200, d.ByteSize = 8, d.XonLim = 1024, d.XoffLim = 512;
                d.Parity = row.parity, d.StopBits = row.stopBits;
                EXPECT_EQ(want, w.applied);
            }
        }
    }
}

// A failed query leaves the record undefined, whatever it holds.
TEST(WindowsVer, PlatformsWineDoesNotPretendAndAFailedQueryGiveZero)
{
    for (auto [platform, answer] : {std::pair{0u, TRUE}, {3u, TRUE}, {2u, FALSE}}) {
        FakeWindows w;
        w.version.dwPlatformId = platform, w.version.dwMajorVersion = 6, w.versionAnswer = answer;
        EXPECT_EQ(0, WindowsVer(w)) << "platform " << platform;
    }
}

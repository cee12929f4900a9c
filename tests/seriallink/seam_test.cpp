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

// Which instances count, in order, until the list fills the caller's 100 bytes: a name that would
// not fit is left out. The walk's handle rules and port names empty or unterminated in their
// field are discovery_fuzz's, as are the registry's names and values at their buffers' edges.
TEST(ComPort, ListsTheUsablePortsThatAnswerUntilTheListFillsItsBuffer)
{
    FakeWindows w;
    Add(w, "a", "COM20000000\0"s).closeFailures = 2; // closes at the third try
    Add(w, "b", "CO,M3\0"s);                         // a comma would split it in two
    Add(w, "c", "COM40000000").trailer = "1";        // no NUL, and a stray byte after it
    Add(w, "d", "COM5\0"s, -1);                      // in use
    Add(w, "e", "COM60000000\0"s, 600);              // provider data: asked again
    Add(w, "f", "COM70000000\0"s, 4096);             // the most believed, as by SetPort
    Add(w, "g", "COM8\0"s, 4097);
    for (std::string port :
         {"COM10000001", "COM10000002", "COM10000003", "COM10000004", "COM", "C9"})
        Add(w, port, port + '\0'); // 96 characters; COM would need 101 bytes, C9 fills the 100
    std::vector<char> list(100, '\xff'); // on the heap, exactly the receiver's 100 bytes
    int count = -7;
    EXPECT_EQ(0, ComPortForFamily(w, 2007, 0x1a2b, 0xff, &count, list.data()));
    EXPECT_STREQ("COM20000000,COM40000000,COM60000000,COM70000000,COM10000001,COM10000002,"
                 "COM10000003,COM10000004,C9,",
                 list.data());
    EXPECT_EQ(9, count);
    EXPECT_EQ(std::vector<std::string>{}, w.Finish());
}

// Every socket a device without a serial number was plugged into leaves an instance. 163 names
// of 99 characters, and the device's instance last: its name ends the 16 KiB of names exactly,
// or one byte beyond them (the sanitizers judge that one).
TEST(ComPort, WalksAKeyOfManyInstancesToTheLast)
{
    for (size_t last : {83, 84}) {
        FakeWindows w;
        for (int i = 100; i < 263; ++i)
            w.keys[kKey].subkeys.push_back({std::to_string(i) + std::string(96, 'n'), kAsWindows});
        Add(w, std::string(last, 'd'), "COM3\0"s);
        std::vector<char> list(100);
        int count = 0;
        ComPortForFamily(w, 2000, 0x1a2b, 0xff, &count, list.data());
        if (last == 83) EXPECT_STREQ("COM3,", list.data());
        EXPECT_EQ(std::vector<std::string>{}, w.Finish());
    }
}

// Exclusive; reads that return at once (MAXDWORD, 0, 0), writes without a time-out; the record
// asked for again at the size the driver gives (0x34), up to 4 KiB; both buffers purged (0xc); a
// handle the caller does not get is closed. The record handed back is the driver's with the line
// set; selectors outside 0 to 2 keep the port's parity and stop bits. How SetPortOver differs, in
// how it opens, port_name_fuzz checks.
TEST(SetPort, OpensConfiguresAndPurgesInOrderAndHandsTheRecordBack)
{
    const std::string timeouts = "SetCommTimeouts ffffffff 0 0 0 0", ask = "GetCommConfig 34",
                      set = "SetCommConfig 34", purge = "PurgeComm c", close = "CloseHandle",
                      ask4k = "GetCommConfig 1000", set4k = "SetCommConfig 1000";
    const struct {
        long size; // of the port's record
        BOOL accepted, purged;
        unsigned char fill; // of the reported record
        int selector;
        BYTE parity, stopBits;
        int result;
        std::vector<std::string> calls; // after CreateFileA
    } rows[] = {
        {52, 1, 1, 0xff, 0, NOPARITY, ONESTOPBIT, 0, {timeouts, ask, set, purge}},
        {52, 1, 1, 0x00, 1, EVENPARITY, ONE5STOPBITS, 0, {timeouts, ask, set, purge}},
        {52, 1, 1, 0xff, 3, 0xff, 0xff, 0, {timeouts, ask, set, purge}}, // the port's
        {4096, 1, 1, 0x5b, 2, ODDPARITY, TWOSTOPBITS, 0, {timeouts, ask, ask4k, set4k, purge}},
        {4097, 1, 1, 0, 0, 0, 0, 2, {timeouts, ask, close}},
        {52, 0, 1, 0, 0, 0, 0, 2, {timeouts, ask, set, close}}, // the line refused
        {52, 1, 0, 0, 0, 0, 0, 3, {timeouts, ask, set, purge}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
        FakeWindows w;
        w.ports["COM3"] = row.size, w.fill = row.fill;
        w.configAccepted = row.accepted, w.purgeAnswer = row.purged;
        HANDLE handle = nullptr;
        EXPECT_EQ(row.result, SetPort(w, 19200, 8, row.selector, row.selector, &handle, "COM3"));
        EXPECT_EQ(row.calls, std::vector(w.log.begin() + 1, w.log.end()));
        if (handle) w.CloseHandle(handle); // the caller's to close, and open
        EXPECT_EQ(std::vector<std::string>{}, w.Finish());
        if (row.result != 0) continue;
        // The driver's record, its DCB (from byte 8) set as the device needs: 19200 baud; of the
        // flags bits 1 to 14 but fErrorChar (10): parity checked, DTR and RTS on (ENABLE), no flow
        // control, nulls kept, no abort on error; XonLim 1024, XoffLim 512; 8 data bits, the
        // row's parity and stop bits; ErrorChar 0. Little-endian, as Windows.
        std::vector<unsigned char> want(w.applied.size(), row.fill);
        const auto put = [&](size_t at, uint32_t value, size_t bytes) {
            std::memcpy(&want[8 + at], &value, bytes);
        };
        uint32_t flags;
        std::memcpy(&flags, &want[16], 4);
        put(4, 19200, 4), put(8, (flags & ~0x7bfeu) | 0x1012u, 4);
        put(14, 1024, 2), put(16, 512, 2);
        put(18, 8, 1), put(19, row.parity, 1), put(20, row.stopBits, 1), put(23, 0, 1);
        EXPECT_EQ(want, w.applied);
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

// Mode 0 empties both buffers, 1 the receive buffer, 2 the transmit buffer (PURGE_TXCLEAR 4,
// PURGE_RXCLEAR 8): the pty under Wine shows only what was received.
TEST(ClearBuffer, PurgesTheBuffersOfItsMode)
{
    FakeWindows w;
    for (int mode : {0, 1, 2})
        EXPECT_EQ(0, ClearBuffer(w, nullptr, mode)) << mode;
    EXPECT_EQ((std::vector<std::string>{"PurgeComm c", "PurgeComm 8", "PurgeComm 4"}), w.log);
}

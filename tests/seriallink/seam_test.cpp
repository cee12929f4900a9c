// The library's logic against an in-memory Windows (fake_windows.h), for
// what Windows under Wine cannot produce; wine_test.py tests the rest for real.
#include <gtest/gtest.h>

#include <memory>

#include "fake_windows.h"
#include "logic.h"

namespace vetrolink::testing
{
namespace
{

using namespace std::string_literals;

const std::string kNtKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1a2b&Pid_00ff";

// An instance of the device whose port name is `portName` (as stored), and the port itself
// when `size` is not 0 (FakeWindows::ports).
RegistryKey &Nt(FakeWindows &w, const std::string &name, const std::string &portName, long size = 0)
{
    w.keys[kNtKey].subkeys.push_back({name, kAsWindows});
    if (size) w.ports[portName.c_str()] = size;
    RegistryKey &key = w.keys[kNtKey + "\\" + name + "\\Device Parameters"];
    key.values["PortName"] = portName;
    return key;
}
RegistryKey &Of98(FakeWindows &w, const char *name, const std::string &parent, const char *port)
{
    w.keys["Enum\\USB\\ZELTRAUSBCOMM"].subkeys.push_back({name, kAsWindows});
    w.ports[port] = sizeof(COMMCONFIG);
    RegistryKey &key = w.keys["Enum\\USB\\ZELTRAUSBCOMM\\"s + name];
    key.values = {{"ParentDevNode", parent}, {"PortName", port + "\0"s}};
    return key;
}

// Each walk ends with result 0 and the list in the caller's 100 bytes, on
// the heap: AddressSanitizer sees a byte written past them.
const struct {
    const char *what;
    int family;
    void (*setup)(FakeWindows &);
    const char *list;
    int count;
} kWalks[] = {
    {"NT family: names, values and ports that do not count", 2007,
     [](FakeWindows &w) {
         const long one = sizeof(COMMCONFIG);
         Nt(w, "a,b", "COM1\0"s, one);                        // a comma in an instance name
         w.keys[kNtKey].closeFailures = -1;                   // never closes: given up
         w.keys[kNtKey].subkeys.push_back({"0", kAsWindows}); // no "Device Parameters"
         Nt(w, std::string(99, 'n'), "COM2\0"s, one).closeFailures = 2; // closes at the third try
         Nt(w, std::string(100, 'n'), "COM3\0"s, one);                  // too long a name
         Nt(w, std::string(100, 'x'), "COM3\0"s);                       // ... said to fit
         w.keys[kNtKey].subkeys.back().second = ERROR_SUCCESS;
         Nt(w, "b", "COM3\0"s).openAnswer = ERROR_ACCESS_DENIED;
         Nt(w, "c", "COM12345678\0"s, one); // 11 characters: the longest
         Nt(w, "d", "COM123456789\0"s, one);
         Nt(w, "e", "CO,M3\0"s, one);
         Nt(w, "f", "\0"s);
         Nt(w, "g", "COM3XXXXXXXXXXXX");        // fills the field, no NUL
         Nt(w, "h", "COM3XXXXXXXXXXXXXX\0"s);   // too long for the field
         Nt(w, "i", "COM4", one).trailer = "1"; // no NUL, and a stray byte after it
         Nt(w, "j", "COM5\0"s, -1);             // in use
         Nt(w, "k", "COM6\0"s, 600);            // provider data: asked again
         Nt(w, "l", "COM7\0"s, 4096);           // the most believed, as by SetPort
         Nt(w, "m", "COM8\0"s, 4097);
         Nt(w, "n", "COM9\0"s); // reports no configuration
         w.ports["COM9"] = 0;
         w.keys[kNtKey].subkeys.push_back({"o", ERROR_ACCESS_DENIED}); // ends the walk
         Nt(w, "p", "COM3\0"s);
     },
     "COM1,COM2,COM12345678,COM4,COM6,COM7,", 6},
    {"98 family: ParentDevNode names the device", 98,
     [](FakeWindows &w) {
         Of98(w, "0", "USB\\VID_1A2B&PID_00FF\\6&1\0"s, "COM1");
         Of98(w, "1", "USB\\VID_1A2B&PID_00FE\\6&1\0"s, "COM2");
         Of98(w, "2", "USB\\VID_1A2C&PID_00FF\\6&1\0"s, "COM3");
         Of98(w, "3", "usb\\vid_1a2b&pid_00ff\\6&1\0"s, "COM4");
         Of98(w, "4", "USB\\VID_QARb&PID_PPFF\\6&1\0"s, "COM5");     // 32 apart, either way
         Of98(w, "5", "USB\\VID_1\x81\x32\x42&PID_00FF\0"s, "COM6"); // ... only if unsigned
         Of98(w, "6", "USB\\VID_1A2B&PID_00FF" + std::string(99, 'x'), "COM7"); // unread: kept
         Of98(w, "7", "USB\\VID_1A2B&PID_00F", "COM8").trailer = "F\\6&1";      // too short
         Of98(w, "8", "USB\\VID_1A2B&PID_00F\0"s, "COM9");
     },
     "COM1,COM4,COM5,COM7,", 4},
    {"the list fills the 100 bytes exactly", 2007,
     [](FakeWindows &w) { // 13 names take 91 bytes; COM10000 would need 101
         for (int n :
              {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 10000, 1000, 5})
             Nt(w, std::to_string(n), "COM" + std::to_string(n) + '\0', sizeof(COMMCONFIG));
     },
     "COM100,COM101,COM102,COM103,COM104,COM105,COM106,COM107,COM108,COM109,COM110,COM111,COM112,"
     "COM1000,",
     14},
};

TEST(ComPort, ListsOnlyPortsThatAnswerAndWritesNothingElse)
{
    for (const auto &walk : kWalks) {
        for (char fill : {'\x00', '\xff'}) {
            SCOPED_TRACE(::testing::Message() << walk.what << ", filled with " << int{fill});
            FakeWindows w;
            walk.setup(w);
            std::unique_ptr<char[]> list(new char[100]);
            std::memset(list.get(), fill, 100);
            int count = -7;
            EXPECT_EQ(0, ComPortForFamily(w, walk.family, 0x1a2b, 0xff, &count, list.get()));
            EXPECT_EQ((walk.list + "\0"s).append(99 - std::strlen(walk.list), fill),
                      std::string(list.get(), 100));
            EXPECT_EQ(walk.count, count);
            EXPECT_EQ(std::vector<std::string>{}, w.Finish());
        }
    }
}

// Both openers: exclusive; reads that return at once (MAXDWORD, 0, 0) and
// writes without a time-out; the record handed back with the size the driver
// gave (0x34 = 52 bytes); both buffers purged (0xc); a handle the caller
// cannot get is closed.
TEST(SetPort, OpensConfiguresAndPurgesInOrderAndClosesWhatItCannotHandOver)
{
    const std::string timeouts = "SetCommTimeouts ffffffff 0 0 0 0", ask = "GetCommConfig 34",
                      set = "SetCommConfig 34", purge = "PurgeComm c", close = "CloseHandle";
    const struct {
        const char *what;
        long size; // of the port's record; -1: in use
        BOOL accepted, purged;
        int result;
        std::vector<std::string> calls; // after CreateFileA
    } rows[] = {
        {"opened", 52, TRUE, TRUE, 0, {timeouts, ask, set, purge}},
        {"in use", -1, TRUE, TRUE, 1, {}},
        {"refused", 52, FALSE, TRUE, 2, {timeouts, ask, set, close}},
        {"4 KiB record",
         4096,
         TRUE,
         TRUE,
         0,
         {timeouts, ask, "GetCommConfig 1000", "SetCommConfig 1000", purge}},
        {"larger record", 4097, TRUE, TRUE, 2, {timeouts, ask, close}},
        {"purge fails", 52, TRUE, FALSE, 3, {timeouts, ask, set, purge}},
    };
    for (auto [open, flags] : {std::pair{&SetPort, "0"}, {&SetPortOver, "40000080"}}) {
        for (const auto &row : rows) {
            SCOPED_TRACE(::testing::Message() << row.what << ", flags " << flags);
            FakeWindows w;
            w.ports["COM12345678"] = row.size;
            w.configAccepted = row.accepted;
            w.purgeAnswer = row.purged;
            HANDLE handle = nullptr;
            EXPECT_EQ(row.result, open(w, 19200, 8, 0, 0, &handle, "COM12345678")); // 11 characters
            std::vector<std::string> calls = row.calls;
            calls.insert(calls.begin(), "CreateFileA \\\\.\\COM12345678 c0000000 0 "s + flags);
            EXPECT_EQ(calls, w.log);
            EXPECT_EQ(row.result == 0 || row.result == 3, handle != nullptr);
            w.log.clear();
            EXPECT_EQ(1, open(w, 19200, 8, 0, 0, &handle, "COM123456789")); // too long
            EXPECT_EQ(std::vector<std::string>{}, w.log);
        }
    }
}

// The record handed back is the one the driver reported with the line's
// fields set; parity and stop-bit selectors other than 0 to 2 keep the port's.
TEST(SetPort, SetsTheLineAndHandsEverythingElseBackAsReported)
{
    const struct {
        int fill; // of the reported record; -1: each byte different
        DWORD baud;
        int dataBits, selector, parity, stopBits; // -1: as reported
    } rows[] = {
        {0x00, 19200, 8, 0, NOPARITY, ONESTOPBIT},
        {0xff, 9600, 0x107, 1, EVENPARITY, ONE5STOPBITS},
        {-1, 19200, 8, 2, ODDPARITY, TWOSTOPBITS},
        {0xff, 19200, 8, 3, -1, -1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(::testing::Message() << "fill " << row.fill << ", selector " << row.selector);
        FakeWindows w;
        w.ports["COM3"] = sizeof(COMMCONFIG);
        w.fill = row.fill;
        HANDLE handle;
        ASSERT_EQ(0,
                  SetPort(w, row.baud, row.dataBits, row.selector, row.selector, &handle, "COM3"));
        std::vector<unsigned char> want(sizeof(COMMCONFIG));
        for (size_t i = 0; i < want.size(); ++i)
            want[i] = w.Reported(i);
        DCB &d = reinterpret_cast<COMMCONFIG *>(want.data())->dcb;
        d.BaudRate = row.baud;
        d.fParity = d.fDtrControl = d.fRtsControl = 1; // DTR and RTS: ENABLE
        d.fOutxCtsFlow = d.fOutxDsrFlow = d.fDsrSensitivity = d.fTXContinueOnXoff = 0;
        d.fOutX = d.fInX = d.fNull = d.fAbortOnError = d.ErrorChar = 0;
        d.XonLim = 1024;
        d.XoffLim = 512;
        d.ByteSize = static_cast<BYTE>(row.dataBits);
        d.Parity = row.parity >= 0 ? static_cast<BYTE>(row.parity) : d.Parity;
        d.StopBits = row.stopBits >= 0 ? static_cast<BYTE>(row.stopBits) : d.StopBits;
        EXPECT_EQ(want, w.applied);
    }
}

// A failed query leaves the record undefined, whatever it holds.
TEST(WindowsVer, PlatformsWineDoesNotPretendAndAFailedQueryGiveZero)
{
    for (auto [platform, answer] : {std::pair{0u, TRUE}, {3u, TRUE}, {2u, FALSE}}) {
        FakeWindows w;
        w.version.dwPlatformId = platform;
        w.version.dwMajorVersion = 6;
        w.versionAnswer = answer;
        EXPECT_EQ(0, WindowsVer(w)) << "platform " << platform;
    }
}

} // namespace
} // namespace vetrolink::testing

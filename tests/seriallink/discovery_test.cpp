// ComPort's walk against an in-memory registry and fake ports: each row is
// one registry, and runs twice, with the caller's buffers pre-filled with
// 0x00 and with 0xff, so that bytes ComPort must not write are seen.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "discovery_expected.h"
#include "discovery_fake.h"
#include "logic.h"

namespace vetrolink
{
namespace
{

using testing::FakeDiscovery;

constexpr int kVendor = 0x1a2b;
constexpr int kProduct = 0xff;
constexpr int kUnchanged = INT_MIN;
constexpr size_t kReceiverBuffer = 100;

// Created in upper case: the registry finds keys whatever their case.
const std::string kNtKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1A2B&PID_00FF";
const std::string k98Key = "Enum\\USB\\ZELTRAUSBCOMM";
const std::string kParentOfOurs = "USB\\VID_1A2B&PID_00FF\\6&11d1ab8&0&2";

std::string Text(const std::string &text) { return text + '\0'; }

// An NT-family instance whose "Device Parameters" name a port; the port
// itself exists only when made with fake.Port.
void NtInstance(FakeDiscovery &fake, const std::string &instance, const std::string &portName)
{
    fake.Instance(kNtKey, instance);
    fake.Key(kNtKey + "\\" + instance + "\\Device Parameters").values["PortName"] =
        FakeDiscovery::Sz(portName);
}

void NtPort(FakeDiscovery &fake, const std::string &instance, const std::string &portName)
{
    NtInstance(fake, instance, portName);
    fake.Port(portName);
}

// A 98-family instance; parent nullptr: no "ParentDevNode" value.
void W98Port(FakeDiscovery &fake, const std::string &instance, const char *parent,
             const std::string &portName)
{
    auto &key = fake.Instance(k98Key, instance);
    if (parent) key.values["ParentDevNode"] = FakeDiscovery::Sz(parent);
    key.values["PortName"] = FakeDiscovery::Sz(portName);
    fake.Port(portName);
}

std::string PortName(const char *stem, int n) { return stem + std::to_string(n); }

// 13 ports of 6 characters take 91 bytes of the list with their commas.
const std::string kThirteenPorts = "COM100,COM101,COM102,COM103,COM104,COM105,COM106,COM107,"
                                   "COM108,COM109,COM110,COM111,COM112,";

void ThirteenPortsThenTwo(FakeDiscovery &fake, const char *next, const char *last)
{
    for (int n = 100; n < 113; ++n)
        NtPort(fake, PortName("i", n), PortName("COM", n));
    NtPort(fake, "j", next);
    NtPort(fake, "k", last);
}

struct Row {
    const char *name;
    int family;
    void (*setup)(FakeDiscovery &);
    int result;
    std::string list; // what the buffer must start with, NUL included
    int count;
};

// A failing row names itself.
void PrintTo(const Row &row, std::ostream *out) { *out << row.name; }

struct Outcome {
    int result;
    std::string buffer;
    int count;
    std::vector<std::string> violations;
};

Outcome RunRow(const Row &row, unsigned char fill)
{
    FakeDiscovery fake;
    fake.SetFamily(row.family);
    row.setup(fake);
    // Exactly the receiver's 100 bytes on the heap: AddressSanitizer sees a
    // write past them.
    std::unique_ptr<char[]> list(new char[kReceiverBuffer]);
    std::memset(list.get(), fill, kReceiverBuffer);
    int count;
    std::memset(&count, fill, sizeof count);
    Outcome outcome;
    outcome.result = ComPort(fake, kVendor, kProduct, &count, list.get());
    outcome.buffer.assign(list.get(), kReceiverBuffer);
    outcome.count = count;
    outcome.violations = fake.Finish();
    return outcome;
}

class ComPortTable : public ::testing::TestWithParam<Row>
{
};

TEST_P(ComPortTable, GivesTheResultAndWritesNothingElse)
{
    const Row &row = GetParam();
    for (unsigned char fill : {0x00, 0xff}) {
        SCOPED_TRACE(::testing::Message() << "buffers pre-filled with " << int{fill});
        Outcome outcome = RunRow(row, fill);
        EXPECT_EQ(row.result, outcome.result);
        EXPECT_EQ(row.list, outcome.buffer.substr(0, row.list.size()));
        EXPECT_EQ(std::string(kReceiverBuffer - row.list.size(), static_cast<char>(fill)),
                  outcome.buffer.substr(row.list.size()))
            << "bytes after the text were written";
        int unchanged;
        std::memset(&unchanged, fill, sizeof unchanged);
        EXPECT_EQ(row.count == kUnchanged ? unchanged : row.count, outcome.count);
        EXPECT_EQ(std::vector<std::string>{}, outcome.violations);
    }
}

const Row kNtRows[] = {
    {"TwoFreePortsInEnumerationOrder", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "5&2c3a0f9&0&1", "COM3");
         NtPort(f, "5&2c3a0f9&0&2", "COM7");
     },
     0, Text("COM3,COM7,"), 2},
    {"Nt5FamilySearchesTheSameWay", 2000, [](FakeDiscovery &f) { NtPort(f, "A", "COM3"); }, 0,
     Text("COM3,"), 1},
    {"VendorKeyMissingGivesItsPath", 2007, [](FakeDiscovery &) {}, 4,
     Text("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1a2b&Pid_00ff"), kUnchanged},
    {"VendorKeyThatWillNotOpen", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "A", "COM3");
         f.Key(kNtKey).openAnswer = ERROR_ACCESS_DENIED;
     },
     4, Text("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1a2b&Pid_00ff"), kUnchanged},
    {"NoInstance", 2007, [](FakeDiscovery &f) { f.Key(kNtKey); }, 5, expected::kMsgNtNoPort, 0},
    {"InstanceWithoutDeviceParametersIsSkipped", 2007,
     [](FakeDiscovery &f) {
         f.Instance(kNtKey, "5&1&0&1");
         f.Port("COM4");
         NtPort(f, "5&1&0&2", "COM5");
     },
     0, Text("COM5,"), 1},
    {"InstanceKeyThatWillNotOpenIsSkipped", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "A", "COM4");
         f.Key(kNtKey + "\\A\\Device Parameters").openAnswer = ERROR_ACCESS_DENIED;
         NtPort(f, "B", "COM5");
     },
     0, Text("COM5,"), 1},
    {"PortHeldByAnotherProgram", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "A", "COM3");
         f.Port("COM3").inUse = true;
     },
     5, expected::kMsgNtNoPort, 0},
    {"FailedProbesLeaveNoTrace", 2007,
     [](FakeDiscovery &f) {
         NtInstance(f, "A", "COM3"); // nothing behind the name
         NtPort(f, "B", "COM4");
         f.Port("COM4").configFails = true;
         NtPort(f, "C", "COM5");
         NtInstance(f, "D", "COM6");
     },
     0, Text("COM5,"), 1},
    {"DriverWithALargerConfiguration", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "A", "COM3");
         f.Port("COM3").configSize = 600;
         NtPort(f, "B", "COM4");
         f.Port("COM4").configSize = 4096;
         NtPort(f, "C", "COM5");
         f.Port("COM5").configSize = 4097; // not believed
     },
     0, Text("COM3,COM4,"), 2},
    {"PortNameValuesThatCannotFormAPath", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "A", "COM12345678"); // 11 characters: the longest that fits
         NtPort(f, "B", "COM123456789");
         NtPort(f, "C", "CO,M3");
         NtPort(f, "D", "");
         NtPort(f, "E", "COM3");
         // 16 bytes without a NUL: the field holds no terminated name.
         f.Key(kNtKey + "\\E\\Device Parameters").values["PortName"].bytes = "COM3XXXXXXXXXXXX";
         NtInstance(f, "F", "COM0123456789ABCDEF"); // too long for the field
         NtPort(f, "G", "COM4");
         // No NUL stored, but shorter than the field; the call's stray bytes
         // after what it reports are not part of the name.
         auto &value = f.Key(kNtKey + "\\G\\Device Parameters").values["PortName"];
         value.bytes = "COM4";
         value.trailer = "1";
     },
     0, Text("COM12345678,COM4,"), 2},
    {"PortNameThatCannotBeRead", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "A", "COM3");
         f.Key(kNtKey + "\\A\\Device Parameters").values["PortName"].answer = ERROR_ACCESS_DENIED;
     },
     5, expected::kMsgNtNoPort, 0},
    {"InstanceNamesWithCommasAreWalkedWhole", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "a,b", "COM3");
         NtPort(f, ",", "COM4");
         NtPort(f, "c", "COM5");
     },
     0, Text("COM3,COM4,COM5,"), 3},
    {"OverlongInstanceNamesAreSkipped", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, std::string(99, 'n'), "COM3"); // the longest name: kept
         NtPort(f, std::string(100, 'n'), "COM4");
         NtPort(f, std::string(255, 'n'), "COM5");
         NtPort(f, "last", "COM6");
     },
     0, Text("COM3,COM6,"), 2},
    {"EnumerationErrorEndsTheCollection", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "A", "COM3");
         NtPort(f, "B", "COM4");
         f.Key(kNtKey).subkeys[1].answer = ERROR_ACCESS_DENIED;
         NtPort(f, "C", "COM5");
     },
     0, Text("COM3,"), 1},
    {"EnumerationFailingAtOnce", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "A", "COM3");
         f.Key(kNtKey).subkeys[0].answer = ERROR_INVALID_PARAMETER;
     },
     5, expected::kMsgNtNoPort, 0},
    {"EnumerationClaimingALongerNameThanItWrote", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, std::string(100, 'x'), "COM3");
         f.Key(kNtKey).subkeys[0].answer = ERROR_SUCCESS; // 100 bytes, no NUL
         NtPort(f, "B", "COM4");
     },
     0, Text("COM4,"), 1},
    {"KeysThatWillNotCloseAreGivenUp", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "A", "COM3");
         NtPort(f, "B", "COM4");
         f.Key(kNtKey).closeFailures = -1;
         f.Key(kNtKey + "\\A\\Device Parameters").closeFailures = -1;
         f.Key(kNtKey + "\\B\\Device Parameters").closeFailures = 2; // closes at the third try
     },
     0, Text("COM3,COM4,"), 2},
    {"SixtyFourInstancesOneWithAPort", 2007,
     [](FakeDiscovery &f) {
         for (int socket = 1; socket <= 63; ++socket)
             NtInstance(f, PortName("5&2c3a0f9&0&", socket), PortName("COM", 100 + socket));
         NtPort(f, "5&2c3a0f9&0&64", "COM9");
     },
     0, Text("COM9,"), 1},
    {"ManyLongInstanceNames", 2007,
     [](FakeDiscovery &f) {
         for (int socket = 1; socket <= 160; ++socket)
             NtInstance(f, std::string(96, 'x') + std::to_string(socket + 100), "COM200");
         NtPort(f, "last", "COM9");
     },
     0, Text("COM9,"), 1},
    // A 7-character name after the 13 fills the 100 bytes exactly; nothing
    // fits after it.
    {"PortListFillsTheReceiversBufferExactly", 2007,
     [](FakeDiscovery &f) { ThirteenPortsThenTwo(f, "COM1000", "COM5"); }, 0,
     Text(kThirteenPorts + "COM1000,"), 14},
    {"PortThatWouldOverflowTheListIsLeftOut", 2007,
     [](FakeDiscovery &f) { ThirteenPortsThenTwo(f, "COM10000", "COM5"); }, 0,
     Text(kThirteenPorts + "COM5,"), 14},
};

const Row k98Rows[] = {
    {"EnumKeyMissing", 98, [](FakeDiscovery &) {}, 1, expected::kMsg98KeyMissing, kUnchanged},
    {"NoInstance", 98, [](FakeDiscovery &f) { f.Key(k98Key); }, 8, expected::kMsg98NoPort, 0},
    {"ParentDevNodeDecidesWhichInstancesCount", 98,
     [](FakeDiscovery &f) {
         W98Port(f, "0000", kParentOfOurs.c_str(), "COM3");
         W98Port(f, "0001", "USB\\VID_1A2B&PID_00FE\\6&11d1ab8&0&3", "COM4");    // other product
         W98Port(f, "0002", "USB\\VID_1A2C&PID_00FF\\6&11d1ab8&0&4", "COM5");    // other vendor
         W98Port(f, "0003", nullptr, "COM6");                                    // cannot be read
         W98Port(f, "0004", "usb\\vid_1a2b&pid_00ff\\6&11d1ab8&0&5", "COM7");    // lower case
         W98Port(f, "0005", "USB\\VID_QAR\x62&PID_PPFF\\6&11d1ab8&0&6", "COM8"); // 32 apart
         // 0x81 is 32 above 'a' only as an unsigned byte.
         W98Port(f, "0006", "USB\\VID_1\x81\x32\x42&PID_00FF\\6&11d1ab8&0&7", "COM9");
     },
     0, Text("COM3,COM6,COM7,COM8,"), 4},
    {"ShortParentDevNodeNeverMatches", 98,
     [](FakeDiscovery &f) {
         // 20 characters, then the call's stray bytes that would complete it.
         W98Port(f, "0000", nullptr, "COM3");
         auto &parent = f.Key(k98Key + "\\0000").values["ParentDevNode"];
         parent.bytes = "USB\\VID_1A2B&PID_00F";
         parent.trailer = "F\\6&11d1ab8&0&2";
         W98Port(f, "0001", "USB\\VID_1A2B&PID_00F", "COM4");
     },
     8, expected::kMsg98NoPort, 0},
    {"OverlongParentDevNodeCannotBeRead", 98,
     [](FakeDiscovery &f) {
         W98Port(f, "0000", (kParentOfOurs + std::string(100, 'x')).c_str(), "COM3");
     },
     0, Text("COM3,"), 1},
    {"OnlyPortHeldByAnotherProgram", 98,
     [](FakeDiscovery &f) {
         W98Port(f, "0000", kParentOfOurs.c_str(), "COM3");
         f.Port("COM3").inUse = true;
     },
     8, expected::kMsg98NoPort, 0},
};

std::string RowName(const ::testing::TestParamInfo<Row> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(NtFamily, ComPortTable, ::testing::ValuesIn(kNtRows), RowName);
INSTANTIATE_TEST_SUITE_P(Family98, ComPortTable, ::testing::ValuesIn(k98Rows), RowName);
INSTANTIATE_TEST_SUITE_P(UnknownWindows, ComPortTable,
                         ::testing::Values(Row{"OsFamilyZero", 0, [](FakeDiscovery &) {}, 6,
                                               expected::kMsgOsUnknown, kUnchanged}),
                         RowName);

TEST(ComPort, IdTextsAreFourLowerCaseHexDigitsAtLeast)
{
    struct {
        int vendorId, productId;
        const char *keyPath;
    } const rows[] = {
        {0x5, 0xff, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0005&Pid_00ff"},
        {0x1a, 0xff, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_001a&Pid_00ff"},
        {0xabc, 0xff, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0abc&Pid_00ff"},
        {0xffff, 0x0, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_ffff&Pid_0000"},
        {0x12345, 0x1ABCD, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_12345&Pid_1abcd"},
        {-1, 0xff, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_ffffffff&Pid_00ff"},
    };
    for (const auto &row : rows) {
        FakeDiscovery fake;
        char list[kReceiverBuffer];
        int count = 7;
        EXPECT_EQ(4, ComPort(fake, row.vendorId, row.productId, &count, list));
        EXPECT_STREQ(row.keyPath, list);
        EXPECT_EQ((std::vector<std::string>{row.keyPath}), fake.keysOpened);
        EXPECT_EQ(7, count);
    }
}

TEST(ComPort, UnknownFamilyOpensNothing)
{
    FakeDiscovery fake;
    fake.SetFamily(0);
    fake.Key(kNtKey);
    fake.Key(k98Key);
    char list[kReceiverBuffer];
    int count = 7;
    EXPECT_EQ(6, ComPort(fake, kVendor, kProduct, &count, list));
    EXPECT_TRUE(fake.keysOpened.empty());
    EXPECT_TRUE(fake.portsOpened.empty());
}

TEST(ComPort, AFamilyCodeOutsideTheFourIsAnUnknownError)
{
    for (int family : {1, 95, 2001, 2008, -1}) {
        FakeDiscovery fake;
        char list[kReceiverBuffer];
        std::memset(list, 0xff, sizeof list);
        int count = 7;
        EXPECT_EQ(7, ComPortForFamily(fake, family, kVendor, kProduct, &count, list));
        EXPECT_EQ(expected::kMsgUnknownError, std::string(list, expected::kMsgUnknownError.size()));
        EXPECT_EQ(7, count);
        EXPECT_TRUE(fake.keysOpened.empty());
    }
}

TEST(ComPort, ProbesEachPortAsAnExclusiveDevicePath)
{
    FakeDiscovery fake;
    NtPort(fake, "A", "COM3");
    NtInstance(fake, "B", "COM12345678");
    char list[kReceiverBuffer];
    int count = 0;
    EXPECT_EQ(0, ComPort(fake, kVendor, kProduct, &count, list));
    EXPECT_EQ((std::vector<std::string>{"\\\\.\\COM3", "\\\\.\\COM12345678"}), fake.portsOpened);
    const std::string enumKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1a2b&Pid_00ff";
    EXPECT_EQ((std::vector<std::string>{enumKey, enumKey + "\\A\\Device Parameters",
                                        enumKey + "\\B\\Device Parameters"}),
              fake.keysOpened);
    EXPECT_EQ(std::vector<std::string>{}, fake.Finish());
}

} // namespace
} // namespace vetrolink

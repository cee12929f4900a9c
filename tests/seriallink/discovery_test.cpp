// ComPort's walk against an in-memory registry and fake ports: each row is
// one registry, and runs twice, with the caller's buffers pre-filled with
// 0x00 and with 0xff, so that bytes ComPort must not write are seen.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "discovery_expect.h"
#include "discovery_fake.h"
#include "logic.h"

namespace vetrolink
{
namespace
{

using discoverytest::ExpectAnswer;
using discoverytest::kUnchanged;
using discoverytest::Text;
using testing::FakeDiscovery;
using testing::kAsWindows;

constexpr int kVendor = 0x1a2b;
constexpr int kProduct = 0xff;
constexpr size_t kReceiverBuffer = 100;

// Created in upper case: the registry finds keys whatever their case.
const std::string kNtKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1A2B&PID_00FF";
const std::string kNtKeyAsReported = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1a2b&Pid_00ff";
const std::string k98Key = "Enum\\USB\\ZELTRAUSBCOMM";
const std::string kParentOfOurs = "USB\\VID_1A2B&PID_00FF\\6&11d1ab8&0&2";

// An NT-family instance whose "Device Parameters" name a port; the port
// itself exists only when made with fake.Port.
testing::RegistryValue &NtInstance(FakeDiscovery &fake, const std::string &instance,
                                   const std::string &portName)
{
    fake.Instance(kNtKey, instance);
    auto &value = fake.Key(kNtKey + "\\" + instance + "\\Device Parameters").values["PortName"];
    return value = FakeDiscovery::Sz(portName);
}

testing::RegistryValue &NtPort(FakeDiscovery &fake, const std::string &instance,
                               const std::string &portName)
{
    fake.Port(portName);
    return NtInstance(fake, instance, portName);
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

std::string Numbered(const char *stem, int n) { return stem + std::to_string(n); }

// 13 ports of 6 characters take 91 bytes of the list with their commas.
const std::string kThirteenPorts = "COM100,COM101,COM102,COM103,COM104,COM105,COM106,COM107,"
                                   "COM108,COM109,COM110,COM111,COM112,";

void ThirteenPortsThenTwo(FakeDiscovery &fake, const char *next, const char *last)
{
    for (int n = 100; n < 113; ++n)
        NtPort(fake, Numbered("i", n), Numbered("COM", n));
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

class ComPortTable : public ::testing::TestWithParam<Row>
{
};

TEST_P(ComPortTable, GivesTheResultAndWritesNothingElse)
{
    const Row &row = GetParam();
    for (unsigned char fill : {0x00, 0xff}) {
        FakeDiscovery fake;
        row.setup(fake);
        // Exactly the receiver's 100 bytes on the heap: AddressSanitizer sees
        // a write past them.
        std::unique_ptr<char[]> list(new char[kReceiverBuffer]);
        std::memset(list.get(), fill, kReceiverBuffer);
        int count;
        std::memset(&count, fill, sizeof count);
        int result = ComPortForFamily(fake, row.family, kVendor, kProduct, &count, list.get());
        ExpectAnswer(fill, result, std::string(list.get(), kReceiverBuffer), count, row.result,
                     row.list, row.count);
        EXPECT_EQ(std::vector<std::string>{}, fake.Finish());
    }
}

const Row kNtRows[] = {
    {"FreePortsInEnumerationOrderInstanceNamesWhole", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "5&2c3a0f9&0&1", "COM3");
         NtPort(f, "a,b", "COM7"); // commas in a name are no separator
         NtPort(f, ",", "COM4");
     },
     0, Text("COM3,COM7,COM4,"), 3},
    {"Nt5FamilySearchesTheSameWay", 2000, [](FakeDiscovery &f) { NtPort(f, "A", "COM3"); }, 0,
     Text("COM3,"), 1},
    {"VendorKeyThatWillNotOpenGivesItsPath", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, "A", "COM3");
         f.Key(kNtKey).openAnswer = ERROR_ACCESS_DENIED;
     },
     4, Text(kNtKeyAsReported), kUnchanged},
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
         f.Port("COM5").configSize = 600; // a larger configuration: asked again
         NtPort(f, "D", "COM6");
         f.Port("COM6").configSize = 4096; // the largest believed, as by SetPort
         NtPort(f, "E", "COM7");
         f.Port("COM7").configSize = 4097; // not believed
         NtPort(f, "F", "COM8");
         f.Port("COM8").inUse = true;
     },
     0, Text("COM5,COM6,"), 2},
    {"InstancesWithoutAUsablePortNameAreSkipped", 2007,
     [](FakeDiscovery &f) {
         f.Instance(kNtKey, "0"); // no "Device Parameters"
         NtPort(f, "1", "COM6");
         f.Key(kNtKey + "\\1\\Device Parameters").openAnswer = ERROR_ACCESS_DENIED;
         NtPort(f, "A", "COM12345678"); // 11 characters: the longest that fits
         NtPort(f, "B", "COM123456789");
         NtPort(f, "C", "CO,M3");
         NtPort(f, "D", "");
         // 16 bytes without a NUL: the field holds no terminated name.
         NtPort(f, "E", "COM3").bytes = "COM3XXXXXXXXXXXX";
         NtInstance(f, "F", "COM0123456789ABCDEF"); // too long for the field
         NtPort(f, "G", "COM5").answer = ERROR_ACCESS_DENIED;
         // No NUL stored, but shorter than the field; the call's stray bytes
         // after what it reports are not part of the name.
         NtPort(f, "H", "COM4") = {"COM4", kAsWindows, "1"};
     },
     0, Text("COM12345678,COM4,"), 2},
    {"OverlongNamesAreSkippedAndAnErrorEndsTheCollection", 2007,
     [](FakeDiscovery &f) {
         NtPort(f, std::string(99, 'n'), "COM3"); // the longest name: kept
         NtPort(f, std::string(100, 'n'), "COM4");
         NtPort(f, std::string(255, 'n'), "COM5");
         // Claims success for 100 characters without a NUL.
         NtPort(f, std::string(100, 'x'), "COM7");
         f.Key(kNtKey).subkeys.back().answer = ERROR_SUCCESS;
         NtPort(f, "B", "COM6");
         NtPort(f, "C", "COM8");
         f.Key(kNtKey).subkeys.back().answer = ERROR_ACCESS_DENIED;
         NtPort(f, "D", "COM9");
     },
     0, Text("COM3,COM6,"), 2},
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
             NtInstance(f, Numbered("5&2c3a0f9&0&", socket), Numbered("COM", 100 + socket));
         NtPort(f, "5&2c3a0f9&0&64", "COM9");
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

const Row kOtherRows[] = {
    {"EnumKeyMissing", 98, [](FakeDiscovery &) {}, 1, expected::kMsg98KeyMissing, kUnchanged},
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
         // Too long for its buffer: cannot be read either.
         W98Port(f, "0007", (kParentOfOurs + std::string(100, 'x')).c_str(), "COM10");
     },
     0, Text("COM3,COM6,COM7,COM8,COM10,"), 5},
    {"ShortParentDevNodeNeverMatches", 98,
     [](FakeDiscovery &f) {
         // 20 characters, then the call's stray bytes that would complete it.
         W98Port(f, "0000", nullptr, "COM3");
         f.Key(k98Key + "\\0000").values["ParentDevNode"] = {"USB\\VID_1A2B&PID_00F", kAsWindows,
                                                             "F\\6&11d1ab8&0&2"};
         W98Port(f, "0001", "USB\\VID_1A2B&PID_00F", "COM4");
     },
     8, expected::kMsg98NoPort, 0},
    {"UnknownWindowsLooksNoFurther", 0, [](FakeDiscovery &f) { NtPort(f, "A", "COM3"); }, 6,
     expected::kMsgOsUnknown, kUnchanged},
    {"FamilyCodeOutsideTheFourIsAnUnknownError", 2008,
     [](FakeDiscovery &f) { NtPort(f, "A", "COM3"); }, 7, expected::kMsgUnknownError, kUnchanged},
};

std::string RowName(const ::testing::TestParamInfo<Row> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(NtFamily, ComPortTable, ::testing::ValuesIn(kNtRows), RowName);
INSTANTIATE_TEST_SUITE_P(Others, ComPortTable, ::testing::ValuesIn(kOtherRows), RowName);

TEST(ComPort, IdTextsAreFourLowerCaseHexDigitsAtLeast)
{
    struct {
        int vendorId, productId;
        const char *keyPath;
    } const rows[] = {
        {0x5, 0xff, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0005&Pid_00ff"},
        {0xffff, 0x0, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_ffff&Pid_0000"},
        {0x12345, 0x1ABCD, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_12345&Pid_1abcd"},
        {-1, 0xff, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_ffffffff&Pid_00ff"},
    };
    for (const auto &row : rows) {
        FakeDiscovery fake;
        char list[kReceiverBuffer];
        int count = 7;
        EXPECT_EQ(4, ComPortForFamily(fake, 2007, row.vendorId, row.productId, &count, list));
        EXPECT_STREQ(row.keyPath, list);
    }
}

} // namespace
} // namespace vetrolink

// ComPort's NT-family search for real: registry fixtures that each test
// creates and removes, and pty-backed ports (tools/serialdevice): COM10 to
// COM12 free, COM15 a link to nothing, COM16 a link to something that is
// not a terminal, COM19 not there at all.
#include <gtest/gtest.h>

#include "discovery_expected.h"
#include "discovery_wine_support.h"

namespace discoverytest
{
namespace
{

using winetest::ScopedRegistryKey;

// An instance whose "Device Parameters" name a port.
void AddInstance(const ScopedRegistryKey &key, const std::string &instance, const char *portName)
{
    key.SetString(instance + "\\Device Parameters", "PortName", portName);
}

TEST(NtFamily, ListsFreePortsInEnumerationOrder)
{
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, NtEnumKey(0x1a01));
    AddInstance(key, "5&2c3a0f9&0&1", "COM10");
    AddInstance(key, "5&2c3a0f9&0&2", "COM11");
    ExpectComPortEitherFill(nullptr, 0x1a01, 0, Text("COM10,COM11,"), 2);
}

TEST(NtFamily, SkipsAnInstanceWithoutDeviceParameters)
{
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, NtEnumKey(0x1a02));
    key.CreateSubKey("5&1b2c3d4&0&1");
    key.SetString("5&1b2c3d4&0&1", "PortName", "COM11"); // not where the search looks
    AddInstance(key, "5&1b2c3d4&0&2", "COM12");
    ExpectComPortEitherFill(nullptr, 0x1a02, 0, Text("COM12,"), 1);
}

TEST(NtFamily, PortsThatFailTheProbeLeaveNoTrace)
{
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, NtEnumKey(0x1a03));
    AddInstance(key, "a", "COM15"); // unplugged: the link points at nothing
    AddInstance(key, "b", "COM16"); // opens, but reports no configuration
    AddInstance(key, "c", "COM19"); // no such port
    AddInstance(key, "d", "COM10");
    ExpectComPortEitherFill(nullptr, 0x1a03, 0, Text("COM10,"), 1);
}

TEST(NtFamily, MissingVendorKeyGivesThePathTried)
{
    ExpectComPortEitherFill(nullptr, 0x1a04, 4,
                            Text("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1a04&Pid_00ff"),
                            kUnchanged);
}

TEST(NtFamily, NoUsablePort)
{
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, NtEnumKey(0x1a05));
    ExpectComPortEitherFill(nullptr, 0x1a05, 5, expected::kMsgNtNoPort, 0);
    AddInstance(key, "5&2c3a0f9&0&1", "COM15");
    ExpectComPortEitherFill(nullptr, 0x1a05, 5, expected::kMsgNtNoPort, 0);
}

TEST(NtFamily, NtFiveSearchesTheSameWay)
{
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, NtEnumKey(0x1a06));
    AddInstance(key, "5&2c3a0f9&0&1", "COM11");
    ExpectComPortEitherFill("winxp", 0x1a06, 0, Text("COM11,"), 1);
}

// Told 10.0 through its manifest, the program gets OS family 0 from the
// library, and ComPort looks no further.
TEST(UnknownWindows, Windows10GivesResultSix)
{
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, NtEnumKey(0x1a07));
    AddInstance(key, "5&2c3a0f9&0&1", "COM10");
    for (unsigned char fill : {0x00, 0xff})
        ExpectComPort(RunComPort("win10", 0x1a07, fill, "comport_probe_win10.exe"), fill, 6,
                      expected::kMsgOsUnknown, kUnchanged);
}

} // namespace
} // namespace discoverytest

// ComPort's 98-family search for real, in Wine's win98 mode, on the fixed
// key HKLM\Enum\USB\ZELTRAUSBCOMM (one test at a time holds it). Ports:
// COM13 and COM14 free, COM19 not there.
#include <gtest/gtest.h>

#include "discovery_expected.h"
#include "discovery_wine_support.h"

namespace discoverytest
{
namespace
{

using winetest::ScopedRegistryKey;

const char kEnumKey[] = "Enum\\USB\\ZELTRAUSBCOMM";

void AddInstance(const ScopedRegistryKey &key, const std::string &instance, const char *parent,
                 const char *portName)
{
    if (parent) key.SetString(instance, "ParentDevNode", parent);
    key.SetString(instance, "PortName", portName);
}

TEST(Family98, MissingEnumeratorKey)
{
    ExpectComPortEitherFill("win98", 0x1a10, 1, expected::kMsg98KeyMissing, kUnchanged);
}

TEST(Family98, ParentDevNodeDecidesWhichInstancesCount)
{
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, kEnumKey);
    AddInstance(key, "0000", "USB\\VID_1A11&PID_00FF\\6&11D1AB8&0&2", "COM13"); // upper case
    AddInstance(key, "0001", "USB\\VID_1A11&PID_00FE\\6&11D1AB8&0&3", "COM14"); // other product
    AddInstance(key, "0002", nullptr, "COM14");                                 // cannot be read
    ExpectComPortEitherFill("win98", 0x1a11, 0, Text("COM13,COM14,"), 2);
}

TEST(Family98, NoUsablePort)
{
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, kEnumKey);
    ExpectComPortEitherFill("win98", 0x1a12, 8, expected::kMsg98NoPort, 0);
    AddInstance(key, "0000", "USB\\VID_1A12&PID_00FF\\6&11D1AB8&0&2", "COM19");
    AddInstance(key, "0001", "USB\\VID_1A13&PID_00FF\\6&11D1AB8&0&3", "COM13");
    ExpectComPortEitherFill("win98", 0x1a12, 8, expected::kMsg98NoPort, 0);
}

} // namespace
} // namespace discoverytest

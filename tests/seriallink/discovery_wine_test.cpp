// ComPort for real under Wine, as a program that binds Vetrolink.dll by name
// sees it (comport_probe.exe): registry keys that each test creates and
// removes, and pty-backed ports (tools/serialdevice): COM10 to COM12 free,
// COM15 a link to nothing, COM16 a link to something that is not a
// terminal, COM19 not there at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "discovery_expect.h"
#include "wine_support.h"

namespace discoverytest
{
namespace
{

using winetest::ScopedRegistryKey;

constexpr int kProduct = 0xff;
constexpr size_t kProbedBytes = 116; // the 100-byte buffer and 16 guard bytes

// One call of ComPort by comport_probe (or another build of it) in Wine's
// Windows version `mode` (nullptr: the prefix's own), buffers pre-filled
// with 0x00 and then 0xff.
void ExpectComPort(const char *mode, int vendorId, int result, const std::string &text, int count,
                   const char *probe = "comport_probe.exe")
{
    for (unsigned char fill : {0x00, 0xff}) {
        char args[64];
        std::snprintf(args, sizeof args, "%d %d %d", vendorId, kProduct, fill);
        const std::string path = winetest::ProgramDir() + "\\" + probe;
        winetest::RunResult run = mode ? winetest::RunInWindowsMode(path, mode, args)
                                       : winetest::Run("\"" + path + "\" " + args);
        int gotResult = -1, gotCount = 0;
        char hex[2 * kProbedBytes + 1] = "";
        ASSERT_EQ(3, std::sscanf(run.output.c_str(), "result=%d count=%d bytes=%232s", &gotResult,
                                 &gotCount, hex))
            << run.output;
        ASSERT_EQ(2 * kProbedBytes, std::string(hex).size()) << run.output;
        std::string bytes;
        for (size_t i = 0; i < kProbedBytes; ++i) {
            unsigned byte = 0;
            std::sscanf(hex + 2 * i, "%2x", &byte);
            bytes.push_back(static_cast<char>(byte));
        }
        ExpectAnswer(fill, gotResult, bytes, gotCount, result, text, count);
    }
}

// HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_xxxx&Pid_00ff, written in upper
// case: the registry finds keys whatever their case.
std::string NtEnumKey(int vendorId)
{
    char path[80];
    std::snprintf(path, sizeof path, "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_%04X&PID_%04X",
                  vendorId, kProduct);
    return path;
}

// An NT-family instance whose "Device Parameters" name a port.
void AddNtInstance(const ScopedRegistryKey &key, const std::string &instance, const char *port)
{
    key.SetString(instance + "\\Device Parameters", "PortName", port);
}

TEST(NtFamily, ListsFreePortsInEnumerationOrderAndNothingElse)
{
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, NtEnumKey(0x1a01));
    key.SetString("5&1b2c3d4&0&0", "PortName", "COM12"); // not where the search looks
    AddNtInstance(key, "5&1b2c3d4&0&1", "COM15");        // unplugged: the link points at nothing
    AddNtInstance(key, "5&1b2c3d4&0&2", "COM10");
    AddNtInstance(key, "5&1b2c3d4&0&3", "COM16"); // opens, but reports no configuration
    AddNtInstance(key, "5&1b2c3d4&0&4", "COM19"); // no such port
    AddNtInstance(key, "5&1b2c3d4&0&5", "COM11");
    ExpectComPort(nullptr, 0x1a01, 0, Text("COM10,COM11,"), 2);
}

TEST(NtFamily, MissingVendorKeyOrNoUsablePort)
{
    ExpectComPort(nullptr, 0x1a02, 4,
                  Text("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1a02&Pid_00ff"), kUnchanged);
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, NtEnumKey(0x1a02));
    AddNtInstance(key, "5&2c3a0f9&0&1", "COM15");
    ExpectComPort(nullptr, 0x1a02, 5, expected::kMsgNtNoPort, 0);
}

// Told 10.0 through its manifest, the program gets OS family 0 from the
// library, and ComPort looks no further.
TEST(UnknownWindows, Windows10GivesResultSix)
{
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, NtEnumKey(0x1a03));
    AddNtInstance(key, "5&2c3a0f9&0&1", "COM10");
    ExpectComPort("win10", 0x1a03, 6, expected::kMsgOsUnknown, kUnchanged,
                  "comport_probe_win10.exe");
}

// The 98-family search on the one fixed key (the ctest lock zeltra98).
TEST(Family98, ResultsOneEightAndZero)
{
    ExpectComPort("win98", 0x1a10, 1, expected::kMsg98KeyMissing, kUnchanged);
    ScopedRegistryKey key(HKEY_LOCAL_MACHINE, "Enum\\USB\\ZELTRAUSBCOMM");
    auto add = [&key](const char *instance, const char *parent, const char *port) {
        if (parent) key.SetString(instance, "ParentDevNode", parent);
        key.SetString(instance, "PortName", port);
    };
    add("0000", "USB\\VID_1A11&PID_00FF\\6&11D1AB8&0&2", "COM10"); // upper-case digits
    add("0001", "USB\\VID_1A11&PID_00FE\\6&11D1AB8&0&3", "COM11"); // other product
    add("0002", "USB\\VID_1A12&PID_00FF\\6&11D1AB8&0&4", "COM19"); // no such port
    ExpectComPort("win98", 0x1a12, 8, expected::kMsg98NoPort, 0);
    add("0003", nullptr, "COM11"); // a parent that cannot be read keeps the instance
    ExpectComPort("win98", 0x1a11, 0, Text("COM10,COM11,"), 2);
}

} // namespace
} // namespace discoverytest

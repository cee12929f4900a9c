#include "comm_port.h"

#include <cstring>

namespace vetrolink
{
namespace
{
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr size_t kPrefixLength = sizeof kDevicePrefix - 1;
static_assert(kPrefixLength + kMaxPortNameLength + 1 == kDevicePathSize,
              "the longest name and its NUL fill the path buffer");
} // namespace

bool BuildDevicePath(const char *portName, char (&path)[kDevicePathSize])
{
    size_t length = strnlen(portName, kMaxPortNameLength + 1);
    if (length > kMaxPortNameLength) return false;
    std::memcpy(path, kDevicePrefix, kPrefixLength);
    std::memcpy(path + kPrefixLength, portName, length);
    path[kPrefixLength + length] = '\0';
    return true;
}

BOOL QueryCommConfig(const Win32Calls &win, HANDLE port, unsigned char *buffer, DWORD capacity,
                     DWORD *size)
{
    auto *config = reinterpret_cast<COMMCONFIG *>(buffer);
    std::memset(buffer, 0, capacity);
    *size = sizeof(COMMCONFIG);
    BOOL reported = win.GetCommConfig(port, config, size);
    if (!reported && *size > sizeof(COMMCONFIG) && *size <= capacity) {
        std::memset(buffer, 0, capacity);
        reported = win.GetCommConfig(port, config, size);
    }
    return reported;
}

} // namespace vetrolink

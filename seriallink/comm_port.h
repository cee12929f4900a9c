// What opening a COM port needs in both the port probe and SetPort: the
// device path and the port's configuration record.
#ifndef VETROLINK_COMM_PORT_H
#define VETROLINK_COMM_PORT_H

#include <cstddef>

#include "win32_calls.h"

namespace vetrolink
{

// "\\.\" and the port name in 16 bytes: names of up to 11 characters.
constexpr size_t kDevicePathSize = 16;
constexpr size_t kMaxPortNameLength = 11;

// A driver may keep provider data after its COMMCONFIG. Larger records than
// this are not believed, by the port probe and SetPort alike: a port that
// ComPort lists opens with the same driver.
constexpr DWORD kLargestCommConfig = 4096;

// False, with nothing written, when the name is too long for the path.
bool BuildDevicePath(const char *portName, char (&path)[kDevicePathSize]);

// GetCommConfig into a zeroed buffer of `capacity` bytes (at least one
// COMMCONFIG). A driver whose record is larger than one COMMCONFIG fails the
// first ask and reports the size it needs; it is asked again when that fits.
// Returns the last answer; *size holds what the driver left in it.
BOOL QueryCommConfig(const Win32Calls &win, HANDLE port, unsigned char *buffer, DWORD capacity,
                     DWORD *size);

} // namespace vetrolink

#endif

// The library's logic, apart from Windows: each export is one of these
// functions called with the real Win32 calls.
#ifndef VETROLINK_LOGIC_H
#define VETROLINK_LOGIC_H

#include "win32_calls.h"

namespace vetrolink
{

// OS family codes.
constexpr int kFamilyOther = 0;
constexpr int kFamily98 = 98;
constexpr int kFamilyNt5 = 2000;
constexpr int kFamilyNt6 = 2007;

int WindowsVer(const Win32Calls &win);
int AskVer(char *versionText);

// The device's COM ports (see Vetrolink.h); the OS family comes from WindowsVer.
int ComPort(const Win32Calls &win, int vendorId, int productId, int *portCount, char *portList);

} // namespace vetrolink

#endif

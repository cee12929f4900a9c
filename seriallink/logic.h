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
// ComPort for an OS family code already known.
int ComPortForFamily(const Win32Calls &win, int family, int vendorId, int productId, int *portCount,
                     char *portList);

// Port operations (see Vetrolink.h). Result codes:
constexpr int kPortOk = 0;
constexpr int kSetPortCannotOpen = 1;  // no such port, or in use; nothing is open
constexpr int kSetPortRefused = 2;     // the driver refused the line settings
constexpr int kSetPortPurgeFailed = 3; // the handle is stored; the caller closes it
constexpr int kReadNothingWaiting = 1;
constexpr int kReadFailed = 2;
constexpr int kWriteTooLong = 1;
constexpr int kWriteFailed = 2;
constexpr int kClearFailed = 1;
constexpr int kClearUnknownMode = 2;
constexpr int kCloseFailed = 1;

constexpr DWORD kMaxWriteCount = 64;

int SetPort(const Win32Calls &win, DWORD baudRate, int dataBits, int parity, int stopBits,
            HANDLE *port, const char *portName);
int SetPortOver(const Win32Calls &win, DWORD baudRate, int dataBits, int parity, int stopBits,
                HANDLE *port, const char *portName);
int ReadData(const Win32Calls &win, HANDLE port, unsigned char *byte);
int WriteData(const Win32Calls &win, HANDLE port, const unsigned char *data, DWORD count,
              DWORD *written);
int ClearBuffer(const Win32Calls &win, HANDLE port, int mode);
int CloseCom(const Win32Calls &win, HANDLE port);

} // namespace vetrolink

#endif

// Port operations: open a COM port with the fixed line settings, read single
// bytes, write short blocks, purge and close.
#include <cstddef>
#include <cstring>

#include "comm_port.h"
#include "logic.h"

namespace vetrolink
{
namespace
{

constexpr DWORD kPortOpenFlags = 0;
constexpr DWORD kPortOverlappedFlags = FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL;

void SetReadsToReturnAtOnce(const Win32Calls &win, HANDLE port)
{
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    win.SetCommTimeouts(port, &timeouts);
}

// The port's current configuration. Returns the number of bytes of buffer
// to hand back to the driver, never more than the buffer holds; 0 when the
// driver needs more than that. A failed query is not an error by itself:
// the driver judges the record when it is set.
DWORD ReadConfig(const Win32Calls &win, HANDLE port, unsigned char *buffer)
{
    DWORD size = 0;
    if (!QueryCommConfig(win, port, buffer, kLargestCommConfig, &size) && size > kLargestCommConfig)
        return 0;
    return size < kLargestCommConfig ? size : kLargestCommConfig;
}

void SetLine(DCB &dcb, DWORD baudRate, int dataBits, int parity, int stopBits)
{
    dcb.BaudRate = baudRate;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    dcb.ErrorChar = 0;
    dcb.XonLim = 1024;
    dcb.XoffLim = 512;
    dcb.ByteSize = static_cast<BYTE>(dataBits);

    // The library's own numbering: 1 is even and 2 is odd. Other selectors
    // keep the port's setting.
    switch (parity) {
    case 0:
        dcb.Parity = NOPARITY;
        break;
    case 1:
        dcb.Parity = EVENPARITY;
        break;
    case 2:
        dcb.Parity = ODDPARITY;
        break;
    default:
        break;
    }
    switch (stopBits) {
    case 0:
        dcb.StopBits = ONESTOPBIT;
        break;
    case 1:
        dcb.StopBits = ONE5STOPBITS;
        break;
    case 2:
        dcb.StopBits = TWOSTOPBITS;
        break;
    default:
        break;
    }
}

int OpenPort(const Win32Calls &win, DWORD flagsAndAttributes, DWORD baudRate, int dataBits,
             int parity, int stopBits, HANDLE *port, const char *portName)
{
    char path[kDevicePathSize];
    if (!BuildDevicePath(portName, path)) return kSetPortCannotOpen;

    HANDLE handle = win.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, flagsAndAttributes);
    if (handle == INVALID_HANDLE_VALUE) return kSetPortCannotOpen;

    SetReadsToReturnAtOnce(win, handle);

    alignas(COMMCONFIG) unsigned char buffer[kLargestCommConfig];
    DWORD size = ReadConfig(win, handle, buffer);
    auto *config = reinterpret_cast<COMMCONFIG *>(buffer);
    SetLine(config->dcb, baudRate, dataBits, parity, stopBits);
    if (size == 0 || !win.SetCommConfig(handle, config, size)) {
        // The caller never sees this handle: left open it would hold the
        // port for the life of the process.
        win.CloseHandle(handle);
        return kSetPortRefused;
    }

    *port = handle;
    if (!win.PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR)) return kSetPortPurgeFailed;
    return kPortOk;
}

} // namespace

int SetPort(const Win32Calls &win, DWORD baudRate, int dataBits, int parity, int stopBits,
            HANDLE *port, const char *portName)
{
    return OpenPort(win, kPortOpenFlags, baudRate, dataBits, parity, stopBits, port, portName);
}

int SetPortOver(const Win32Calls &win, DWORD baudRate, int dataBits, int parity, int stopBits,
                HANDLE *port, const char *portName)
{
    return OpenPort(win, kPortOverlappedFlags, baudRate, dataBits, parity, stopBits, port,
                    portName);
}

int ReadData(const Win32Calls &win, HANDLE port, unsigned char *byte)
{
    DWORD count = 0;
    if (!win.ReadFile(port, byte, 1, &count)) return kReadFailed;
    return count == 1 ? kPortOk : kReadNothingWaiting;
}

int WriteData(const Win32Calls &win, HANDLE port, const unsigned char *data, DWORD count,
              DWORD *written)
{
    if (count > kMaxWriteCount) return kWriteTooLong;
    if (!win.WriteFile(port, data, count, written)) return kWriteFailed;
    return kPortOk;
}

int ClearBuffer(const Win32Calls &win, HANDLE port, int mode)
{
    DWORD flags;
    switch (mode) {
    case 0:
        flags = PURGE_TXCLEAR | PURGE_RXCLEAR;
        break;
    case 1:
        flags = PURGE_RXCLEAR;
        break;
    case 2:
        flags = PURGE_TXCLEAR;
        break;
    default:
        return kClearUnknownMode;
    }
    return win.PurgeComm(port, flags) ? kPortOk : kClearFailed;
}

int CloseCom(const Win32Calls &win, HANDLE port)
{
    return win.CloseHandle(port) ? kPortOk : kCloseFailed;
}

} // namespace vetrolink

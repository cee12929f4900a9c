/*
 * Vetrolink.dll: the serial link to the USB measuring device.
 *
 * Every function returns an int; for the status results 0 means success.
 * No pointer argument is checked for NULL, and buffers carry no capacity:
 * each buffer must be as large as stated below. Text is 8-bit (ANSI); the
 * messages that ComPort writes are code page 932.
 *
 * Callers that bind by name (LoadLibraryA + GetProcAddress) use the *Proc
 * types below. In 32-bit builds every plain export is __stdcall (WINAPI) and
 * exported without decoration, so VBA and VB6 can Declare it.
 */
#ifndef VETROLINK_H
#define VETROLINK_H

#if defined(_WIN32)
#    ifndef WIN32_LEAN_AND_MEAN
#        define WIN32_LEAN_AND_MEAN
#    endif
#    include <windows.h>
/* winspool.h maps SetPort to SetPortA; the export here is a different thing. */
#    undef SetPort
#    define VETROLINK_CALL __stdcall
#else
/* Native builds of the logic and its tests, on the build machine. */
#    include "win32_types.h"
#    define VETROLINK_CALL
#endif

#if defined(_WIN32) && defined(VETROLINK_BUILDING_DLL)
#    define VETROLINK_CXX_API __declspec(dllexport)
#elif defined(_WIN32)
#    define VETROLINK_CXX_API __declspec(dllimport)
#else
#    define VETROLINK_CXX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* OS family: 2000 (NT 5.x), 2007 (NT 6.x), 98 (Windows 95/98/Me), 0 other. */
int VETROLINK_CALL WindowsVer(void);

/* Writes "Ver5.1" and its NUL: 7 bytes. Always returns 0. */
int VETROLINK_CALL AskVer(char *versionText);

/* The device's COM ports. On success (0) portList holds every port name
 * followed by a comma ("COM3,COM7,") and *portCount their number; on a
 * failure it holds a message or the registry key path that was tried.
 * portList must hold 100 bytes: a port name that would not fit within 100
 * bytes, NUL included, is left out of the list and not counted.
 * Results: 0 ports found, 1 98-family enumerator key missing, 4 NT-family
 * vendor/product key missing (portList holds that key path), 5 NT-family
 * no usable port, 6 OS not determined, 7 unexpected OS code, 8 98-family no
 * usable port. */
int VETROLINK_CALL ComPort(int vendorId, int productId, int *portCount, char *portList);

/* Opens "\\.\" + portName exclusively, sets the line and read time-outs
 * that make every read return at once, purges both buffers.
 * The line: baudRate as given, the low 8 bits of dataBits, parity checking
 * on, DTR and RTS on, no handshaking, null bytes delivered; parity: 0 none,
 * 1 even, 2 odd; stopBits: 0 one, 1 one and a half, 2 two; any other
 * selector keeps the port's own setting. Everything else stays as the port
 * reported it.
 * Results: 0 open (*port holds the handle, the caller owns it and closes
 * it); 1 cannot open: no such port, in use, or a name longer than 11
 * characters; 2 the driver refused the line (the library has closed the
 * port again); 3 purge failed (*port holds the handle: close it). On 1 and
 * 2 *port is untouched. */
int VETROLINK_CALL SetPort(DWORD baudRate, int dataBits, int parity, int stopBits, HANDLE *port,
                           const char *portName);

/* SetPort with the handle opened for overlapped I/O (FILE_FLAG_OVERLAPPED).
 * ReadData and WriteData pass no OVERLAPPED record, which such a handle
 * needs: under Wine both return 2 at once on it (last error 87, nothing
 * transferred), and on Windows their results cannot be relied on. Callers
 * of SetPortOver do their own ReadFile/WriteFile with an OVERLAPPED record;
 * ClearBuffer and CloseCom work on the handle as on any other. */
int VETROLINK_CALL SetPortOver(DWORD baudRate, int dataBits, int parity, int stopBits, HANDLE *port,
                               const char *portName);

/* One byte: 0 read, 1 nothing waiting (buffer untouched), 2 read failed. */
int VETROLINK_CALL ReadData(HANDLE port, unsigned char *byte);

/* At most 64 bytes: 0 written (*written as Windows reports it, which may be
 * less than count), 1 more than 64 asked for (nothing written, *written
 * untouched), 2 write failed. A count of 0 is passed on to Windows. */
int VETROLINK_CALL WriteData(HANDLE port, const unsigned char *data, DWORD count, DWORD *written);

/* mode 0 both buffers, 1 receive, 2 transmit: 0 purged, 1 purge failed,
 * 2 unknown mode (nothing purged). */
int VETROLINK_CALL ClearBuffer(HANDLE port, int mode);

/* 0 closed, 1 CloseHandle failed. */
int VETROLINK_CALL CloseCom(HANDLE port);

typedef int(VETROLINK_CALL *WindowsVerProc)(void);
typedef int(VETROLINK_CALL *AskVerProc)(char *versionText);
typedef int(VETROLINK_CALL *ComPortProc)(int vendorId, int productId, int *portCount,
                                         char *portList);
typedef int(VETROLINK_CALL *SetPortProc)(DWORD baudRate, int dataBits, int parity, int stopBits,
                                         HANDLE *port, const char *portName);
typedef SetPortProc SetPortOverProc;
typedef int(VETROLINK_CALL *ReadDataProc)(HANDLE port, unsigned char *byte);
typedef int(VETROLINK_CALL *WriteDataProc)(HANDLE port, const unsigned char *data, DWORD count,
                                           DWORD *written);
typedef int(VETROLINK_CALL *ClearBufferProc)(HANDLE port, int mode);
typedef int(VETROLINK_CALL *CloseComProc)(HANDLE port);

#ifdef __cplusplus
}

/* Exported under their C++ names; no part of the system uses them. */
VETROLINK_CXX_API int fnVetrolink(void);
extern VETROLINK_CXX_API int nVetrolink;

class VETROLINK_CXX_API CVetrolink
{
public:
    CVetrolink();
    CVetrolink &operator=(const CVetrolink &);
};
#endif

#endif

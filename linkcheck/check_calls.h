// The check program's one seam to the outside: the console, the library
// bound by file name, the files and registry keys it reads and the port it
// listens on. The program passes the real calls (check_calls.cpp); the
// native tests pass fakes.
//
// Text crosses the seam as UTF-8: paths come from the wide-character calls
// where Windows has them (NT), so any folder name arrives whole; on the 98
// family they come from the ANSI calls, and a character the ANSI code page
// lacks arrives as "?".
#ifndef LINKCHECK_CHECK_CALLS_H
#define LINKCHECK_CHECK_CALLS_H

#include <ctime>

#include "Vetrolink.h"

namespace linkcheck
{

class CheckCalls
{
public:
    // One line for the person at the console, without its line end.
    virtual void PrintLine(const char *text) const = 0;
    // Whether the console (or the file the output goes to) can show every
    // character of the text in its code page.
    virtual bool CanShow(const char *text) const = 0;
    // Code page 932 bytes as UTF-8; false when Windows has no code page 932.
    virtual bool FromCodePage932(const char *bytes, char *text, DWORD size) const = 0;
    // Whether the console is this program's alone (it was started by a
    // double-click and its window closes when it ends), and the wait for
    // Enter that keeps it open.
    virtual bool ConsoleOfItsOwn() const = 0;
    virtual void WaitForEnter() const = 0;

    // The library, and the file it came from.
    virtual HMODULE LoadLibraryA(const char *fileName) const = 0;
    virtual FARPROC GetProcAddress(HMODULE library, const char *exportName) const = 0;
    // module nullptr: this program's own file. 0 when it fails.
    virtual DWORD ModulePath(HMODULE module, char *path, DWORD size) const = 0;
    // Where Windows' search for a DLL named without a folder finds the file: 0 nowhere.
    virtual DWORD SearchDllPath(const char *fileName, char *path, DWORD size) const = 0;
    virtual DWORD GetLastError() const = 0;
    virtual void SetLastError(DWORD error) const = 0;
    // The first bytes of a file and its whole size, shared with any other
    // reader or writer: FALSE when it cannot be opened or read.
    virtual BOOL ReadFileStart(const char *path, void *buffer, DWORD size, DWORD *read,
                               DWORD *fileSize) const = 0;
    // A loaded module's version resource: its bytes, or nullptr without one.
    virtual const void *VersionResource(HMODULE module, DWORD *size) const = 0;

    // The registry, read only (KEY_READ).
    virtual LONG RegOpenKeyExA(HKEY parent, const char *path, HKEY *key) const = 0;
    virtual LONG RegEnumKeyExA(HKEY key, DWORD index, char *name, DWORD *size) const = 0;
    virtual LONG RegQueryValueExA(HKEY key, const char *name, char *data, DWORD *size) const = 0;
    virtual LONG RegCloseKey(HKEY key) const = 0;
    // A device name Windows has defined now ("COM3"): 0 when it has none,
    // or cannot say (the 98 family).
    virtual DWORD QueryDosDeviceA(const char *name, char *target, DWORD size) const = 0;
    // A port opened as the library opens it: read and write, not shared.
    virtual HANDLE OpenPort(const char *devicePath) const = 0;

    // The port handle that the library's SetPort handed over.
    virtual BOOL PurgeComm(HANDLE port, DWORD flags) const = 0;
    virtual BOOL ReadFile(HANDLE port, void *buffer, DWORD count, DWORD *transferred) const = 0;
    // The line errors (CE_ flags) since the last call.
    virtual BOOL ClearCommError(HANDLE port, DWORD *errors) const = 0;
    virtual BOOL CloseHandle(HANDLE port) const = 0;

    // Milliseconds since Windows started, a pause between empty reads, and
    // the calendar clock in whole seconds that the receiver times a block by.
    virtual DWORD GetTickCount() const = 0;
    virtual void Sleep(DWORD milliseconds) const = 0;
    virtual std::time_t Time() const = 0;

protected:
    ~CheckCalls() = default;
};

#if defined(_WIN32)
const CheckCalls &RealCalls();
#endif

} // namespace linkcheck

#endif

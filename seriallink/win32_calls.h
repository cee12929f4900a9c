// The library's one seam to Windows: every Win32 call the logic makes.
// The DLL passes the real calls (win32_calls.cpp); tests pass fakes, so the
// logic also runs natively under the sanitizers.
#ifndef VETROLINK_WIN32_CALLS_H
#define VETROLINK_WIN32_CALLS_H

#include "Vetrolink.h"

namespace vetrolink
{

class Win32Calls
{
public:
    // Version query
    virtual BOOL GetVersionExA(OSVERSIONINFOA *info) const = 0;

    // Registry (the device-enumeration tree under HKEY_LOCAL_MACHINE)
    virtual LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access,
                               HKEY *key) const = 0;
    virtual LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD *nameLength) const = 0;
    virtual LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPBYTE data,
                                  DWORD *dataSize) const = 0;
    virtual LONG RegCloseKey(HKEY key) const = 0;

    // COM ports
    virtual HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                               DWORD flagsAndAttributes) const = 0;
    virtual BOOL GetCommConfig(HANDLE port, COMMCONFIG *config, DWORD *size) const = 0;
    virtual BOOL SetCommConfig(HANDLE port, COMMCONFIG *config, DWORD size) const = 0;
    virtual BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts) const = 0;
    virtual BOOL PurgeComm(HANDLE port, DWORD flags) const = 0;
    virtual BOOL ReadFile(HANDLE port, LPVOID buffer, DWORD count, DWORD *transferred) const = 0;
    virtual BOOL WriteFile(HANDLE port, LPCVOID data, DWORD count, DWORD *transferred) const = 0;
    virtual BOOL CloseHandle(HANDLE handle) const = 0;

protected:
    // Never deleted through the seam: the real calls are one constant object.
    ~Win32Calls() = default;
};

#if defined(_WIN32)
// The calls as Windows makes them.
const Win32Calls &RealWin32();
#endif

} // namespace vetrolink

#endif

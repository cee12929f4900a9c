#include "win32_calls.h"

namespace vetrolink
{
namespace
{

// Each call is passed on unchanged; the parameters the logic never varies
// (security attributes, templates, reserved and class arguments) are fixed
// here to what the library always passes.
class RealCalls final : public Win32Calls
{
public:
    BOOL GetVersionExA(OSVERSIONINFOA *info) const override { return ::GetVersionExA(info); }

    LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access,
                       HKEY *key) const override
    {
        return ::RegOpenKeyExA(root, subKey, options, access, key);
    }
    LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD *nameLength) const override
    {
        return ::RegEnumKeyExA(key, index, name, nameLength, nullptr, nullptr, nullptr, nullptr);
    }
    LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPBYTE data, DWORD *dataSize) const override
    {
        return ::RegQueryValueExA(key, valueName, nullptr, nullptr, data, dataSize);
    }
    LONG RegCloseKey(HKEY key) const override { return ::RegCloseKey(key); }

    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                       DWORD flagsAndAttributes) const override
    {
        return ::CreateFileA(path, access, shareMode, nullptr, OPEN_EXISTING, flagsAndAttributes,
                             nullptr);
    }
    BOOL GetCommConfig(HANDLE port, COMMCONFIG *config, DWORD *size) const override
    {
        return ::GetCommConfig(port, config, size);
    }
    BOOL SetCommConfig(HANDLE port, COMMCONFIG *config, DWORD size) const override
    {
        return ::SetCommConfig(port, config, size);
    }
    BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts) const override
    {
        return ::SetCommTimeouts(port, timeouts);
    }
    BOOL PurgeComm(HANDLE port, DWORD flags) const override { return ::PurgeComm(port, flags); }
    BOOL ReadFile(HANDLE port, LPVOID buffer, DWORD count, DWORD *transferred) const override
    {
        return ::ReadFile(port, buffer, count, transferred, nullptr);
    }
    BOOL WriteFile(HANDLE port, LPCVOID data, DWORD count, DWORD *transferred) const override
    {
        return ::WriteFile(port, data, count, transferred, nullptr);
    }
    BOOL CloseHandle(HANDLE handle) const override { return ::CloseHandle(handle); }
};

const RealCalls realCalls;

} // namespace

const Win32Calls &RealWin32() { return realCalls; }

} // namespace vetrolink

// A base for the tests' fakes of the library's Win32 seam: every call that a
// test has not replaced fails the test and fails as Windows would.
#ifndef VETROLINK_TESTS_FAKE_WIN32_H
#define VETROLINK_TESTS_FAKE_WIN32_H

#include <gtest/gtest.h>

#include "win32_calls.h"

namespace vetrolink::testing
{

class FakeWin32 : public Win32Calls
{
public:
    BOOL GetVersionExA(OSVERSIONINFOA *) const override { return Unexpected("GetVersionExA"); }
    LONG RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, HKEY *) const override
    {
        return Unexpected("RegOpenKeyExA") ? 0 : ERROR_FILE_NOT_FOUND;
    }
    LONG RegEnumKeyExA(HKEY, DWORD, LPSTR, DWORD *) const override
    {
        return Unexpected("RegEnumKeyExA") ? 0 : ERROR_NO_MORE_ITEMS;
    }
    LONG RegQueryValueExA(HKEY, LPCSTR, LPBYTE, DWORD *) const override
    {
        return Unexpected("RegQueryValueExA") ? 0 : ERROR_FILE_NOT_FOUND;
    }
    LONG RegCloseKey(HKEY) const override { return Unexpected("RegCloseKey") ? 0 : ERROR_SUCCESS; }
    HANDLE CreateFileA(LPCSTR, DWORD, DWORD, DWORD) const override
    {
        Unexpected("CreateFileA");
        return INVALID_HANDLE_VALUE;
    }
    BOOL GetCommConfig(HANDLE, COMMCONFIG *, DWORD *) const override
    {
        return Unexpected("GetCommConfig");
    }
    BOOL SetCommConfig(HANDLE, COMMCONFIG *, DWORD) const override
    {
        return Unexpected("SetCommConfig");
    }
    BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS *) const override
    {
        return Unexpected("SetCommTimeouts");
    }
    BOOL PurgeComm(HANDLE, DWORD) const override { return Unexpected("PurgeComm"); }
    BOOL ReadFile(HANDLE, LPVOID, DWORD, DWORD *) const override { return Unexpected("ReadFile"); }
    BOOL WriteFile(HANDLE, LPCVOID, DWORD, DWORD *) const override
    {
        return Unexpected("WriteFile");
    }
    BOOL CloseHandle(HANDLE) const override { return Unexpected("CloseHandle"); }

protected:
    static BOOL Unexpected(const char *call)
    {
        ADD_FAILURE() << "unexpected call of " << call;
        return FALSE;
    }
};

} // namespace vetrolink::testing

#endif

// The check program's one seam to the outside: the console, the library
// bound by file name, the files it reads and the port it listens on. The
// program passes the real calls (check_calls.cpp); a native build can pass
// fakes.
#ifndef LINKCHECK_CHECK_CALLS_H
#define LINKCHECK_CHECK_CALLS_H

#include "Vetrolink.h"

namespace linkcheck
{

class CheckCalls
{
public:
    // One line for the person at the console, without its line end.
    virtual void PrintLine(const char *text) const = 0;

    // The library, and the file it came from.
    virtual HMODULE LoadLibraryA(const char *fileName) const = 0;
    virtual FARPROC GetProcAddress(HMODULE library, const char *exportName) const = 0;
    // module nullptr: this program's own file.
    virtual DWORD GetModuleFileNameA(HMODULE module, char *path, DWORD size) const = 0;
    virtual DWORD GetLastError() const = 0;
    virtual void SetLastError(DWORD error) const = 0;
    // The first bytes of a file, shared with any other reader or writer:
    // FALSE when it cannot be opened or read.
    virtual BOOL ReadFileStart(const char *path, void *buffer, DWORD size, DWORD *read) const = 0;
    // A loaded module's version resource: its bytes, or nullptr without one.
    virtual const void *VersionResource(HMODULE module, DWORD *size) const = 0;

    // The port handle that the library's SetPort handed over.
    virtual BOOL PurgeComm(HANDLE port, DWORD flags) const = 0;
    virtual BOOL ReadFile(HANDLE port, void *buffer, DWORD count, DWORD *transferred) const = 0;
    virtual BOOL CloseHandle(HANDLE port) const = 0;

    // Milliseconds since Windows started, and a pause between empty reads.
    virtual DWORD GetTickCount() const = 0;
    virtual void Sleep(DWORD milliseconds) const = 0;

protected:
    ~CheckCalls() = default;
};

#if defined(_WIN32)
const CheckCalls &RealCalls();
#endif

} // namespace linkcheck

#endif

// The receiver's one seam to the outside: the library binding, the port's
// time-outs, reads and purge, the clocks and the pause, the files and the
// shell. The program passes the real calls (receiver_calls.cpp); tests pass
// fakes, so the whole cycle also runs natively with a clock the test moves.
#ifndef OSTREL_RECEIVER_CALLS_H
#define OSTREL_RECEIVER_CALLS_H

#include <ctime>

#include "Vetrolink.h"

#if defined(_WIN32)
#    include <shlobj.h>
#endif

namespace ostrel
{

#if defined(_WIN32)
using ItemIdList = ITEMIDLIST;
#else
struct ItemIdList;
#endif

// An open buffered file stream (a FILE on Windows).
struct Stream;

class ReceiverCalls
{
public:
    // The serial link library, bound by file name at run time.
    virtual HMODULE LoadLibraryA(const char *fileName) const = 0;
    virtual FARPROC GetProcAddress(HMODULE library, const char *exportName) const = 0;
    virtual BOOL FreeLibrary(HMODULE library) const = 0;

    // The port handle that the library's SetPort handed over.
    virtual BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts) const = 0;
    virtual BOOL PurgeComm(HANDLE port, DWORD flags) const = 0;
    virtual BOOL ReadFile(HANDLE port, void *buffer, DWORD count, DWORD *transferred) const = 0;
    virtual BOOL CloseHandle(HANDLE port) const = 0;

    // The calendar clock in whole seconds.
    virtual std::time_t Time() const = 0;
    // Milliseconds since the system started (wrapping after 49.7 days), and
    // a pause that gives the processor to other programs.
    virtual DWORD GetTickCount() const = 0;
    virtual void Sleep(DWORD milliseconds) const = 0;

    // Where the work folder is: the current directory, or the user's
    // application-data folder through the shell.
    virtual DWORD GetCurrentDirectoryA(DWORD size, char *buffer) const = 0;
    virtual LONG SHGetSpecialFolderLocation(int folder, ItemIdList **list) const = 0;
    virtual BOOL SHGetPathFromIDListA(const ItemIdList *list, char *path) const = 0;
    virtual void FreeIdList(ItemIdList *list) const = 0; // through the shell's allocator

    // Files: text-mode streams ("r", "w", "a") that share reading and
    // writing with other processes.
    virtual Stream *OpenFile(const char *path, const char *mode) const = 0; // nullptr: failed
    virtual bool WriteText(Stream *stream, const char *text, size_t length) const = 0;
    virtual bool CloseFile(Stream *stream) const = 0; // false: data may be lost
    virtual BOOL DeleteFileA(const char *path) const = 0;
    virtual BOOL MoveFileA(const char *from, const char *to) const = 0;

protected:
    // Never deleted through the seam: the real calls are one constant object.
    ~ReceiverCalls() = default;
};

#if defined(_WIN32)
// The calls as Windows makes them.
const ReceiverCalls &RealCalls();
#endif

} // namespace ostrel

#endif

// The receiver's calls as Windows makes them.
#include "receiver_calls.h"

#include <share.h>
#include <stdio.h>

namespace ostrel
{
namespace
{

class Win32ReceiverCalls final : public ReceiverCalls
{
public:
    HMODULE LoadLibraryA(const char *fileName) const override { return ::LoadLibraryA(fileName); }
    FARPROC GetProcAddress(HMODULE library, const char *exportName) const override
    {
        return ::GetProcAddress(library, exportName);
    }
    BOOL FreeLibrary(HMODULE library) const override { return ::FreeLibrary(library); }

    BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS *timeouts) const override
    {
        return ::SetCommTimeouts(port, timeouts);
    }
    BOOL PurgeComm(HANDLE port, DWORD flags) const override { return ::PurgeComm(port, flags); }
    BOOL ReadFile(HANDLE port, void *buffer, DWORD count, DWORD *transferred) const override
    {
        return ::ReadFile(port, buffer, count, transferred, nullptr);
    }
    BOOL CloseHandle(HANDLE port) const override { return ::CloseHandle(port); }

    std::time_t Time() const override { return std::time(nullptr); }
    DWORD GetTickCount() const override { return ::GetTickCount(); }
    void Sleep(DWORD milliseconds) const override { ::Sleep(milliseconds); }

    DWORD GetCurrentDirectoryA(DWORD size, char *buffer) const override
    {
        return ::GetCurrentDirectoryA(size, buffer);
    }
    LONG SHGetSpecialFolderLocation(int folder, ItemIdList **list) const override
    {
        return ::SHGetSpecialFolderLocation(nullptr, folder, list);
    }
    BOOL SHGetPathFromIDListA(const ItemIdList *list, char *path) const override
    {
        return ::SHGetPathFromIDListA(list, path);
    }
    void FreeIdList(ItemIdList *list) const override
    {
        IMalloc *allocator = nullptr;
        if (FAILED(::SHGetMalloc(&allocator))) return;
        allocator->Free(list);
        allocator->Release();
    }

    // _SH_DENYNO: the host may read a file while it is being written.
    Stream *OpenFile(const char *path, const char *mode) const override
    {
        return reinterpret_cast<Stream *>(::_fsopen(path, mode, _SH_DENYNO));
    }
    bool WriteText(Stream *stream, const char *text, size_t length) const override
    {
        return ::fwrite(text, 1, length, reinterpret_cast<FILE *>(stream)) == length;
    }
    // Wine's msvcrt returns 0 from an fclose whose own flush failed (a full
    // disk): flush first and ask the stream whether any write was lost.
    bool CloseFile(Stream *stream) const override
    {
        FILE *file = reinterpret_cast<FILE *>(stream);
        bool written = ::fflush(file) == 0 && !::ferror(file);
        return ::fclose(file) == 0 && written;
    }
    BOOL DeleteFileA(const char *path) const override { return ::DeleteFileA(path); }
    BOOL MoveFileA(const char *from, const char *to) const override
    {
        return ::MoveFileA(from, to);
    }
};

} // namespace

const ReceiverCalls &RealCalls()
{
    static const Win32ReceiverCalls calls;
    return calls;
}

} // namespace ostrel

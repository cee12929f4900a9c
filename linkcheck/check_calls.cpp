// The check program's calls as Windows makes them.
#include "check_calls.h"

#include <cstdio>

namespace linkcheck
{
namespace
{

// The entry of a resource directory with this number; with 0 its first entry.
const IMAGE_RESOURCE_DIRECTORY_ENTRY *ResourceEntry(const BYTE *directory, WORD id)
{
    const auto *header = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY *>(directory);
    const auto *entries = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY_ENTRY *>(header + 1);
    for (int i = 0; i < header->NumberOfNamedEntries + header->NumberOfIdEntries; ++i)
        if (id == 0 || (!entries[i].NameIsString && entries[i].Id == id)) return &entries[i];
    return nullptr;
}

class Win32CheckCalls final : public CheckCalls
{
public:
    void PrintLine(const char *text) const override
    {
        std::fputs(text, stdout);
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }

    HMODULE LoadLibraryA(const char *fileName) const override { return ::LoadLibraryA(fileName); }
    FARPROC GetProcAddress(HMODULE library, const char *exportName) const override
    {
        return ::GetProcAddress(library, exportName);
    }
    DWORD GetModuleFileNameA(HMODULE module, char *path, DWORD size) const override
    {
        return ::GetModuleFileNameA(module, path, size);
    }
    DWORD GetLastError() const override { return ::GetLastError(); }
    void SetLastError(DWORD error) const override { ::SetLastError(error); }

    BOOL ReadFileStart(const char *path, void *buffer, DWORD size, DWORD *read) const override
    {
        HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return FALSE;
        BOOL done = ::ReadFile(file, buffer, size, read, nullptr);
        ::CloseHandle(file);
        return done;
    }

    // Read from the loaded image itself: its resource directory, type 16
    // (version), then the first name and the first language under it.
    const void *VersionResource(HMODULE module, DWORD *size) const override
    {
        const BYTE *base = reinterpret_cast<const BYTE *>(module);
        const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
        const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY &resources =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
        if (resources.VirtualAddress == 0) return nullptr;
        const BYTE *root = base + resources.VirtualAddress;
        const IMAGE_RESOURCE_DIRECTORY_ENTRY *entry = ResourceEntry(root, 16);
        for (int level = 0; level < 2 && entry != nullptr && entry->DataIsDirectory; ++level)
            entry = ResourceEntry(root + entry->OffsetToDirectory, 0);
        if (entry == nullptr || entry->DataIsDirectory) return nullptr;
        const auto *data =
            reinterpret_cast<const IMAGE_RESOURCE_DATA_ENTRY *>(root + entry->OffsetToData);
        *size = data->Size;
        return base + data->OffsetToData;
    }

    BOOL PurgeComm(HANDLE port, DWORD flags) const override { return ::PurgeComm(port, flags); }
    BOOL ReadFile(HANDLE port, void *buffer, DWORD count, DWORD *transferred) const override
    {
        return ::ReadFile(port, buffer, count, transferred, nullptr);
    }
    BOOL CloseHandle(HANDLE port) const override { return ::CloseHandle(port); }

    DWORD GetTickCount() const override { return ::GetTickCount(); }
    void Sleep(DWORD milliseconds) const override { ::Sleep(milliseconds); }
};

} // namespace

const CheckCalls &RealCalls()
{
    static const Win32CheckCalls calls;
    return calls;
}

} // namespace linkcheck

// The check program's calls as Windows makes them. The wide-character
// calls are bound at run time and used only on NT: the 98 family exports
// some of them as stubs that fail, and lacks others.
#include "check_calls.h"

#include <cstring>

namespace linkcheck
{
namespace
{

constexpr UINT kUtf8 = 65001;            // CP_UTF8
constexpr DWORD kNoBestFit = 0x400;      // WC_NO_BEST_FIT_CHARS, from Windows 2000 on
constexpr DWORD kMaxFileSize = 64 << 20; // sizes beyond are not counted to the end
constexpr int kWideSize = 2500;          // one line (2400 bytes at most) or path, in UTF-16 units

// The entry of a resource directory with this number; with 0 its first entry.
const IMAGE_RESOURCE_DIRECTORY_ENTRY *ResourceEntry(const BYTE *directory, WORD id)
{
    const auto *header = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY *>(directory);
    const auto *entries = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY_ENTRY *>(header + 1);
    for (int i = 0; i < header->NumberOfNamedEntries + header->NumberOfIdEntries; ++i)
        if (id == 0 || (!entries[i].NameIsString && entries[i].Id == id)) return &entries[i];
    return nullptr;
}

template <typename Proc> Proc Kernel32(const char *name)
{
    using AnyFunction = void (*)(void);
    return reinterpret_cast<Proc>(
        reinterpret_cast<AnyFunction>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name)));
}

bool IsNt()
{
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    return ::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Text between the program's UTF-8 and the wide or ANSI strings of Windows;
// a string cut short by its buffer still ends with a NUL.
int ToWide(const char *text, wchar_t *wide, int size, UINT codePage = kUtf8)
{
    int length = ::MultiByteToWideChar(codePage, 0, text, -1, wide, size);
    wide[size - 1] = L'\0';
    return length > 0 ? length - 1 : 0;
}

DWORD FromWide(const wchar_t *wide, char *text, DWORD size, UINT codePage = kUtf8)
{
    int length = ::WideCharToMultiByte(codePage, 0, wide, -1, text, static_cast<int>(size), nullptr,
                                       nullptr);
    text[size - 1] = '\0';
    return length > 0 ? static_cast<DWORD>(length - 1) : 0;
}

// An ANSI string from a call of the 98 family, as UTF-8.
DWORD AnsiToUtf8(const char *ansi, char *text, DWORD size)
{
    wchar_t wide[kWideSize];
    ToWide(ansi, wide, kWideSize, CP_ACP);
    return FromWide(wide, text, size);
}

class Win32CheckCalls final : public CheckCalls
{
    using ModuleFileNameWProc = DWORD(WINAPI *)(HMODULE, wchar_t *, DWORD);
    using SearchPathWProc = DWORD(WINAPI *)(const wchar_t *, const wchar_t *, const wchar_t *,
                                            DWORD, wchar_t *, wchar_t **);
    using CreateFileWProc = HANDLE(WINAPI *)(const wchar_t *, DWORD, DWORD, SECURITY_ATTRIBUTES *,
                                             DWORD, DWORD, HANDLE);
    using WriteConsoleWProc = BOOL(WINAPI *)(HANDLE, const void *, DWORD, DWORD *, void *);
    using ConsoleProcessListProc = DWORD(WINAPI *)(DWORD *, DWORD);
    using QueryDosDeviceProc = DWORD(WINAPI *)(const char *, char *, DWORD);

    const bool nt_ = IsNt();
    const ModuleFileNameWProc moduleFileNameW_ =
        Kernel32<ModuleFileNameWProc>("GetModuleFileNameW");
    const SearchPathWProc searchPathW_ = Kernel32<SearchPathWProc>("SearchPathW");
    const CreateFileWProc createFileW_ = Kernel32<CreateFileWProc>("CreateFileW");
    const WriteConsoleWProc writeConsoleW_ = Kernel32<WriteConsoleWProc>("WriteConsoleW");
    const ConsoleProcessListProc consoleProcessList_ =
        Kernel32<ConsoleProcessListProc>("GetConsoleProcessList");
    const QueryDosDeviceProc queryDosDevice_ = Kernel32<QueryDosDeviceProc>("QueryDosDeviceA");
    const HANDLE output_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const bool outputIsConsole_ = IsConsole(output_);
    // Where the cursor stood before the first line: at the top left of a
    // console made for this program alone (how Windows before XP tells).
    const bool freshConsole_ = CursorAtOrigin(output_);

    // A console's screen buffer answers; a file or a pipe does not.
    static bool IsConsole(HANDLE handle)
    {
        CONSOLE_SCREEN_BUFFER_INFO info;
        return ::GetConsoleScreenBufferInfo(handle, &info) != 0;
    }
    static bool CursorAtOrigin(HANDLE handle)
    {
        CONSOLE_SCREEN_BUFFER_INFO info;
        return ::GetConsoleScreenBufferInfo(handle, &info) && info.dwCursorPosition.X == 0 &&
               info.dwCursorPosition.Y == 0;
    }
    bool Wide() const { return nt_ && moduleFileNameW_ && searchPathW_ && createFileW_; }

    // The console's code page; with no console (output to a file from a
    // program without one), the one a console on this PC starts with.
    static UINT OutputCodePage()
    {
        UINT codePage = ::GetConsoleOutputCP();
        return codePage != 0 ? codePage : CP_OEMCP;
    }
    // The text in the output code page: false when some character has no place there.
    static bool ToOutput(const wchar_t *wide, char *bytes, int size, int *length)
    {
        UINT codePage = OutputCodePage();
        BOOL lost = FALSE;
        BOOL *lostFlag = codePage == kUtf8 ? nullptr : &lost;
        *length =
            ::WideCharToMultiByte(codePage, kNoBestFit, wide, -1, bytes, size, nullptr, lostFlag);
        if (*length == 0) // the flag is unknown before Windows 2000
            *length = ::WideCharToMultiByte(codePage, 0, wide, -1, bytes, size, nullptr, lostFlag);
        return *length > 0 && !lost;
    }

public:
    // To a console on NT as UTF-16, which it shows whatever its code page;
    // to a file, a pipe or the 98 family's console in the output code page.
    void PrintLine(const char *text) const override
    {
        wchar_t wide[kWideSize];
        int length = ToWide(text, wide, kWideSize - 2);
        wide[length] = L'\r', wide[length + 1] = L'\n';
        DWORD written = 0;
        if (nt_ && outputIsConsole_ && writeConsoleW_ &&
            writeConsoleW_(output_, wide, length + 2, &written, nullptr))
            return;
        char bytes[kWideSize * 2];
        wide[length + 2] = L'\0';
        int size = 0;
        ToOutput(wide, bytes, sizeof bytes, &size);
        if (size > 1) ::WriteFile(output_, bytes, static_cast<DWORD>(size - 1), &written, nullptr);
    }
    bool CanShow(const char *text) const override
    {
        wchar_t wide[kWideSize];
        ToWide(text, wide, kWideSize);
        char bytes[kWideSize * 2];
        int length = 0;
        return ToOutput(wide, bytes, sizeof bytes, &length);
    }
    bool FromCodePage932(const char *bytes, char *text, DWORD size) const override
    {
        wchar_t wide[kWideSize];
        // Fails when Windows has no code page 932 installed.
        return ToWide(bytes, wide, kWideSize, 932) > 0 && FromWide(wide, text, size) > 0;
    }
    // Only a person at a console of its own is waited for: never when the
    // output goes to a file or a pipe (a script, a test).
    bool ConsoleOfItsOwn() const override
    {
        if (!outputIsConsole_) return false;
        DWORD processes[2];
        if (consoleProcessList_) return consoleProcessList_(processes, 2) == 1;
        return freshConsole_;
    }
    void WaitForEnter() const override
    {
        char line[64];
        DWORD read = 0;
        ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &read, nullptr);
    }

    HMODULE LoadLibraryA(const char *fileName) const override { return ::LoadLibraryA(fileName); }
    FARPROC GetProcAddress(HMODULE library, const char *exportName) const override
    {
        return ::GetProcAddress(library, exportName);
    }
    DWORD ModulePath(HMODULE module, char *path, DWORD size) const override
    {
        wchar_t wide[kWideSize];
        if (Wide() && moduleFileNameW_(module, wide, kWideSize) > 0)
            return FromWide(wide, path, size);
        char ansi[MAX_PATH + 1] = "";
        return ::GetModuleFileNameA(module, ansi, MAX_PATH) > 0 ? AnsiToUtf8(ansi, path, size) : 0;
    }
    DWORD SearchDllPath(const char *fileName, char *path, DWORD size) const override
    {
        wchar_t name[MAX_PATH], wide[kWideSize];
        ToWide(fileName, name, MAX_PATH);
        if (Wide()) {
            DWORD length = searchPathW_(nullptr, name, nullptr, kWideSize, wide, nullptr);
            return length > 0 && length < kWideSize ? FromWide(wide, path, size) : 0;
        }
        char ansi[MAX_PATH + 1] = "";
        DWORD length = ::SearchPathA(nullptr, fileName, nullptr, MAX_PATH, ansi, nullptr);
        return length > 0 && length < MAX_PATH ? AnsiToUtf8(ansi, path, size) : 0;
    }
    DWORD GetLastError() const override { return ::GetLastError(); }
    void SetLastError(DWORD error) const override { ::SetLastError(error); }

    BOOL ReadFileStart(const char *path, void *buffer, DWORD size, DWORD *read,
                       DWORD *fileSize) const override
    {
        wchar_t wide[kWideSize];
        ToWide(path, wide, kWideSize);
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        HANDLE file;
        if (Wide()) {
            file = createFileW_(wide, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        } else {
            char ansi[MAX_PATH * 2];
            FromWide(wide, ansi, sizeof ansi, CP_ACP);
            file = ::CreateFileA(ansi, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        }
        if (file == INVALID_HANDLE_VALUE) return FALSE;
        BOOL done = ::ReadFile(file, buffer, size, read, nullptr);
        DWORD error = ::GetLastError();
        // The size is what can be read: a file cut short reads short whatever
        // its directory entry says.
        *fileSize = *read;
        char rest[4096];
        for (DWORD more = 0; done && *read == size && *fileSize < kMaxFileSize &&
                             ::ReadFile(file, rest, sizeof rest, &more, nullptr) && more > 0;)
            *fileSize += more;
        ::CloseHandle(file);
        ::SetLastError(error);
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

    LONG RegOpenKeyExA(HKEY parent, const char *path, HKEY *key) const override
    {
        return ::RegOpenKeyExA(parent, path, 0, KEY_READ, key);
    }
    LONG RegEnumKeyExA(HKEY key, DWORD index, char *name, DWORD *size) const override
    {
        return ::RegEnumKeyExA(key, index, name, size, nullptr, nullptr, nullptr, nullptr);
    }
    LONG RegQueryValueExA(HKEY key, const char *name, char *data, DWORD *size) const override
    {
        return ::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(data),
                                  size);
    }
    LONG RegCloseKey(HKEY key) const override { return ::RegCloseKey(key); }
    DWORD QueryDosDeviceA(const char *name, char *target, DWORD size) const override
    {
        return nt_ && queryDosDevice_ ? queryDosDevice_(name, target, size) : 0;
    }
    HANDLE OpenPort(const char *devicePath) const override
    {
        return ::CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    }

    BOOL PurgeComm(HANDLE port, DWORD flags) const override { return ::PurgeComm(port, flags); }
    BOOL ReadFile(HANDLE port, void *buffer, DWORD count, DWORD *transferred) const override
    {
        return ::ReadFile(port, buffer, count, transferred, nullptr);
    }
    BOOL ClearCommError(HANDLE port, DWORD *errors) const override
    {
        return ::ClearCommError(port, errors, nullptr);
    }
    BOOL CloseHandle(HANDLE port) const override { return ::CloseHandle(port); }

    DWORD GetTickCount() const override { return ::GetTickCount(); }
    void Sleep(DWORD milliseconds) const override { ::Sleep(milliseconds); }
    std::time_t Time() const override { return std::time(nullptr); }
};

// Made before main, so that it sees the console before the first line
// (and needs no guard against a second thread, which this program lacks).
const Win32CheckCalls kRealCalls;

} // namespace

const CheckCalls &RealCalls() { return kRealCalls; }

} // namespace linkcheck

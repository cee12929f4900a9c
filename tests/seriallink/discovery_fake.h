// An in-memory registry and set of COM ports behind the library's Win32 seam,
// for ComPort's walk. It answers as Windows does unless a key, value or
// enumeration answer is told to answer otherwise, and it records in
// `violations` what would hurt a real PC: keys opened for more than reading,
// ports opened with sharing, handles left open or closed twice. It uses no
// test framework, so the fuzz target shares it.
#ifndef VETROLINK_TESTS_DISCOVERY_FAKE_H
#define VETROLINK_TESTS_DISCOVERY_FAKE_H

#include <map>
#include <string>
#include <vector>

#include "win32_calls.h"

namespace vetrolink::testing
{

// An answer that the fake computes as Windows would.
constexpr LONG kAsWindows = -1;

struct EnumAnswer {
    std::string name;
    LONG answer = kAsWindows; // otherwise returned as is, after writing what fits of name
};

struct RegistryValue {
    std::string bytes;        // the stored data, NUL included when it has one
    LONG answer = kAsWindows; // otherwise: what fits is copied and this returned
    std::string trailer;      // written after the data, as a careless driver's call might
};

struct RegistryKey {
    std::vector<EnumAnswer> subkeys; // answers of RegEnumKeyExA, index by index
    std::map<std::string, RegistryValue> values;
    LONG openAnswer = ERROR_SUCCESS;
    int closeFailures = 0; // RegCloseKey fails this often per handle; -1: always
};

struct FakePort {
    bool inUse = false;                    // held by another program: the open fails
    DWORD configSize = sizeof(COMMCONFIG); // what GetCommConfig needs
    bool configFails = false;              // GetCommConfig fails whatever the size
};

class FakeDiscovery : public Win32Calls
{
public:
    // Keys and ports are found without regard to case, as Windows does.
    RegistryKey &Key(const std::string &path);
    // A subkey that the enumerator key lists, and the key itself.
    RegistryKey &Instance(const std::string &enumPath, const std::string &name);
    static RegistryValue Sz(const std::string &text) { return {text + '\0', kAsWindows, {}}; }
    FakePort &Port(const std::string &name);

    // Call after the walk: handles still open are violations too.
    std::vector<std::string> Finish();

    mutable std::vector<std::string> violations;

    LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access,
                       HKEY *key) const override;
    LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD *nameLength) const override;
    LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPBYTE data, DWORD *dataSize) const override;
    LONG RegCloseKey(HKEY key) const override;
    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                       DWORD flagsAndAttributes) const override;
    BOOL GetCommConfig(HANDLE port, COMMCONFIG *config, DWORD *size) const override;
    BOOL CloseHandle(HANDLE handle) const override;

    BOOL GetVersionExA(OSVERSIONINFOA *) const override { return Stray("GetVersionExA"); }
    BOOL SetCommConfig(HANDLE, COMMCONFIG *, DWORD) const override
    {
        return Stray("SetCommConfig");
    }
    BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS *) const override { return Stray("SetCommTimeouts"); }
    BOOL PurgeComm(HANDLE, DWORD) const override { return Stray("PurgeComm"); }
    BOOL ReadFile(HANDLE, LPVOID, DWORD, DWORD *) const override { return Stray("ReadFile"); }
    BOOL WriteFile(HANDLE, LPCVOID, DWORD, DWORD *) const override { return Stray("WriteFile"); }

private:
    struct OpenKey {
        std::string path;
        int failedCloses = 0;
    };
    BOOL Stray(const char *call) const;
    const RegistryKey *Find(const std::string &path) const;
    OpenKey *Handle(HKEY key) const;
    void Breach(const std::string &what) const { violations.push_back(what); }

    std::map<std::string, RegistryKey> keys_; // by upper-case path
    std::map<std::string, FakePort> ports_;   // by upper-case name
    mutable std::map<uintptr_t, OpenKey> openKeys_;
    mutable std::map<uintptr_t, std::string> openPorts_;
    mutable uintptr_t nextHandle_ = 0x1000;
};

} // namespace vetrolink::testing

#endif

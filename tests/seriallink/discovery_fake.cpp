#include "discovery_fake.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vetrolink::testing
{
namespace
{

std::string Upper(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr int kCloseAttempts = 3;

} // namespace

void FakeDiscovery::SetFamily(int family)
{
    switch (family) {
    case 98:
        platformId_ = VER_PLATFORM_WIN32_WINDOWS, majorVersion_ = 4;
        break;
    case 2000:
        platformId_ = VER_PLATFORM_WIN32_NT, majorVersion_ = 5;
        break;
    case 2007:
        platformId_ = VER_PLATFORM_WIN32_NT, majorVersion_ = 6;
        break;
    default:
        platformId_ = VER_PLATFORM_WIN32_NT, majorVersion_ = 10;
        break;
    }
}

RegistryKey &FakeDiscovery::Key(const std::string &path) { return keys_[Upper(path)]; }

RegistryKey &FakeDiscovery::Instance(const std::string &enumPath, const std::string &name)
{
    Key(enumPath).subkeys.push_back({name});
    return Key(enumPath + "\\" + name);
}

FakePort &FakeDiscovery::Port(const std::string &name) { return ports_[Upper(name)]; }

std::vector<std::string> FakeDiscovery::Finish()
{
    for (const auto &open : openKeys_)
        Breach("key left open: " + open.second.path);
    for (const auto &open : openPorts_)
        Breach("port left open: " + open.second);
    return violations;
}

BOOL FakeDiscovery::Stray(const char *call) const
{
    Breach(std::string("the walk called ") + call);
    return FALSE;
}

const RegistryKey *FakeDiscovery::Find(const std::string &path) const
{
    auto found = keys_.find(Upper(path));
    return found == keys_.end() ? nullptr : &found->second;
}

FakeDiscovery::OpenKey *FakeDiscovery::Handle(HKEY key) const
{
    auto found = openKeys_.find(reinterpret_cast<uintptr_t>(key));
    return found == openKeys_.end() ? nullptr : &found->second;
}

BOOL FakeDiscovery::GetVersionExA(OSVERSIONINFOA *info) const
{
    if (info->dwOSVersionInfoSize != sizeof *info) Breach("version record of the wrong size");
    info->dwPlatformId = platformId_;
    info->dwMajorVersion = majorVersion_;
    info->dwMinorVersion = 0;
    return TRUE;
}

LONG FakeDiscovery::RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access,
                                  HKEY *key) const
{
    keysOpened.push_back(subKey);
    if (root != HKEY_LOCAL_MACHINE || options != 0 || access != KEY_READ)
        Breach(std::string("key opened otherwise than for reading under HKLM: ") + subKey);
    if (!openKeys_.empty()) Breach(std::string("key opened while another is open: ") + subKey);
    const RegistryKey *found = Find(subKey);
    if (!found) return ERROR_FILE_NOT_FOUND;
    if (found->openAnswer != ERROR_SUCCESS) return found->openAnswer;
    uintptr_t handle = nextHandle_++;
    openKeys_[handle] = OpenKey{subKey};
    *key = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LONG FakeDiscovery::RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD *nameLength) const
{
    const OpenKey *open = Handle(key);
    if (!open) {
        Breach("enumeration of a key that is not open");
        return ERROR_INVALID_HANDLE;
    }
    if (*nameLength != 100) Breach("name capacity other than 100");
    const RegistryKey *found = Find(open->path);
    if (!found || index >= found->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const EnumAnswer &entry = found->subkeys[index];
    DWORD capacity = *nameLength;
    if (entry.answer == kAsWindows) {
        if (entry.name.size() >= capacity) return ERROR_MORE_DATA;
        std::memcpy(name, entry.name.c_str(), entry.name.size() + 1);
        *nameLength = static_cast<DWORD>(entry.name.size());
        return ERROR_SUCCESS;
    }
    std::memcpy(name, entry.name.data(), std::min<size_t>(entry.name.size(), capacity));
    *nameLength = static_cast<DWORD>(entry.name.size());
    return entry.answer;
}

LONG FakeDiscovery::RegQueryValueExA(HKEY key, LPCSTR valueName, LPBYTE data, DWORD *dataSize) const
{
    const OpenKey *open = Handle(key);
    if (!open) {
        Breach("value read from a key that is not open");
        return ERROR_INVALID_HANDLE;
    }
    const RegistryKey *found = Find(open->path);
    const std::string wanted = Upper(valueName);
    const RegistryValue *value = nullptr;
    if (found)
        for (const auto &entry : found->values)
            if (Upper(entry.first) == wanted) value = &entry.second;
    if (!value) return ERROR_FILE_NOT_FOUND;

    DWORD capacity = *dataSize;
    DWORD stored = static_cast<DWORD>(value->bytes.size());
    if (value->answer == kAsWindows && stored > capacity) {
        *dataSize = stored;
        return ERROR_MORE_DATA;
    }
    DWORD copied = std::min(stored, capacity);
    std::memcpy(data, value->bytes.data(), copied);
    std::memcpy(data + copied, value->trailer.data(),
                std::min<size_t>(value->trailer.size(), capacity - copied));
    *dataSize = value->answer == kAsWindows ? copied : stored;
    return value->answer == kAsWindows ? ERROR_SUCCESS : value->answer;
}

LONG FakeDiscovery::RegCloseKey(HKEY key) const
{
    OpenKey *open = Handle(key);
    if (!open) {
        Breach("close of a key that is not open");
        return ERROR_INVALID_HANDLE;
    }
    if (!openPorts_.empty()) Breach("key closed while its port is open: " + open->path);
    const RegistryKey *found = Find(open->path);
    int failures = found ? found->closeFailures : 0;
    if (failures < 0 || open->failedCloses < failures) {
        // After the third failure the walk gives the handle up.
        if (++open->failedCloses == kCloseAttempts)
            openKeys_.erase(reinterpret_cast<uintptr_t>(key));
        return ERROR_INVALID_HANDLE;
    }
    openKeys_.erase(reinterpret_cast<uintptr_t>(key));
    return ERROR_SUCCESS;
}

HANDLE FakeDiscovery::CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                                  DWORD flagsAndAttributes) const
{
    portsOpened.push_back(path);
    if (access != (GENERIC_READ | GENERIC_WRITE) || shareMode != 0 || flagsAndAttributes != 0)
        Breach(std::string("port opened otherwise than exclusively for reading and writing: ") +
               path);
    if (!openPorts_.empty()) Breach(std::string("port opened while another is open: ") + path);
    const size_t prefixLength = sizeof kDevicePrefix - 1;
    if (std::strncmp(path, kDevicePrefix, prefixLength) != 0) return INVALID_HANDLE_VALUE;
    auto port = ports_.find(Upper(path + prefixLength));
    if (port == ports_.end() || port->second.inUse) return INVALID_HANDLE_VALUE;
    uintptr_t handle = nextHandle_++;
    openPorts_[handle] = port->first;
    return reinterpret_cast<HANDLE>(handle);
}

BOOL FakeDiscovery::GetCommConfig(HANDLE handle, COMMCONFIG *config, DWORD *size) const
{
    auto open = openPorts_.find(reinterpret_cast<uintptr_t>(handle));
    if (open == openPorts_.end()) {
        Breach("configuration asked of a port that is not open");
        return FALSE;
    }
    if (*size < sizeof(COMMCONFIG)) Breach("configuration buffer smaller than one record");
    const FakePort &port = ports_.at(open->second);
    if (port.configFails) return FALSE;
    if (*size < port.configSize) {
        *size = port.configSize;
        return FALSE;
    }
    // The whole record is written, so a buffer smaller than claimed shows.
    std::memset(config, 0xa5, port.configSize);
    *size = port.configSize;
    return TRUE;
}

BOOL FakeDiscovery::CloseHandle(HANDLE handle) const
{
    if (openPorts_.erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
        Breach("close of a port that is not open");
        return FALSE;
    }
    return TRUE;
}

} // namespace vetrolink::testing

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

} // namespace

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
    if (found != openKeys_.end()) return &found->second;
    Breach("a key that is not open was used");
    return nullptr;
}

LONG FakeDiscovery::RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access,
                                  HKEY *key) const
{
    // More than reading is refused to a user without administrator rights.
    if (root != HKEY_LOCAL_MACHINE || options != 0 || access != KEY_READ)
        Breach(std::string("key opened otherwise than for reading under HKLM: ") + subKey);
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
    if (!open) return ERROR_INVALID_HANDLE;
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
    if (!open) return ERROR_INVALID_HANDLE;
    const RegistryKey *found = Find(open->path);
    if (!found || !found->values.count(valueName)) return ERROR_FILE_NOT_FOUND;
    const RegistryValue &value = found->values.at(valueName);

    DWORD capacity = *dataSize;
    DWORD stored = static_cast<DWORD>(value.bytes.size());
    if (value.answer == kAsWindows && stored > capacity) {
        *dataSize = stored;
        return ERROR_MORE_DATA;
    }
    DWORD copied = std::min(stored, capacity);
    std::memcpy(data, value.bytes.data(), copied);
    std::memcpy(data + copied, value.trailer.data(),
                std::min<size_t>(value.trailer.size(), capacity - copied));
    *dataSize = value.answer == kAsWindows ? copied : stored;
    return value.answer == kAsWindows ? ERROR_SUCCESS : value.answer;
}

LONG FakeDiscovery::RegCloseKey(HKEY key) const
{
    OpenKey *open = Handle(key);
    if (!open) return ERROR_INVALID_HANDLE;
    const RegistryKey *found = Find(open->path);
    int failures = found ? found->closeFailures : 0;
    if (failures < 0 || open->failedCloses < failures) {
        // After its third failed close the walk gives the handle up.
        if (++open->failedCloses == 3) openKeys_.erase(reinterpret_cast<uintptr_t>(key));
        return ERROR_INVALID_HANDLE;
    }
    openKeys_.erase(reinterpret_cast<uintptr_t>(key));
    return ERROR_SUCCESS;
}

HANDLE FakeDiscovery::CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                                  DWORD flagsAndAttributes) const
{
    // Only an exclusive open tells a port held by another program.
    if (access != (GENERIC_READ | GENERIC_WRITE) || shareMode != 0 || flagsAndAttributes != 0)
        Breach(std::string("port opened otherwise than exclusively for reading and writing: ") +
               path);
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
    if (open == openPorts_.end()) return Stray("GetCommConfig on a port that is not open");
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
    if (openPorts_.erase(reinterpret_cast<uintptr_t>(handle)) == 0)
        return Stray("CloseHandle on a port that is not open");
    return TRUE;
}

} // namespace vetrolink::testing

// A Windows in memory behind the library's seam (win32_calls.h), for what Wine cannot produce.
// Port calls are logged (numbers in hex); what would hurt a real PC is a violation: a port
// opened with sharing, a handle used when not open or (Finish) left open. The fuzz target uses it.
#ifndef VETROLINK_TESTS_FAKE_WINDOWS_H
#define VETROLINK_TESTS_FAKE_WINDOWS_H

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "win32_calls.h"

namespace vetrolink::testing
{

constexpr LONG kAsWindows = -1; // a subkey name given as Windows gives it

struct RegistryKey {
    std::vector<std::pair<std::string, LONG>> subkeys; // RegEnumKeyExA's answers, index by index
    std::map<std::string, std::string> values;         // as stored, NUL included when they have one
    std::string trailer; // written after a value, as a careless driver's call might
    LONG openAnswer = ERROR_SUCCESS;
    int closeFailures = 0; // RegCloseKey fails this often on each handle; -1: always
};

class FakeWindows final : public Win32Calls
{
public:
    std::map<std::string, RegistryKey> keys; // by path, as the library spells it
    std::map<std::string, long> ports;       // the configuration record's size; 0: none; -1: in use
    unsigned char fill = 0x5b;               // the reported record's bytes
    OSVERSIONINFOA version{};
    BOOL versionAnswer = TRUE, configAccepted = TRUE, purgeAnswer = TRUE;
    mutable std::vector<std::string> log, violations;
    mutable std::vector<unsigned char> applied; // the record SetCommConfig was given

    std::vector<std::string> Finish() const
    {
        for (const auto &handle : open_)
            violations.push_back("left open: " + handle.second.first);
        return violations;
    }

    BOOL GetVersionExA(OSVERSIONINFOA *info) const override
    {
        std::memcpy(&info->dwMajorVersion, &version.dwMajorVersion, sizeof version - 4);
        return versionAnswer;
    }
    LONG RegOpenKeyExA(HKEY, LPCSTR path, DWORD, REGSAM, HKEY *key) const override
    {
        auto found = keys.find(path);
        if (found == keys.end()) return ERROR_FILE_NOT_FOUND;
        if (found->second.openAnswer == ERROR_SUCCESS) *key = reinterpret_cast<HKEY>(Open(path));
        return found->second.openAnswer;
    }
    LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD *length) const override
    {
        const auto &subkeys = keys.at(Handle(key).first).subkeys;
        if (index >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
        const auto &[text, answer] = subkeys[index];
        if (answer == kAsWindows && text.size() >= *length) return ERROR_MORE_DATA;
        const size_t copied = text.size() + (answer == kAsWindows);
        std::memcpy(name, text.c_str(), copied < *length ? copied : *length);
        *length = static_cast<DWORD>(text.size());
        return answer == kAsWindows ? ERROR_SUCCESS : answer;
    }
    LONG RegQueryValueExA(HKEY key, LPCSTR name, LPBYTE data, DWORD *size) const override
    {
        const RegistryKey &open = keys.at(Handle(key).first);
        auto value = open.values.find(name);
        if (value == open.values.end()) return ERROR_FILE_NOT_FOUND;
        const std::string bytes = (value->second + open.trailer).substr(0, *size);
        const bool fits = value->second.size() <= *size;
        if (fits) std::memcpy(data, bytes.data(), bytes.size());
        *size = static_cast<DWORD>(value->second.size());
        return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
    }
    LONG RegCloseKey(HKEY key) const override
    {
        auto &[path, failed] = Handle(key);
        const int failures = keys.at(path).closeFailures;
        const bool fails = failures < 0 || failed < failures;
        if (fails && ++failed < 3) return ERROR_INVALID_HANDLE;
        open_.erase(reinterpret_cast<uintptr_t>(key)); // the library gives up after three
        return fails ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
    }

    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, DWORD flags) const override
    {
        Log("CreateFileA", path, access, share, flags);
        if (share != 0) violations.push_back(std::string("opened with sharing: ") + path);
        auto port = std::strncmp(path, "\\\\.\\", 4) ? ports.end() : ports.find(path + 4);
        if (port == ports.end() || port->second < 0) return INVALID_HANDLE_VALUE;
        return reinterpret_cast<HANDLE>(Open(path));
    }
    BOOL GetCommConfig(HANDLE handle, COMMCONFIG *config, DWORD *size) const override
    {
        Log("GetCommConfig", *size);
        const DWORD needed = static_cast<DWORD>(ports.at(Handle(handle).first.substr(4)));
        const bool fits = needed != 0 && *size >= needed;
        if (fits) std::memset(config, fill, needed);
        *size = needed ? needed : *size;
        return fits;
    }
    BOOL SetCommConfig(HANDLE, COMMCONFIG *config, DWORD size) const override
    {
        Log("SetCommConfig", size); // all `size` bytes read: the sanitizers see a size too large
        applied.assign(reinterpret_cast<unsigned char *>(config),
                       reinterpret_cast<unsigned char *>(config) + size);
        return configAccepted;
    }
    BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS *t) const override
    {
        Log("SetCommTimeouts", t->ReadIntervalTimeout, t->ReadTotalTimeoutMultiplier,
            t->ReadTotalTimeoutConstant, t->WriteTotalTimeoutMultiplier,
            t->WriteTotalTimeoutConstant);
        return TRUE;
    }
    BOOL PurgeComm(HANDLE, DWORD flags) const override
    {
        return Log("PurgeComm", flags), purgeAnswer;
    }
    BOOL CloseHandle(HANDLE handle) const override
    {
        Log("CloseHandle");
        Handle(handle);
        return open_.erase(reinterpret_cast<uintptr_t>(handle)) > 0;
    }
    BOOL ReadFile(HANDLE, LPVOID, DWORD, DWORD *) const override { return FALSE; }
    BOOL WriteFile(HANDLE, LPCVOID, DWORD, DWORD *) const override { return FALSE; }

private:
    template <typename... Args> void Log(const char *call, const Args &...args) const
    {
        std::ostringstream line;
        line << call << std::hex;
        ((line << ' ' << args), ...);
        log.push_back(line.str());
    }
    uintptr_t Open(std::string path) const { return open_[++lastHandle_] = {path, 0}, lastHandle_; }
    // What the library opened as `handle`: the path and the failed closes.
    std::pair<std::string, int> &Handle(const void *handle) const
    {
        auto open = open_.find(reinterpret_cast<uintptr_t>(handle));
        if (open == open_.end()) violations.push_back("a handle not open was used");
        return open == open_.end() ? open_[0] : open->second;
    }

    mutable std::map<uintptr_t, std::pair<std::string, int>> open_;
    mutable uintptr_t lastHandle_ = 0x1000;
};

} // namespace vetrolink::testing

#endif

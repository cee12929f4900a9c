// libFuzzer targets, two from this file (FUZZ_ENTRY): work_folder_fuzz takes any current
// directory, application-data path and family code, port_list_fuzz any bytes that ComPort hands
// back in the 100-byte port list. The expectations are the README's rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>

#include "../common/fuzz_check.h"
#include "receiver.h"

using namespace ostrel;

namespace
{

std::string text;     // the current directory and application-data path, or the port list
int answer;           // the shell's (below 0: failed), or ComPort's result (0: a port list)
std::string portName; // as SetPort got it

int VETROLINK_CALL WindowsVer() { return 2000; }
int VETROLINK_CALL ComPort(int, int, int *, char *list)
{
    std::memcpy(list, text.c_str(), std::min(text.size() + 1, kPortListSize)); // NUL if it fits
    return answer;
}
int VETROLINK_CALL SetPort(DWORD, int, int, int, HANDLE *, const char *name)
{
    return portName = name, 0;
}

class Outside final : public ReceiverCalls
{
    HMODULE LoadLibraryA(const char *) const override { return reinterpret_cast<HMODULE>(1); }
    FARPROC GetProcAddress(HMODULE, const char *name) const override // by the first letter
    {
        return *name == 'W'   ? reinterpret_cast<FARPROC>(&WindowsVer)
               : *name == 'C' ? reinterpret_cast<FARPROC>(&ComPort)
                              : reinterpret_cast<FARPROC>(&SetPort);
    }
    BOOL FreeLibrary(HMODULE) const override { return TRUE; }
    BOOL PurgeComm(HANDLE, DWORD) const override { return TRUE; }
    BOOL ReadFile(HANDLE, void *, DWORD, DWORD *) const override { return FALSE; }
    BOOL CloseHandle(HANDLE) const override { return TRUE; }
    std::time_t Time() const override { return 0; }
    DWORD GetCurrentDirectoryA(DWORD size, char *buffer) const override // as Windows answers
    {
        const DWORD length = static_cast<DWORD>(std::strlen(text.c_str()));
        return length < size ? std::memcpy(buffer, text.c_str(), length + 1), length : length + 1;
    }
    LONG SHGetSpecialFolderLocation(int, ItemIdList **) const override { return answer; }
    BOOL SHGetPathFromIDListA(const ItemIdList *, char *path) const override
    {
        std::memcpy(path, text.c_str(), std::min(text.size() + 1, kPathSize)); // NUL if it fits
        return answer >= 0;
    }
    void FreeIdList(ItemIdList *) const override {}
    Stream *OpenFile(const char *, const char *) const override { return nullptr; }
    bool WriteText(Stream *, const char *, size_t) const override { return false; }
    bool CloseFile(Stream *) const override { return false; }
    BOOL DeleteFileA(const char *) const override { return FALSE; }
    BOOL MoveFileA(const char *, const char *) const override { return FALSE; }
};

} // namespace

// 2007: the application-data folder and "\Tervon\KAV20\work"; below: the current directory with
// its last seven characters replaced by "Work". The longest file path, the folder and
// "\ErrorMessage.csv", must fit in 499 characters.
int FuzzWorkFolder(FuzzedDataProvider &in)
{
    const int family = in.ConsumeBool() ? in.ConsumeIntegral<int>()
                                        : in.PickValueInArray({0, 98, 2000, 2007, 2008});
    answer = in.ConsumeBool() ? 0 : -1;
    const std::string shown = (text = in.ConsumeRemainingBytesAsString()).c_str();
    const bool fromCurrent = family < 2007 && shown.size() >= 7;
    const bool fromAppData = family == 2007 && answer == 0 && !shown.empty();
    const std::string folder =
        fromCurrent ? shown.substr(0, shown.size() - 7) + "Work" : shown + "\\Tervon\\KAV20\\work";
    const bool found = (fromCurrent || fromAppData) && folder.size() + 17 <= 499;
    char workFolder[kPathSize]; // exactly the receiver's 500 bytes, where ASan sees past them
    CHECK(GetWorkFolder(Outside(), workFolder, family) == (found ? 0 : 1));
    CHECK(!found || folder == workFolder);
    return 0;
}

// SetPort gets the first name: up to the first comma or NUL, within the buffer's 100 bytes.
int FuzzPortList(FuzzedDataProvider &in)
{
    answer = in.ConsumeBool() ? in.ConsumeIntegral<int>() : 0;
    const std::string list = (text = in.ConsumeRemainingBytesAsString()).substr(0, 99);
    portName = "(not called)";
    Link link;
    CHECK(OpenLink(Outside(), link) == (answer ? kOpenNoDevicePort : kOpenOk));
    CHECK(portName == (answer ? "(not called)" : list.substr(0, list.find_first_of({",\0", 2}))));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    return FUZZ_ENTRY(in);
}

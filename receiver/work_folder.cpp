// Where the work folder is, by the OS family the library reported.
#include <cstring>

#include "receiver.h"

namespace ostrel
{
namespace
{

constexpr int kFamilyNt6 = 2007;
constexpr int kAppDataFolder = 26; // CSIDL_APPDATA
constexpr char kAppDataSubfolder[] = "\\Tervon\\KAV20\\work";
constexpr char kSiblingName[] = "Work";
constexpr size_t kReplacedLength = 7; // the current directory's last seven characters
constexpr DWORD kCurrentDirectorySize = 499;
// The longest file suffix is "\ErrorMessage.csv" (17): a longer folder would
// leave a path without room for its terminator.
constexpr size_t kMaxWorkFolder = kPathSize - 1 - 17;

// "...\Program" (a folder name of seven characters) becomes "...\Work".
int FromCurrentDirectory(const ReceiverCalls &calls, char (&folder)[kPathSize])
{
    char current[kPathSize];
    DWORD length = calls.GetCurrentDirectoryA(kCurrentDirectorySize, current);
    // 0 is a failure; a result not below the size is the size it would need.
    if (length == 0 || length >= kCurrentDirectorySize) return 1;
    if (length < kReplacedLength) return 1; // nothing to replace
    size_t kept = length - kReplacedLength;
    std::memcpy(folder, current, kept);
    std::memcpy(folder + kept, kSiblingName, sizeof kSiblingName);
    return 0;
}

int FromAppData(const ReceiverCalls &calls, char (&folder)[kPathSize])
{
    ItemIdList *list = nullptr;
    if (calls.SHGetSpecialFolderLocation(kAppDataFolder, &list) < 0) return 1;
    char path[kPathSize];
    std::memset(path, 0, sizeof path);
    BOOL found = calls.SHGetPathFromIDListA(list, path);
    calls.FreeIdList(list);
    path[kPathSize - 1] = '\0';
    size_t length = std::strlen(path);
    if (!found || length == 0 || length + sizeof kAppDataSubfolder > kPathSize) return 1;
    std::memcpy(folder, path, length);
    std::memcpy(folder + length, kAppDataSubfolder, sizeof kAppDataSubfolder);
    return 0;
}

} // namespace

int GetWorkFolder(const ReceiverCalls &calls, char (&folder)[kPathSize], int osFamily)
{
    int result = 1; // a family above NT 6 is none the library knows
    if (osFamily < kFamilyNt6)
        result = FromCurrentDirectory(calls, folder);
    else if (osFamily == kFamilyNt6)
        result = FromAppData(calls, folder);
    if (result != 0) return result;
    return std::strlen(folder) > kMaxWorkFolder ? 1 : 0;
}

} // namespace ostrel

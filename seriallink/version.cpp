#include <cstring>

#include "logic.h"

namespace vetrolink
{

int WindowsVer(const Win32Calls &win)
{
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    // A failed query leaves the record undefined; nothing is known then.
    if (!win.GetVersionExA(&info)) return kFamilyOther;

    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (info.dwMajorVersion == 5) return kFamilyNt5;
        if (info.dwMajorVersion == 6) return kFamilyNt6;
        return kFamilyOther;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return kFamily98;
    return kFamilyOther;
}

int AskVer(char *versionText)
{
    static constexpr char kVersionText[] = "Ver5.1";
    static_assert(sizeof kVersionText == 7, "the text and its NUL");
    std::memcpy(versionText, kVersionText, sizeof kVersionText);
    return 0;
}

} // namespace vetrolink

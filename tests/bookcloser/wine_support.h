// Helpers for tests that run under Wine.
#ifndef VETROLINK_WINE_SUPPORT_H
#define VETROLINK_WINE_SUPPORT_H

#ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

namespace winetest
{

// The folder of the running test program; the deliverables sit beside it.
inline std::string ProgramDir()
{
    char path[MAX_PATH];
    std::string dir(path, GetModuleFileNameA(nullptr, path, sizeof path));
    return dir.substr(0, dir.find_last_of("\\/"));
}

// Calls `create` (a CreateProcess call) and returns its result. Wine 8 now and
// then loses a new process before it runs (ERROR_INTERNAL_ERROR): such a start
// is made again, at most twice, and said on stderr.
inline BOOL StartProcess(const std::function<BOOL()> &create)
{
    for (int attempt = 1;; ++attempt) {
        if (create()) return TRUE;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 3) return FALSE;
        std::fprintf(stderr, "note: Wine lost a new process before it ran (error 1359); "
                             "starting it again\n");
    }
}

} // namespace winetest

#endif

#include "wine_support.h"

#include <cstdio>

namespace winetest
{

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/"));
}

BOOL StartProcess(const std::function<BOOL()> &create)
{
    for (int attempt = 1;; ++attempt) {
        if (create()) return TRUE;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 3) return FALSE;
        std::fprintf(stderr, "note: Wine lost a new process before it ran (error 1359); "
                             "starting it again\n");
    }
}

} // namespace winetest

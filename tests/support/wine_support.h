// Helpers for tests that run under Wine.
#ifndef VETROLINK_WINE_SUPPORT_H
#define VETROLINK_WINE_SUPPORT_H

#ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef SetPort

#include <functional>
#include <string>

namespace winetest
{

// The folder of the running test program; the deliverables sit beside it.
std::string ProgramDir();

// Calls `create` (a CreateProcess call) and returns its result. Wine 8 now and
// then loses a new process before any of its code has run, more often while
// both cores are busy: CreateProcess then fails with ERROR_INTERNAL_ERROR
// (measured: 5 in about 27,000 starts, in bursts). Such a start is made again,
// at most twice, and said on stderr; any other failure is returned at once.
BOOL StartProcess(const std::function<BOOL()> &create);

} // namespace winetest

#endif

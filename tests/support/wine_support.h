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
// (measured: 5 in about 27,000 starts, in bursts). Such a start is made again, at most
// twice, and said on stderr; any other failure is returned at once.
BOOL StartProcess(const std::function<BOOL()> &create);

struct RunResult {
    DWORD exitCode;
    std::string output; // standard output and standard error together
};

// Starts a command line and waits for it (a test fails on time-out and the
// child is ended). currentDir: NULL keeps this process's.
RunResult Run(const std::string &commandLine, const char *currentDir = nullptr,
              DWORD timeoutMs = 60000);

// Runs a copy of the program at exePath, named <stem>-<mode>.exe beside it,
// in Wine's Windows version `mode` (win98, win2k, winxp, win2003, vista,
// win7, win10, ...), set for that file name alone
// (HKCU\Software\Wine\AppDefaults\<name>\Version). The copy and the setting
// are removed afterwards.
RunResult RunInWindowsMode(const std::string &exePath, const char *mode,
                           const std::string &args = "");

// A registry key created for a test and deleted, with everything below it,
// when the object goes. Fails the test if the key already exists.
class ScopedRegistryKey
{
public:
    ScopedRegistryKey(HKEY root, const std::string &path);
    ~ScopedRegistryKey();
    ScopedRegistryKey(const ScopedRegistryKey &) = delete;
    ScopedRegistryKey &operator=(const ScopedRegistryKey &) = delete;

    // Creates a subkey (relative path, may be empty) and sets a string value
    // in it; the value's bytes are written as given, with their NUL.
    void SetString(const std::string &subPath, const char *name, const std::string &value) const;

private:
    HKEY root_;
    std::string path_;
};

} // namespace winetest

#endif

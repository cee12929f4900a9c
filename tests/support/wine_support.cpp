#include "wine_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

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

RunResult Run(const std::string &commandLine, const char *currentDir, DWORD timeoutMs)
{
    RunResult result{~0u, ""};
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
        return result;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    BOOL started = StartProcess([&] {
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, currentDir,
                              &startup, &process);
    });
    CloseHandle(writeEnd);
    if (!started) {
        ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
        CloseHandle(readEnd);
        return result;
    }

    // The pipe is read on this thread while the child runs; a time-out ends
    // the child, which closes its end of the pipe.
    DWORD start = GetTickCount();
    for (;;) {
        DWORD waiting = 0;
        if (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
            char chunk[4096];
            DWORD got = 0;
            if (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr))
                result.output.append(chunk, got);
            continue;
        }
        if (WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0) {
            char chunk[4096];
            DWORD got = 0;
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0 &&
                   ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr))
                result.output.append(chunk, got);
            break;
        }
        if (GetTickCount() - start > timeoutMs) {
            ADD_FAILURE() << commandLine << " did not end within " << timeoutMs << " ms";
            TerminateProcess(process.hProcess, 999);
            WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);
    return result;
}

RunResult RunInWindowsMode(const std::string &exePath, const char *mode, const std::string &args)
{
    std::string::size_type slash = exePath.find_last_of("\\/");
    std::string dir = slash == std::string::npos ? "." : exePath.substr(0, slash);
    std::string name = exePath.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string stem = name.substr(0, name.rfind('.'));
    std::string copyName = stem + "-" + mode + ".exe";
    std::string copyPath = dir + "\\" + copyName;
    if (!CopyFileA(exePath.c_str(), copyPath.c_str(), FALSE)) {
        ADD_FAILURE() << "cannot copy " << exePath << ": error " << GetLastError();
        return RunResult{~0u, ""};
    }
    // The copy's name is this test's own, so removing its setting restores
    // what was there before: nothing.
    const std::string modeKey = "Software\\Wine\\AppDefaults\\" + copyName;
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_CURRENT_USER, modeKey.c_str(), "Version", REG_SZ,
                                             mode, static_cast<DWORD>(strlen(mode) + 1)));
    RunResult result = Run("\"" + copyPath + "\" " + args);
    RegDeleteTreeA(HKEY_CURRENT_USER, modeKey.c_str());
    DeleteFileA(copyPath.c_str());
    return result;
}

ScopedRegistryKey::ScopedRegistryKey(HKEY root, const std::string &path) : root_(root), path_(path)
{
    HKEY key;
    DWORD disposition = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition)
        << path_ << " was left by an earlier run";
    RegCloseKey(key);
}

ScopedRegistryKey::~ScopedRegistryKey() { RegDeleteTreeA(root_, path_.c_str()); }

void ScopedRegistryKey::SetString(const std::string &subPath, const char *name,
                                  const std::string &value) const
{
    HKEY key;
    std::string full = subPath.empty() ? path_ : path_ + "\\" + subPath;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root_, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)));
    RegCloseKey(key);
}

} // namespace winetest

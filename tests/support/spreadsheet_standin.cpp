#include "spreadsheet_standin.h"

#include <gtest/gtest.h>

#include <fstream>

namespace winetest
{
namespace
{

std::string Env(const char *name)
{
    char value[1024];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// A Unix folder as a Windows program sees it.
std::string WindowsFolder(const std::string &unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

} // namespace

std::wstring Widen(const std::string &text, UINT codePage)
{
    int size = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string BinDir()
{
    std::string dir = Env("VL_BIN_DIR");
    return dir.empty() ? winetest::ProgramDir() : WindowsFolder(dir);
}

std::string ToolsDir()
{
    std::string dir = Env("VL_TOOLS_BIN_DIR");
    return dir.empty() ? BinDir() : WindowsFolder(dir);
}

std::string TempFolder()
{
    static int made = 0;
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    std::string folder = std::string(base) + "vl-test-" + std::to_string(GetCurrentProcessId()) +
                         "-" + std::to_string(++made);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

Launched LaunchExact(const std::string &program, const std::string &commandLine)
{
    Launched result;
    const std::string folder = TempFolder();
    const std::string outputPath = folder + "\\output.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION process{};
    std::wstring line = Widen(commandLine, CP_ACP);
    BOOL started = CreateProcessW(Widen(program, CP_ACP).c_str(), &line[0], nullptr, nullptr, TRUE,
                                  0, nullptr, nullptr, &startup, &process);
    if (!started) {
        ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
        CloseHandle(output);
        RemoveDirectoryA(folder.c_str());
        return result;
    }
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << program << " did not end";
        TerminateProcess(process.hProcess, 999);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    char chunk[4096];
    DWORD got = 0;
    SetFilePointer(output, 0, nullptr, FILE_BEGIN);
    while (ReadFile(output, chunk, sizeof chunk, &got, nullptr) && got > 0)
        result.output.append(chunk, got);
    CloseHandle(output); // deletes the file
    RemoveDirectoryA(folder.c_str());
    return result;
}

SpreadsheetStandIn::SpreadsheetStandIn(const std::vector<std::wstring> &options)
    : folder_(TempFolder())
{
    std::wstring line = L"\"" + Widen(ToolsDir() + "\\spreadsheet.exe", CP_ACP) +
                        L"\" --lifetime 60 --log \"" + Widen(LogPath(), CP_ACP) + L"\" --ready \"" +
                        Widen(ReadyPath(), CP_ACP) + L"\"";
    for (const std::wstring &option : options)
        line += L" \"" + option + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process_)) {
        ADD_FAILURE() << "cannot start the stand-in: error " << GetLastError();
        return;
    }
    for (int waited = 0; GetFileAttributesA(ReadyPath().c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += 20) {
        if (waited > 30000 || WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0) {
            ADD_FAILURE() << "the stand-in did not get ready";
            return;
        }
    }
}

SpreadsheetStandIn::~SpreadsheetStandIn() { Stop(); }

bool SpreadsheetStandIn::WaitForEnd(DWORD timeoutMs)
{
    return process_.hProcess != nullptr &&
           WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

std::vector<std::string> SpreadsheetStandIn::Stop()
{
    std::vector<std::string> log;
    if (process_.hProcess == nullptr) return log;
    PostThreadMessageW(process_.dwThreadId, WM_QUIT, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 20000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the stand-in did not end";
        TerminateProcess(process_.hProcess, 999);
        WaitForSingleObject(process_.hProcess, INFINITE);
    }
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = PROCESS_INFORMATION{};
    {
        std::ifstream file(LogPath(), std::ios::binary);
        for (std::string line; std::getline(file, line);)
            log.push_back(line);
    }
    DeleteFileA(LogPath().c_str());
    DeleteFileA(ReadyPath().c_str());
    RemoveDirectoryA(folder_.c_str());
    return log;
}

} // namespace winetest

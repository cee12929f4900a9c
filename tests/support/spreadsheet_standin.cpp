#include "spreadsheet_standin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace winetest
{
namespace
{

std::wstring Widen(const std::string &text)
{
    int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(wide.size() - 1);
    return wide;
}

// VL_TOOLS_BIN_DIR is a Unix path; Z: is the Unix root under Wine.
std::string ToolsDir()
{
    const char *dir = std::getenv("VL_TOOLS_BIN_DIR");
    if (dir == nullptr || *dir == '\0') return ProgramDir();
    std::string path = std::string("Z:") + dir;
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

// Waits for a started process (ending it on time-out) and closes its handles.
DWORD Finish(PROCESS_INFORMATION &process, DWORD timeoutMs, const char *what)
{
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << what << " did not end";
        TerminateProcess(process.hProcess, 999);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD exitCode = ~0u;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = PROCESS_INFORMATION{};
    return exitCode;
}

} // namespace

DWORD LaunchExact(const std::string &program, const std::string &commandLine)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!StartProcess([&] {
            return CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &process);
        })) {
        ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
        return ~0u;
    }
    return Finish(process, 30000, program.c_str());
}

SpreadsheetStandIn::SpreadsheetStandIn(const std::vector<std::wstring> &options)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    static int made = 0;
    folder_ = std::string(temp) + "vl-standin-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++made);
    CreateDirectoryA(folder_.c_str(), nullptr);

    std::wstring line = L"\"" + Widen(ToolsDir() + "\\spreadsheet.exe") +
                        L"\" --lifetime 60 --log \"" + Widen(LogPath()) + L"\" --ready \"" +
                        Widen(ReadyPath()) + L"\"";
    for (const std::wstring &option : options)
        line += L" \"" + option + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!StartProcess([&] {
            return CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process_);
        })) {
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
    Finish(process_, 20000, "the stand-in");
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

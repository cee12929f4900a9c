// The host application's side of the receiver's handshake, for tests, the
// demo and the benchmarks. It prepares the work folder, starts the receiver
// there, watches the exchange files, acknowledges the data and writes what it
// found to a report:
//
//   hoststandin.exe --receiver PATH --report FILE [options]
//     --work DIR             the work folder (default: the application-data
//                            folder's Tervon\KAV20\work, as win7/win10 use)
//     --start-in DIR         the receiver's current directory (default: the
//                            work folder's sibling "Program", whose last seven
//                            characters replaced by "Work" name the folder)
//     --windows-version V    Wine's Windows version for the receiver's file
//                            name while it runs (win98, winxp, win7, win10...)
//     --hold-stop-locked MS  create StopCommand.csv once the receiver waits,
//                            held open without read sharing for MS
//                            milliseconds, then release it
//     --stop-when-receiving  create StopCommand.csv once the block has begun
//     --plant-receive-data   create ReceiveData.csv once the block has begun
//     --hold-status-open     keep the status file open (read, sharing read
//                            and write) and read it while the receiver writes
//     --no-ack               never acknowledge
//     --timeout MS           end the receiver after MS (default 30000)
//
// The report is "key=value" lines; file contents are hex. The receiver's
// exit code is "exit=N", "exit=timeout" when it had to be ended.
//
// release/VetrolinkHost.bas (ReceiveBlock) takes the same steps for VBA
// hosts: its comments name the parts of Run below, and Run's name its steps.
#ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#endif
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace
{

struct Options {
    std::string receiver, report, work, startIn, windowsVersion;
    bool stopWhenReceiving = false, plantReceiveData = false;
    bool holdStatusOpen = false, acknowledge = true;
    DWORD holdStopLockedMs = 0, timeoutMs = 30000;
};

const char kArmedStep[] = "\n5\x81\x46";     // "\n5：": the receiver waits for the first byte
const char kReceivingStep[] = "\n6\x81\x46"; // "\n6：": the block has begun
const DWORD kLookMs = 200; // the longest wait between two looks at the work folder

LARGE_INTEGER Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

double MsSince(LARGE_INTEGER start)
{
    LARGE_INTEGER f, t = Now();
    QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(t.QuadPart - start.QuadPart) /
           static_cast<double>(f.QuadPart);
}

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// Reads a whole file, sharing everything so the receiver is never disturbed.
bool ReadWhole(const std::string &path, std::string &content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    content.clear();
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        content.append(chunk, got);
    CloseHandle(file);
    return true;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Shares nothing: the receiver sees the file only once it is closed, so a
// deletion never waits for this handle (Wine, like Windows, defers it).
void CreateEmpty(const std::string &path, const char *content = "")
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, content, static_cast<DWORD>(strlen(content)), &written, nullptr);
    CloseHandle(file);
}

std::string Parent(const std::string &path) { return path.substr(0, path.find_last_of('\\')); }

void MakeFolder(const std::string &path)
{
    if (path.size() <= 3 || Exists(path)) return;
    MakeFolder(Parent(path));
    CreateDirectoryA(path.c_str(), nullptr);
}

std::string AppDataWorkFolder()
{
    char appData[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, appData);
    return std::string(appData) + "\\Tervon\\KAV20\\work";
}

// Wine's Windows version for one program file name, restored afterwards.
class WindowsVersionFor
{
public:
    WindowsVersionFor(const std::string &exePath, const std::string &version)
    {
        if (version.empty()) return;
        key_ = "Software\\Wine\\AppDefaults\\" + exePath.substr(exePath.find_last_of('\\') + 1);
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            return;
        char old[64];
        DWORD size = sizeof old - 1, type = 0;
        if (RegQueryValueExA(key, "Version", nullptr, &type, reinterpret_cast<BYTE *>(old),
                             &size) == ERROR_SUCCESS) {
            old[size] = '\0';
            had_ = true;
            old_ = old;
        }
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(version.c_str()),
                       static_cast<DWORD>(version.size() + 1));
        RegCloseKey(key);
    }
    ~WindowsVersionFor()
    {
        if (key_.empty()) return;
        if (!had_) {
            RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
            return;
        }
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS)
            return;
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(old_.c_str()),
                       static_cast<DWORD>(old_.size() + 1));
        RegCloseKey(key);
    }

private:
    std::string key_, old_;
    bool had_ = false;
};

bool ParseOptions(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--receiver")
            o.receiver = value();
        else if (a == "--report")
            o.report = value();
        else if (a == "--work")
            o.work = value();
        else if (a == "--start-in")
            o.startIn = value();
        else if (a == "--windows-version")
            o.windowsVersion = value();
        else if (a == "--hold-stop-locked")
            o.holdStopLockedMs = std::strtoul(value().c_str(), nullptr, 10);
        else if (a == "--stop-when-receiving")
            o.stopWhenReceiving = true;
        else if (a == "--plant-receive-data")
            o.plantReceiveData = true;
        else if (a == "--hold-status-open")
            o.holdStatusOpen = true;
        else if (a == "--no-ack")
            o.acknowledge = false;
        else if (a == "--timeout")
            o.timeoutMs = std::strtoul(value().c_str(), nullptr, 10);
        else {
            std::fprintf(stderr, "hoststandin: unknown option %s\n", a.c_str());
            return false;
        }
    }
    return !o.receiver.empty() && !o.report.empty();
}

class Report
{
public:
    void Add(const std::string &key, const std::string &value)
    {
        text_ += key + "=" + value + "\n";
    }
    void Add(const std::string &key, double ms)
    {
        char number[32];
        std::snprintf(number, sizeof number, "%.3f", ms);
        Add(key, std::string(number));
    }
    bool Write(const std::string &path) const
    {
        FILE *out = std::fopen(path.c_str(), "wb");
        bool written = out != nullptr &&
                       std::fwrite(text_.data(), 1, text_.size(), out) == text_.size() &&
                       std::fflush(out) == 0;
        if (out != nullptr && std::fclose(out) != 0) written = false;
        if (!written)
            std::fprintf(stderr, "hoststandin: cannot write the report %s\n", path.c_str());
        return written;
    }

private:
    std::string text_;
};

// Returns when the receiver has ended, the work folder has changed (a file
// made, deleted, renamed or written) or kLookMs have passed: the host waits
// in the kernel, not in a loop.
void WaitForChange(HANDLE process, HANDLE folderChange)
{
    HANDLE events[] = {process, folderChange};
    const DWORD count = folderChange == INVALID_HANDLE_VALUE ? 1 : 2;
    if (WaitForMultipleObjects(count, events, FALSE, kLookMs) == WAIT_OBJECT_0 + 1)
        FindNextChangeNotification(folderChange);
}

// The steps of the host application, with the test's interventions.
int Run(const Options &o)
{
    Report report;
    const std::string work = o.work.empty() ? AppDataWorkFolder() : o.work;
    const std::string startIn = o.startIn.empty() ? Parent(work) + "\\Program" : o.startIn;
    const std::string status = work + "\\ErrorMessage.csv", data = work + "\\ReceiveData.csv";
    const std::string ready = work + "\\DataReady.csv", stop = work + "\\StopCommand.csv";
    // VetrolinkHost.bas step 1 (WorkFolder, MakeFolder).
    MakeFolder(work);
    MakeFolder(startIn);
    report.Add("work", work);

    WindowsVersionFor version(o.receiver, o.windowsVersion);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + o.receiver + "\"";
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    // What an earlier run left; the receiver removes it before it starts
    // its own status file. (VetrolinkHost.bas step 2 deletes it first.)
    bool staleReady = Exists(ready);
    std::string staleStatus;
    if (!ReadWhole(status, staleStatus)) staleStatus = "(none)";
    LARGE_INTEGER started = Now();
    // VetrolinkHost.bas step 3 (StartProgram).
    // Wine 8 now and then loses a new process before any of its code has run
    // (ERROR_INTERNAL_ERROR); such a start is made again, at most twice.
    DWORD startError = 0;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           startIn.c_str(), &startup, &process)) {
            startError = 0;
            break;
        }
        startError = GetLastError();
        if (startError != ERROR_INTERNAL_ERROR) break;
        std::fprintf(stderr, "hoststandin: Wine lost the receiver before it ran (error %lu)\n",
                     startError);
        started = Now();
    }
    if (startError != 0) {
        const std::string error = "cannot start the receiver: error " + std::to_string(startError);
        std::fprintf(stderr, "hoststandin: %s\n", error.c_str());
        report.Add("error", error);
        report.Write(o.report);
        return 1;
    }

    // VetrolinkHost.bas step 4, the wait; step 8, its cancel, where this
    // ends the receiver at the time-out.
    HANDLE heldStatus = INVALID_HANDLE_VALUE;
    HANDLE folderChange = FindFirstChangeNotificationA(
        work.c_str(), FALSE,
        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
    std::set<std::string> statusSeen;
    bool armed = false, receiving = false, acknowledged = false, ended = false;
    std::string text;
    for (;;) {
        ended = WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
        if (o.holdStatusOpen && heldStatus == INVALID_HANDLE_VALUE && !acknowledged)
            heldStatus =
                CreateFileA(status.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
        if (heldStatus != INVALID_HANDLE_VALUE) {
            char chunk[4096];
            DWORD got = 0;
            SetFilePointer(heldStatus, 0, nullptr, FILE_BEGIN);
            if (ReadFile(heldStatus, chunk, sizeof chunk, &got, nullptr)) text.assign(chunk, got);
        } else if (acknowledged || !ReadWhole(status, text)) {
            // Once acknowledged it opens no file: the receiver's deletions
            // would otherwise wait for its handle, and come in another order.
            text.clear();
        }
        if (!text.empty()) statusSeen.insert(text);

        if (!armed && text.find(kArmedStep) != std::string::npos) {
            armed = true;
            report.Add("armed_ms", MsSince(started));
            if (o.holdStopLockedMs) {
                HANDLE locked =
                    CreateFileA(stop.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
                Sleep(o.holdStopLockedMs);
                bool running = WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
                report.Add("running_while_stop_locked", running ? "1" : "0");
                CloseHandle(locked);
            }
        }
        if (!receiving && text.find(kReceivingStep) != std::string::npos) {
            receiving = true;
            report.Add("receiving_ms", MsSince(started));
            if (o.plantReceiveData) CreateEmpty(data, "planted\r\n");
            if (o.stopWhenReceiving) CreateEmpty(stop);
        }
        // A DataReady.csv left from an earlier run counts only once the
        // receiver has removed it or rewritten the status file; the data is
        // there only when the status file says "0".
        if (staleReady && (!Exists(ready) || (!text.empty() && text != staleStatus)))
            staleReady = false;
        std::string statusText;
        if (!acknowledged && !staleReady && Exists(ready) && ReadWhole(status, statusText) &&
            (statusText == "0" || ended)) {
            report.Add("data_ready_ms", MsSince(started));
            if (heldStatus != INVALID_HANDLE_VALUE) CloseHandle(heldStatus);
            heldStatus = INVALID_HANDLE_VALUE;
            // VetrolinkHost.bas steps 5 and 6 (ReadText, ParseBlock, CreateMarker).
            report.Add("ready_status_hex", Hex(statusText));
            std::string dataText;
            if (statusText == "0" && ReadWhole(data, dataText)) {
                report.Add("data_hex", Hex(dataText));
                if (o.acknowledge) CreateEmpty(stop);
            }
            acknowledged = true;
        }
        if (ended) break;
        if (MsSince(started) > o.timeoutMs) {
            TerminateProcess(process.hProcess, 999);
            WaitForSingleObject(process.hProcess, INFINITE);
            report.Add("exit", "timeout");
            break;
        }
        WaitForChange(process.hProcess, folderChange);
    }
    if (heldStatus != INVALID_HANDLE_VALUE) CloseHandle(heldStatus);
    if (folderChange != INVALID_HANDLE_VALUE) FindCloseChangeNotification(folderChange);

    // VetrolinkHost.bas step 7.
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    if (ended) report.Add("exit", std::to_string(exitCode));
    std::fprintf(stderr,
                 ended ? "hoststandin: the receiver ended with exit code %lu\n"
                       : "hoststandin: the receiver was ended after the time-out\n",
                 exitCode);
    report.Add("cycle_ms", MsSince(started));
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);

    std::string finalStatus;
    if (ReadWhole(status, finalStatus)) report.Add("final_status_hex", Hex(finalStatus));
    for (const std::string &seen : statusSeen)
        report.Add("status_seen_hex", Hex(seen));
    for (const char *name : {"ReceiveData.csv", "DataReady.csv", "ErrorMessage.csv",
                             "StopCommand.csv", "tempdata.csv"})
        if (Exists(work + "\\" + name)) report.Add("left", name);
    return report.Write(o.report) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: hoststandin.exe --receiver PATH --report FILE [options]\n");
        return 2;
    }
    return Run(options);
}

// The receiver's outside world in memory behind its seam (receiver_calls.h), for the cycle test
// and the fuzz targets. The device sends a byte a read, the clock reads 0 from the first on and
// moves with the 350th; then the clock jumps and a stop marker appears, so every wait ends. The
// host acknowledges once DataReady.csv exists. A file opened outside the work folder, or with its
// name cut short, is logged among the calls. The tick count starts just before its wrap and
// moves with pauses and reads that wait; the device is silent for firstByteMs of it, and the host
// makes the stop marker stopMs into the wait for the first byte or for the acknowledgement.
#ifndef OSTREL_TESTS_FAKE_CALLS_H
#define OSTREL_TESTS_FAKE_CALLS_H

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "receiver.h"

namespace ostrel::testing
{

class FakeCalls final : public ReceiverCalls
{
public:
    // The current directory and the application-data path, as Windows and the shell give them;
    // by default the current directory that leaves the longest work folder, workFolder.
    std::string directory = std::string(485, 'd'), workFolder = std::string(478, 'd') + "Work";
    int shellAnswer = 0; // below 0: the shell finds no folder; above: it gives no path for it
    std::string portList = std::string(kPortListSize, 'C'); // ComPort's bytes: no comma, no NUL
    int comPortResult = 0, setPortResult = 0; // the handle is stored whatever SetPort answers
    std::time_t lastByteClock = 0;
    DWORD firstByteMs = 0, stopMs = 0;                          // see above
    enum { kWaits, kReturnsAtOnce, kFails } emptyRead = kWaits; // a read with nothing to read
    mutable COMMTIMEOUTS timeouts{};                            // as last set on the port
    mutable int stopLooks = 0;                                  // StopCommand.csv opened to read
    mutable uint64_t elapsed = 0, readyAt = 0; // ms the count moved; when DataReady.csv came
    mutable std::vector<std::string> calls;    // releases, the rename and stray paths, in order
    mutable std::vector<int> line; // as SetPort was asked: baud, data bits, parity, stop bits
    mutable std::string portName;  // as SetPort got it

    FakeCalls() { current = this; }
    static inline const HANDLE kPort = reinterpret_cast<HANDLE>(0x31);
    static constexpr DWORD kStartTick = 0xFFFFFFFF - 20; // the count wraps in the first wait

    HMODULE LoadLibraryA(const char *) const override { return reinterpret_cast<HMODULE>(1); }
    FARPROC GetProcAddress(HMODULE, const char *name) const override
    {
        const std::string exported = name;
        if (exported == "WindowsVer") return reinterpret_cast<FARPROC>(&WindowsVer);
        if (exported == "ComPort") return reinterpret_cast<FARPROC>(&ComPort);
        return exported == "SetPort" ? reinterpret_cast<FARPROC>(&SetPort) : nullptr;
    }
    BOOL FreeLibrary(HMODULE) const override { return Call("FreeLibrary"); }
    BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS *set) const override
    {
        timeouts = *set;
        return Call(port == kPort ? "SetCommTimeouts" : "SetCommTimeouts elsewhere");
    }
    BOOL PurgeComm(HANDLE, DWORD) const override { return TRUE; }
    BOOL ReadFile(HANDLE, void *byte, DWORD, DWORD *transferred) const override
    {
        *transferred = 0;
        if (elapsed < firstByteMs) { // silent: the read fails, returns at once or waits as told
            if (emptyRead == kFails) return FALSE;
            const uint64_t wait = emptyRead == kWaits ? timeouts.ReadTotalTimeoutConstant : 0;
            if (elapsed + wait < firstByteMs) return elapsed += wait, TRUE;
            elapsed = firstByteMs; // the first byte arrives during the wait
        }
        *transferred = ++reads <= kBlockSize ? 1 : 0;
        if (*transferred) *static_cast<unsigned char *>(byte) = static_cast<unsigned char>(reads);
        clock = reads < kBlockSize ? 0 : reads == kBlockSize ? lastByteClock : clock + 10;
        if (reads > kBlockSize) files.insert("StopCommand.csv");
        return TRUE;
    }
    BOOL CloseHandle(HANDLE) const override { return Call("CloseHandle"); }
    std::time_t Time() const override { return clock; }
    DWORD GetTickCount() const override { return static_cast<DWORD>(kStartTick + elapsed); }
    void Sleep(DWORD ms) const override { elapsed += ms; }

    DWORD GetCurrentDirectoryA(DWORD size, char *buffer) const override // as Windows answers
    {
        const DWORD length = static_cast<DWORD>(std::strlen(directory.c_str()));
        if (length < size) std::memcpy(buffer, directory.c_str(), length + 1);
        return length < size ? length : length + 1; // too small: the size it would need
    }
    LONG SHGetSpecialFolderLocation(int, ItemIdList **) const override
    {
        return std::min(shellAnswer, 0);
    }
    BOOL SHGetPathFromIDListA(const ItemIdList *, char *path) const override // NUL if it fits
    {
        std::memcpy(path, directory.c_str(), std::min(directory.size() + 1, kPathSize));
        return shellAnswer == 0;
    }
    void FreeIdList(ItemIdList *) const override {}

    Stream *OpenFile(const char *path, const char *mode) const override
    {
        const std::string full = path, name = full.substr(full.rfind('\\') + 1);
        if (full != workFolder + "\\" + name || full.substr(full.size() - 4) != ".csv") Call(path);
        if (*mode != 'r') files.insert(name);
        if (name == "DataReady.csv") readyAt = elapsed;
        if (name == "StopCommand.csv" && *mode == 'r') ++stopLooks;
        const bool ready = files.count("DataReady.csv");
        if (((ready || firstByteMs > 0) && elapsed >= (ready ? readyAt : 0) + stopMs) ||
            stopLooks > 10000) // a wait that spins ends too, after 10,000 looks
            files.insert("StopCommand.csv");
        return files.count(name) ? reinterpret_cast<Stream *>(&files) : nullptr;
    }
    bool WriteText(Stream *, const char *, size_t) const override { return true; }
    bool CloseFile(Stream *) const override { return true; }
    BOOL DeleteFileA(const char *) const override { return TRUE; }
    BOOL MoveFileA(const char *, const char *) const override { return Call("MoveFileA"); }

private:
    static inline const FakeCalls *current = nullptr;
    mutable std::set<std::string> files; // written in the work folder, by name
    mutable int reads = 0;
    mutable std::time_t clock = -10; // the wait for the first byte began earlier

    static int VETROLINK_CALL WindowsVer() { return 2000; }
    static int VETROLINK_CALL ComPort(int, int, int *, char *list)
    {
        const std::string &bytes = current->portList; // the NUL if it fits
        std::memcpy(list, bytes.c_str(), std::min(bytes.size() + 1, kPortListSize));
        return current->comPortResult;
    }
    static int VETROLINK_CALL SetPort(DWORD baud, int dataBits, int parity, int stopBits,
                                      HANDLE *port, const char *name)
    {
        current->line = {static_cast<int>(baud), dataBits, parity, stopBits};
        current->portName = name;
        *port = kPort;
        return current->setPortResult;
    }
    BOOL Call(const char *name) const { return calls.push_back(name), TRUE; }
};

} // namespace ostrel::testing

#endif

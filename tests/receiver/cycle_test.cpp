// The receiver through its seam, for what Wine cannot show (the rest: e2e_test.py).
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "receiver.h"

namespace ostrel
{
namespace
{

using Calls = std::vector<std::string>;

// The outside world in memory. The device sends a byte a read, the clock reads
// 0 from the first on and moves with the 350th; then the clock jumps and a stop
// marker appears, so every wait ends. The host acknowledges once DataReady.csv
// exists. The library fills the port list's 100 bytes with no comma, no NUL.
class FakeCalls final : public ReceiverCalls
{
public:
    std::time_t lastByteClock = 0;
    int setPortResult = 0; // the handle is stored whatever the result
    std::string currentDirectory = std::string(485, 'd'), appData; // "": the shell names none
    std::string workFolder = std::string(478, 'd') + "Work"; // the longest: ErrorMessage.csv's 499
    mutable std::set<std::string> files;                     // written in the work folder, by name
    mutable Calls calls;                                     // releases and the rename, in order
    mutable std::vector<int> line; // as SetPort was asked: baud, data bits, parity, stop bits
    mutable std::string portName;  // as SetPort got it

    FakeCalls() { current = this; }

    HMODULE LoadLibraryA(const char *) const override { return reinterpret_cast<HMODULE>(1); }
    FARPROC GetProcAddress(HMODULE, const char *name) const override
    {
        const std::string exported = name;
        if (exported == "WindowsVer") return reinterpret_cast<FARPROC>(&WindowsVer);
        if (exported == "ComPort") return reinterpret_cast<FARPROC>(&ComPort);
        return exported == "SetPort" ? reinterpret_cast<FARPROC>(&SetPort) : nullptr;
    }
    BOOL FreeLibrary(HMODULE) const override { return Call("FreeLibrary"); }
    BOOL PurgeComm(HANDLE, DWORD) const override { return TRUE; }
    BOOL ReadFile(HANDLE, void *byte, DWORD, DWORD *transferred) const override
    {
        *transferred = ++reads <= kBlockSize ? 1 : 0;
        if (*transferred) *static_cast<unsigned char *>(byte) = static_cast<unsigned char>(reads);
        clock = reads < kBlockSize ? 0 : reads == kBlockSize ? lastByteClock : clock + 10;
        if (reads > kBlockSize) files.insert("StopCommand.csv");
        return TRUE;
    }
    BOOL CloseHandle(HANDLE) const override { return Call("CloseHandle"); }
    std::time_t Time() const override { return clock; }

    DWORD GetCurrentDirectoryA(DWORD size, char *buffer) const override
    {
        const DWORD length = static_cast<DWORD>(currentDirectory.size());
        if (length >= size) return length + 1; // the size it would need
        std::strcpy(buffer, currentDirectory.c_str());
        return length;
    }
    LONG SHGetSpecialFolderLocation(int, ItemIdList **) const override
    {
        return appData.empty() ? -1 : 0;
    }
    BOOL SHGetPathFromIDListA(const ItemIdList *, char *path) const override
    {
        std::strcpy(path, appData.c_str());
        return TRUE;
    }
    void FreeIdList(ItemIdList *) const override {}

    Stream *OpenFile(const char *path, const char *mode) const override
    {
        // Every file is in the work folder, its name not cut short.
        const std::string full = path, name = full.substr(full.rfind('\\') + 1);
        EXPECT_EQ(workFolder + "\\" + name, full);
        EXPECT_EQ(name.size() - 4, name.rfind(".csv")) << name;
        if (*mode != 'r') files.insert(name);
        if (files.count("DataReady.csv")) files.insert("StopCommand.csv");
        return files.count(name) ? reinterpret_cast<Stream *>(&files) : nullptr;
    }
    bool WriteText(Stream *, const char *, size_t) const override { return true; }
    bool CloseFile(Stream *) const override { return true; }
    BOOL DeleteFileA(const char *) const override { return TRUE; }
    BOOL MoveFileA(const char *, const char *) const override { return Call("MoveFileA"); }

private:
    static inline const FakeCalls *current = nullptr;
    mutable int reads = 0;
    mutable std::time_t clock = -10; // the wait for the first byte began earlier

    static int VETROLINK_CALL WindowsVer() { return 2000; }
    static int VETROLINK_CALL ComPort(int, int, int *, char *list)
    {
        std::memset(list, 'C', kPortListSize);
        return 0;
    }
    static int VETROLINK_CALL SetPort(DWORD baud, int dataBits, int parity, int stopBits,
                                      HANDLE *port, const char *name)
    {
        current->line = {static_cast<int>(baud), dataBits, parity, stopBits};
        current->portName = name;
        *port = reinterpret_cast<HANDLE>(0x31);
        return current->setPortResult;
    }
    BOOL Call(const char *name) const
    {
        calls.push_back(name);
        return TRUE;
    }
};

// The 350th byte arrives in the pass in which the clock shows two seconds
// more than at the first byte (inside the limit), or three (past it).
TEST(ReceiveCycle, EndsTheBlockOnlyWhenTheClockHasMovedMoreThanTwoSeconds)
{
    const struct {
        std::time_t lastByteClock;
        int exitCode;
        Calls calls; // the port closed, then the library freed, before the block is published
    } rows[] = {
        {2, kExitAcknowledged, {"CloseHandle", "FreeLibrary", "MoveFileA"}},
        {3, kExitTimedOut, {"CloseHandle", "FreeLibrary"}},
    };
    for (const auto &row : rows) {
        FakeCalls fake;
        fake.lastByteClock = row.lastByteClock;
        EXPECT_EQ(row.exitCode, ReceiveCycle(fake)) << row.lastByteClock;
        EXPECT_EQ(row.calls, fake.calls);
    }
}

TEST(ReceiveCycle, AsksForTheDevicesLineAndReleasesWhatItTookWhenStartUpFails)
{
    FakeCalls fake;
    fake.setPortResult = 3; // the port opened, its purge failed: the handle is the receiver's
    EXPECT_EQ(kExitLinkFailed, ReceiveCycle(fake));
    EXPECT_EQ((std::vector<int>{19200, 8, 0, 0}), fake.line); // 8N1: parity 0 none, stop bits 0 one
    EXPECT_EQ(std::string(kPortListSize - 1, 'C'), fake.portName); // the list cut in its buffer
    EXPECT_EQ((Calls{"CloseHandle", "FreeLibrary"}), fake.calls);
}

// Each rule's input at its longest and one byte longer, under the sanitizers.
TEST(WorkFolder, LeavesRoomForEveryFilesPathAndWritesNothingPastItsBuffer)
{
    const std::string current(485, 'd'), appData(464, 'a'); // folders of 482 characters
    const struct {
        int family;
        std::string input, expected; // the current directory or the application-data path
    } rows[] = {
        {98, "C:\\a\\bc\\def", "C:\\aWork"}, // whatever the seven characters are
        {0, current, current.substr(0, 478) + "Work"},
        {2000, current + "d", ""},       // a file's path would not fit: exit code 1
        {98, std::string(500, 'd'), ""}, // more than the 499 bytes asked for
        {2007, appData, appData + "\\Tervon\\KAV20\\work"},
        {2007, std::string(481, 'a'), ""}, // the whole buffer, but no room for a file name
        {2007, std::string(482, 'a'), ""}, // one byte past the buffer
        {2007, "", ""},                    // the shell names no folder
    };
    for (const auto &row : rows) {
        FakeCalls fake;
        fake.currentDirectory = fake.appData = row.input;
        char folder[kPathSize] = ""; // as the cycle starts it
        EXPECT_EQ(row.expected.empty() ? 1 : 0, GetWorkFolder(fake, folder, row.family))
            << row.input.size();
        if (!row.expected.empty()) EXPECT_EQ(row.expected, folder);
    }
}

} // namespace
} // namespace ostrel

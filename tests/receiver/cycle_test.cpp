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
    std::string currentDirectory = "C:\\host\\Program";
    mutable std::set<std::string> files; // written in the work folder, by name
    mutable Calls calls;                 // releases and the rename, in order
    mutable std::string portName;        // as SetPort got it

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
    LONG SHGetSpecialFolderLocation(int, ItemIdList **) const override { return -1; }
    BOOL SHGetPathFromIDListA(const ItemIdList *, char *) const override { return FALSE; }
    void FreeIdList(ItemIdList *) const override {}

    Stream *OpenFile(const char *path, const char *mode) const override
    {
        const std::string name = std::strrchr(path, '\\') + 1;
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
    static int VETROLINK_CALL SetPort(DWORD, int, int, int, HANDLE *port, const char *name)
    {
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

TEST(ReceiveCycle, AFailedStartUpReleasesWhatItTookAndTouchesNoFile)
{
    FakeCalls fake;
    fake.setPortResult = 3; // the port opened, its purge failed: the handle is the receiver's
    EXPECT_EQ(kExitLinkFailed, ReceiveCycle(fake));
    EXPECT_EQ(std::string(kPortListSize - 1, 'C'), fake.portName); // the list cut in its buffer
    EXPECT_EQ((Calls{"CloseHandle", "FreeLibrary"}), fake.calls);
    EXPECT_TRUE(fake.files.empty());
}

TEST(WorkFolder, ReplacesTheLastSevenCharactersAndLeavesRoomForEveryFileName)
{
    const std::string longest(485, 'd'); // the folder: 482 characters, ErrorMessage.csv's 499
    const std::pair<std::string, std::string> rows[] = {
        {"C:\\a\\bc\\def", "C:\\aWork"}, // whatever the seven characters are
        {longest, longest.substr(0, 478) + "Work"},
        {longest + "d", ""},         // a file's path would not fit
        {std::string(499, 'd'), ""}, // more than the 499 bytes asked for
    };
    for (const auto &[currentDirectory, expected] : rows) {
        for (int family : {98, 2000, 0}) {
            FakeCalls fake;
            fake.currentDirectory = currentDirectory;
            char folder[kPathSize] = "";
            EXPECT_EQ(expected.empty() ? 1 : 0, GetWorkFolder(fake, folder, family)) << expected;
            EXPECT_EQ(expected, expected.empty() ? "" : folder);
        }
    }
}

} // namespace
} // namespace ostrel

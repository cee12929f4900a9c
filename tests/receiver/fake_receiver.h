// A fake of the receiver's seam: a library whose exports the test shapes, a
// device that delivers bytes pass by pass, a clock the test moves, a work
// folder in memory and a host that acknowledges once the data is ready.
#ifndef OSTREL_TESTS_FAKE_RECEIVER_H
#define OSTREL_TESTS_FAKE_RECEIVER_H

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "receiver.h"

namespace ostrel::testing
{

constexpr std::time_t kStartClock = 1000000;
constexpr int kKeepClock = -1;
constexpr int kNoByte = -1;

// What happens at one ReadFile call, counted from the first read after the
// purge: a byte arrives (or none), and the clock shows a time from then on.
struct Pass {
    int byte = kNoByte;
    std::time_t clock = kKeepClock;
};

struct FakeFile {
    std::string content;
    bool readLocked = false;  // held open by another process without read sharing
    bool undeletable = false; // held open without delete sharing
};

class FakeReceiver : public ReceiverCalls
{
public:
    FakeReceiver();
    ~FakeReceiver();

    // --- the library --------------------------------------------------
    bool libraryPresent = true;
    std::set<std::string> missingExports;
    int osFamily = 2000;
    int comPortResult = 0;
    std::string portList = "COM31,";
    int setPortResult = 0; // 3: stores the handle and fails
    bool closeHandleFails = false;
    bool freeLibraryFails = false;

    // --- the device and the clock ------------------------------------
    std::vector<Pass> passes; // from the first read after the purge
    std::deque<unsigned char> sentBeforePurge;
    std::time_t clock = kStartClock;

    // --- the work folder ---------------------------------------------
    std::string currentDirectory = "C:\\host\\Program";
    bool currentDirectoryFails = false;
    DWORD currentDirectoryLength = 0; // when not 0, what GetCurrentDirectoryA answers
    std::string appData = "C:\\users\\me\\AppData\\Roaming";
    bool appDataLocationFails = false;
    bool appDataPathFails = false;
    std::string folder = "C:\\host\\Work";
    std::map<std::string, FakeFile> files;   // by file name, inside `folder`
    std::set<std::string> openFails;         // file names
    std::map<std::string, int> writeFailsAt; // file name -> 0-based write call
    std::set<std::string> closeFails;        // file names
    bool hostAcknowledges = true;            // creates StopCommand.csv once the data is ready

    // Runs at every ReadFile, before the byte of the pass is delivered.
    std::function<void(int read)> onRead;

    // --- what the receiver did ----------------------------------------
    std::vector<std::string> calls;         // in order
    std::vector<std::string> statusHistory; // ErrorMessage.csv after every write to it
    std::map<std::string, FakeFile> filesWhenAcknowledged;
    std::string portName; // what SetPort got
    int comPortVendor = -1, comPortProduct = -1;
    DWORD setPortBaud = 0;
    int setPortDataBits = -1, setPortParity = -1, setPortStopBits = -1;
    int reads = 0;
    int openStreams = 0;
    int idListsOutstanding = 0;

    bool Has(const std::string &name) const { return files.count(name) != 0; }
    const std::string &Content(const std::string &name) { return files[name].content; }
    bool Called(const std::string &call) const;
    std::string Path(const std::string &name) const { return folder + "\\" + name; }

    // The seam.
    HMODULE LoadLibraryA(const char *fileName) const override;
    FARPROC GetProcAddress(HMODULE library, const char *exportName) const override;
    BOOL FreeLibrary(HMODULE library) const override;
    BOOL PurgeComm(HANDLE port, DWORD flags) const override;
    BOOL ReadFile(HANDLE port, void *buffer, DWORD count, DWORD *transferred) const override;
    BOOL CloseHandle(HANDLE port) const override;
    std::time_t Time() const override;
    DWORD GetCurrentDirectoryA(DWORD size, char *buffer) const override;
    LONG SHGetSpecialFolderLocation(int folder, ItemIdList **list) const override;
    BOOL SHGetPathFromIDListA(const ItemIdList *list, char *path) const override;
    void FreeIdList(ItemIdList *list) const override;
    Stream *OpenFile(const char *path, const char *mode) const override;
    bool WriteText(Stream *stream, const char *text, size_t length) const override;
    bool CloseFile(Stream *stream) const override;
    BOOL DeleteFileA(const char *path) const override;
    BOOL MoveFileA(const char *from, const char *to) const override;

    static HANDLE PortHandle() { return reinterpret_cast<HANDLE>(0x31); }

private:
    struct OpenStream {
        std::string name;
        int writes = 0;
        bool open = true;
    };
    FakeReceiver &Self() const { return const_cast<FakeReceiver &>(*this); }
    std::string NameIn(const char *path) const; // "" when outside the work folder
    void Record(const std::string &call) const { Self().calls.push_back(call); }
    void Acknowledge();
    void Stall(const char *where) const;

    std::deque<unsigned char> arrived_;
    std::vector<OpenStream> streams_;
    int idleReads_ = 0;
    int stopPolls_ = 0;
    int timeReads_ = 0;
};

// The block 0, 1, ..., 255, 0, 1, ... as passes with one byte each.
std::vector<Pass> BlockPasses(int count, std::time_t clock = kKeepClock);

} // namespace ostrel::testing

#endif

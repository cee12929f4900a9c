// A fake of the receiver's seam: a library whose exports the test shapes, a
// device that delivers bytes pass by pass, a clock the test moves, a work
// folder in memory and a host that acknowledges once the data is ready.
#ifndef OSTREL_TESTS_FAKE_RECEIVER_H
#define OSTREL_TESTS_FAKE_RECEIVER_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

// The block 0, 1, ..., 255, 0, 1, ... as passes with one byte each.
inline std::vector<Pass> BlockPasses(int count, std::time_t clock = kKeepClock)
{
    std::vector<Pass> passes;
    for (int i = 0; i < count; ++i)
        passes.push_back(Pass{i % 256, clock});
    return passes;
}

class FakeReceiver : public ReceiverCalls
{
public:
    FakeReceiver() { current = this; }
    ~FakeReceiver()
    {
        EXPECT_EQ(0, openStreams_) << "a file stream was left open";
        EXPECT_EQ(0, idListsOutstanding_) << "an item list was not freed";
        current = nullptr;
    }

    // --- the library --------------------------------------------------
    bool libraryPresent = true;
    std::set<std::string> missingExports;
    int osFamily = 2000;
    int comPortResult = 0;
    std::string portList = "COM31,"; // copied into the caller's 100 bytes, cut there
    int setPortResult = 0;           // 3: stores the handle and fails

    // --- the device and the clock ------------------------------------
    std::vector<Pass> passes; // from the first read after the purge
    std::time_t clock = kStartClock;

    // --- the work folder ---------------------------------------------
    std::string currentDirectory = "C:\\host\\Program";
    bool currentDirectoryFails = false;
    DWORD currentDirectoryLength = 0; // when not 0, the length answered ("C:\" then 'd's)
    std::string appData = "C:\\users\\me\\AppData\\Roaming";
    bool appDataLocationFails = false;
    bool appDataPathFails = false;
    std::map<std::string, std::string> files; // by name, inside C:\host\Work
    std::set<std::string> openFails;          // file names
    std::map<std::string, int> writeFailsAt;  // file name -> 0-based write call
    std::set<std::string> closeFails;         // file names
    bool hostAcknowledges = true;             // creates StopCommand.csv once the data is ready

    // Runs at every ReadFile, before the byte of the pass is delivered.
    std::function<void(int read)> onRead;

    // --- what the receiver did ----------------------------------------
    std::vector<std::string> calls; // in order: "SetPort 19200 8 0 0 COM31", "FreeLibrary" ...
    std::map<std::string, std::string> filesWhenAcknowledged;
    int reads = 0;

    bool Has(const std::string &name) const { return files.count(name) != 0; }
    long At(const std::string &call) const // calls.size() when never made
    {
        return std::find(calls.begin(), calls.end(), call) - calls.begin();
    }
    bool Called(const std::string &call) const { return At(call) < long(calls.size()); }
    static HANDLE PortHandle() { return reinterpret_cast<HANDLE>(0x31); }

    // --- the seam -----------------------------------------------------
    HMODULE LoadLibraryA(const char *fileName) const override
    {
        Record(std::string("LoadLibraryA ") + fileName);
        return libraryPresent ? Library() : nullptr;
    }

    FARPROC GetProcAddress(HMODULE library, const char *exportName) const override
    {
        EXPECT_EQ(Library(), library);
        std::string name = exportName;
        if (missingExports.count(name)) return nullptr;
        if (name == "WindowsVer") return reinterpret_cast<FARPROC>(&WindowsVer);
        if (name == "ComPort") return reinterpret_cast<FARPROC>(&ComPort);
        if (name == "SetPort") return reinterpret_cast<FARPROC>(&SetPort);
        return nullptr;
    }

    BOOL FreeLibrary(HMODULE library) const override
    {
        EXPECT_EQ(Library(), library);
        Record("FreeLibrary");
        return TRUE;
    }

    BOOL PurgeComm(HANDLE port, DWORD flags) const override
    {
        EXPECT_EQ(PortHandle(), port);
        EXPECT_EQ(PURGE_TXCLEAR | PURGE_RXCLEAR, flags);
        Record("PurgeComm");
        return TRUE;
    }

    BOOL ReadFile(HANDLE port, void *buffer, DWORD count, DWORD *transferred) const override
    {
        EXPECT_EQ(PortHandle(), port);
        EXPECT_EQ(1u, count);
        EXPECT_TRUE(Called("PurgeComm")) << "read before the purge";
        FakeReceiver &self = Self();
        int read = self.reads++;
        if (onRead) onRead(read);
        *transferred = 0;
        if (read >= static_cast<int>(passes.size())) {
            if (++self.idleReads_ == kStallPasses) Stall("the device has nothing more to send");
            return TRUE;
        }
        const Pass &pass = passes[read];
        if (pass.clock != kKeepClock) self.clock = pass.clock;
        if (pass.byte == kNoByte) return TRUE;
        *static_cast<unsigned char *>(buffer) = static_cast<unsigned char>(pass.byte);
        *transferred = 1;
        return TRUE;
    }

    BOOL CloseHandle(HANDLE port) const override
    {
        EXPECT_EQ(PortHandle(), port);
        Record("CloseHandle");
        return TRUE;
    }

    std::time_t Time() const override { return clock; }

    DWORD GetCurrentDirectoryA(DWORD size, char *buffer) const override
    {
        Record("GetCurrentDirectoryA");
        if (currentDirectoryFails) return 0;
        DWORD length = currentDirectoryLength ? currentDirectoryLength
                                              : static_cast<DWORD>(currentDirectory.size());
        if (length >= size) return length + 1; // the size it would need
        std::memset(buffer, 'd', length);
        std::memcpy(buffer, currentDirectory.c_str(),
                    std::min<size_t>(length, currentDirectory.size()));
        buffer[length] = '\0';
        return length;
    }

    LONG SHGetSpecialFolderLocation(int folderId, ItemIdList **list) const override
    {
        EXPECT_EQ(26, folderId);                                        // CSIDL_APPDATA
        if (appDataLocationFails) return static_cast<LONG>(0x80004005); // E_FAIL
        *list = reinterpret_cast<ItemIdList *>(new char[1]);
        ++Self().idListsOutstanding_;
        return 0;
    }

    BOOL SHGetPathFromIDListA(const ItemIdList *, char *path) const override
    {
        std::strcpy(path, appData.c_str()); // as the shell does: up to MAX_PATH characters
        return !appDataPathFails;           // a failure may leave text behind
    }

    void FreeIdList(ItemIdList *list) const override
    {
        delete[] reinterpret_cast<char *>(list);
        --Self().idListsOutstanding_;
    }

    Stream *OpenFile(const char *path, const char *mode) const override
    {
        FakeReceiver &self = Self();
        std::string name = NameIn(path), m = mode;
        if (name.empty() || openFails.count(name)) return nullptr;
        if (m != "r") {
            std::string &content = self.files[name];
            if (m == "w") content.clear();
        } else if (name == "StopCommand.csv") {
            if (hostAcknowledges && Has("DataReady.csv") && Has("ReceiveData.csv")) {
                self.filesWhenAcknowledged = files;
                self.files[name];
                self.hostAcknowledges = false;
            }
            if (++self.stopPolls_ % kStallPasses == 0) Stall("no stop marker comes");
        }
        if (!Has(name)) return nullptr;
        self.streams_.push_back(OpenStream{name});
        ++self.openStreams_;
        return reinterpret_cast<Stream *>(self.streams_.size()); // 1-based index
    }

    bool WriteText(Stream *stream, const char *text, size_t length) const override
    {
        OpenStream &s = Self().streams_.at(reinterpret_cast<size_t>(stream) - 1);
        EXPECT_TRUE(s.open);
        auto fails = writeFailsAt.find(s.name);
        if (fails != writeFailsAt.end() && fails->second == s.writes++) return false;
        Self().files[s.name].append(text, length);
        return true;
    }

    bool CloseFile(Stream *stream) const override
    {
        OpenStream &s = Self().streams_.at(reinterpret_cast<size_t>(stream) - 1);
        EXPECT_TRUE(s.open) << s.name << " closed twice";
        s.open = false;
        --Self().openStreams_;
        return closeFails.count(s.name) == 0;
    }

    BOOL DeleteFileA(const char *path) const override
    {
        Record("DeleteFileA " + NameIn(path));
        return Self().files.erase(NameIn(path)) != 0;
    }

    BOOL MoveFileA(const char *from, const char *to) const override
    {
        std::string source = NameIn(from), target = NameIn(to);
        Record("MoveFileA " + source + " " + target);
        if (!Has(source) || Has(target)) return FALSE;
        Self().files[target] = files.at(source);
        Self().files.erase(source);
        return TRUE;
    }

private:
    // Loops of the cycle that never end on their own (first byte,
    // acknowledgement) are cut short after this many idle passes, and the
    // test fails.
    static constexpr int kStallPasses = 1000000;
    static constexpr char kFolder[] = "C:\\host\\Work\\";
    static inline FakeReceiver *current = nullptr;

    struct OpenStream {
        std::string name;
        int writes = 0;
        bool open = true;
    };

    static HMODULE Library() { return reinterpret_cast<HMODULE>(0x7e70); }
    static int WindowsVer() { return current->osFamily; }
    static int ComPort(int vendorId, int productId, int *portCount, char *portList)
    {
        current->Record("ComPort " + std::to_string(vendorId) + " " + std::to_string(productId));
        *portCount = 1;
        std::memcpy(portList, current->portList.c_str(),
                    std::min(current->portList.size() + 1, kPortListSize));
        return current->comPortResult;
    }
    static int SetPort(DWORD baudRate, int dataBits, int parity, int stopBits, HANDLE *port,
                       const char *portName)
    {
        current->Record("SetPort " + std::to_string(baudRate) + " " + std::to_string(dataBits) +
                        " " + std::to_string(parity) + " " + std::to_string(stopBits) + " " +
                        portName);
        if (current->setPortResult == 0 || current->setPortResult == 3) *port = PortHandle();
        return current->setPortResult;
    }

    FakeReceiver &Self() const { return const_cast<FakeReceiver &>(*this); }
    void Record(const std::string &call) const { Self().calls.push_back(call); }
    std::string NameIn(const char *path) const // "" when outside the work folder
    {
        const size_t length = sizeof kFolder - 1;
        return std::strncmp(path, kFolder, length) == 0 ? path + length : "";
    }
    void Stall(const char *where) const
    {
        ADD_FAILURE() << "the receiver would wait for ever: " << where;
        // End every loop: a stop marker, a clock far ahead.
        Self().files["StopCommand.csv"];
        Self().clock += 1000;
    }

    std::vector<OpenStream> streams_;
    int openStreams_ = 0;
    int idListsOutstanding_ = 0;
    int idleReads_ = 0;
    int stopPolls_ = 0;
};

} // namespace ostrel::testing

#endif

#include "fake_receiver.h"

#include <algorithm>
#include <cstring>

namespace ostrel::testing
{
namespace
{

// Loops of the cycle that never end on their own (first byte, acknowledgement)
// are cut short after this many idle passes, and the test fails.
constexpr int kStallPasses = 1000000;

FakeReceiver *current = nullptr;
HMODULE const kLibrary = reinterpret_cast<HMODULE>(0x7e70);

int FakeWindowsVer() { return current->osFamily; }

int FakeComPort(int vendorId, int productId, int *portCount, char *portList)
{
    current->calls.push_back("ComPort");
    current->comPortVendor = vendorId;
    current->comPortProduct = productId;
    *portCount = 1;
    std::memcpy(portList, current->portList.c_str(),
                std::min(current->portList.size() + 1, kPortListSize));
    return current->comPortResult;
}

int FakeSetPort(DWORD baudRate, int dataBits, int parity, int stopBits, HANDLE *port,
                const char *portName)
{
    current->calls.push_back("SetPort");
    current->setPortBaud = baudRate;
    current->setPortDataBits = dataBits;
    current->setPortParity = parity;
    current->setPortStopBits = stopBits;
    current->portName = portName;
    if (current->setPortResult == 0 || current->setPortResult == 3)
        *port = FakeReceiver::PortHandle();
    return current->setPortResult;
}

} // namespace

std::vector<Pass> BlockPasses(int count, std::time_t clock)
{
    std::vector<Pass> passes;
    for (int i = 0; i < count; ++i)
        passes.push_back(Pass{i % 256, clock});
    return passes;
}

FakeReceiver::FakeReceiver() { current = this; }

FakeReceiver::~FakeReceiver()
{
    EXPECT_EQ(0, openStreams) << "a file stream was left open";
    EXPECT_EQ(0, idListsOutstanding) << "an item list was not freed";
    current = nullptr;
}

bool FakeReceiver::Called(const std::string &call) const
{
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

HMODULE FakeReceiver::LoadLibraryA(const char *fileName) const
{
    Record(std::string("LoadLibraryA ") + fileName);
    return libraryPresent ? kLibrary : nullptr;
}

FARPROC FakeReceiver::GetProcAddress(HMODULE library, const char *exportName) const
{
    EXPECT_EQ(kLibrary, library);
    Record(std::string("GetProcAddress ") + exportName);
    std::string name = exportName;
    if (missingExports.count(name)) return nullptr;
    if (name == "WindowsVer") return reinterpret_cast<FARPROC>(&FakeWindowsVer);
    if (name == "ComPort") return reinterpret_cast<FARPROC>(&FakeComPort);
    if (name == "SetPort") return reinterpret_cast<FARPROC>(&FakeSetPort);
    return nullptr;
}

BOOL FakeReceiver::FreeLibrary(HMODULE library) const
{
    EXPECT_EQ(kLibrary, library);
    Record("FreeLibrary");
    return !freeLibraryFails;
}

BOOL FakeReceiver::PurgeComm(HANDLE port, DWORD flags) const
{
    EXPECT_EQ(PortHandle(), port);
    EXPECT_EQ(PURGE_TXCLEAR | PURGE_RXCLEAR, flags);
    Record("PurgeComm");
    Self().arrived_.clear();
    Self().sentBeforePurge.clear();
    return TRUE;
}

BOOL FakeReceiver::ReadFile(HANDLE port, void *buffer, DWORD count, DWORD *transferred) const
{
    EXPECT_EQ(PortHandle(), port);
    EXPECT_EQ(1u, count);
    FakeReceiver &self = Self();
    if (!Called("PurgeComm")) {
        ADD_FAILURE() << "read before the purge";
    }
    int read = self.reads++;
    if (read == 0) { // what the device sent before the purge, had there been none
        self.arrived_.insert(self.arrived_.begin(), sentBeforePurge.begin(), sentBeforePurge.end());
        self.sentBeforePurge.clear();
    }
    if (self.onRead) self.onRead(read);
    if (read < static_cast<int>(passes.size())) {
        const Pass &pass = passes[read];
        if (pass.byte != kNoByte) self.arrived_.push_back(static_cast<unsigned char>(pass.byte));
        if (pass.clock != kKeepClock) self.clock = pass.clock;
    } else if (++self.idleReads_ == kStallPasses) {
        Stall("the device has nothing more to send");
    }
    *transferred = 0;
    if (self.arrived_.empty()) return TRUE;
    *static_cast<unsigned char *>(buffer) = self.arrived_.front();
    self.arrived_.pop_front();
    *transferred = 1;
    return TRUE;
}

BOOL FakeReceiver::CloseHandle(HANDLE port) const
{
    EXPECT_EQ(PortHandle(), port);
    Record("CloseHandle");
    return !closeHandleFails;
}

std::time_t FakeReceiver::Time() const
{
    if (++Self().timeReads_ % kStallPasses == 0) Stall("the clock stands still");
    return clock;
}

DWORD FakeReceiver::GetCurrentDirectoryA(DWORD size, char *buffer) const
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

LONG FakeReceiver::SHGetSpecialFolderLocation(int folderId, ItemIdList **list) const
{
    EXPECT_EQ(26, folderId); // CSIDL_APPDATA
    Record("SHGetSpecialFolderLocation");
    if (appDataLocationFails) return static_cast<LONG>(0x80004005); // E_FAIL
    *list = reinterpret_cast<ItemIdList *>(new char[1]);
    ++Self().idListsOutstanding;
    return 0;
}

BOOL FakeReceiver::SHGetPathFromIDListA(const ItemIdList *, char *path) const
{
    if (appDataPathFails) return FALSE;
    std::strcpy(path, appData.c_str()); // as the shell does: up to MAX_PATH characters
    return TRUE;
}

void FakeReceiver::FreeIdList(ItemIdList *list) const
{
    delete[] reinterpret_cast<char *>(list);
    --Self().idListsOutstanding;
}

std::string FakeReceiver::NameIn(const char *path) const
{
    std::string p = path;
    std::string prefix = folder + "\\";
    if (p.compare(0, prefix.size(), prefix) != 0) return "";
    return p.substr(prefix.size());
}

Stream *FakeReceiver::OpenFile(const char *path, const char *mode) const
{
    FakeReceiver &self = Self();
    std::string name = NameIn(path);
    std::string m = mode;
    EXPECT_TRUE(m == "r" || m == "w" || m == "a") << "mode " << m;
    if (name.empty() || openFails.count(name)) return nullptr;
    if (m == "r") {
        if (name == "StopCommand.csv" && hostAcknowledges && Has("DataReady.csv") &&
            Has("ReceiveData.csv"))
            self.Acknowledge();
        if (name == "StopCommand.csv" && ++self.stopPolls_ % kStallPasses == 0)
            Stall("no stop marker comes");
        auto file = files.find(name);
        if (file == files.end() || file->second.readLocked) return nullptr;
    } else {
        FakeFile &file = self.files[name];
        if (m == "w") file.content.clear();
    }
    self.streams_.push_back(OpenStream{name});
    ++self.openStreams;
    return reinterpret_cast<Stream *>(self.streams_.size()); // 1-based index
}

bool FakeReceiver::WriteText(Stream *stream, const char *text, size_t length) const
{
    FakeReceiver &self = Self();
    OpenStream &s = self.streams_.at(reinterpret_cast<size_t>(stream) - 1);
    EXPECT_TRUE(s.open);
    auto fails = writeFailsAt.find(s.name);
    if (fails != writeFailsAt.end() && fails->second == s.writes++) return false;
    self.files[s.name].content.append(text, length);
    if (s.name == "ErrorMessage.csv") self.statusHistory.push_back(self.files[s.name].content);
    return true;
}

bool FakeReceiver::CloseFile(Stream *stream) const
{
    FakeReceiver &self = Self();
    OpenStream &s = self.streams_.at(reinterpret_cast<size_t>(stream) - 1);
    EXPECT_TRUE(s.open) << s.name << " closed twice";
    s.open = false;
    --self.openStreams;
    return closeFails.count(s.name) == 0;
}

BOOL FakeReceiver::DeleteFileA(const char *path) const
{
    std::string name = NameIn(path);
    Record("DeleteFileA " + name);
    auto file = Self().files.find(name);
    if (file == files.end() || file->second.undeletable) return FALSE;
    Self().files.erase(file);
    return TRUE;
}

BOOL FakeReceiver::MoveFileA(const char *from, const char *to) const
{
    std::string source = NameIn(from), target = NameIn(to);
    Record("MoveFileA " + source + " " + target);
    if (!Has(source) || Has(target)) return FALSE;
    Self().files[target] = files.at(source);
    Self().files.erase(source);
    return TRUE;
}

void FakeReceiver::Acknowledge()
{
    filesWhenAcknowledged = files;
    files["StopCommand.csv"];
    hostAcknowledges = false;
}

void FakeReceiver::Stall(const char *where) const
{
    ADD_FAILURE() << "the receiver would wait for ever: " << where;
    // End every loop: a stop marker, a clock far ahead.
    Self().files["StopCommand.csv"];
    Self().clock += 1000;
}

} // namespace ostrel::testing

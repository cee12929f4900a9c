// Start-up and shutdown of the link: the library bound by name, the device's
// first port opened through it.
#include <cstring>

#include "receiver.h"

namespace ostrel
{
namespace
{

constexpr char kLibraryFileName[] = "Vetrolink.dll";
constexpr DWORD kBaudRate = 19200;
constexpr int kDataBits = 8;
constexpr int kNoParity = 0;
constexpr int kOneStopBit = 0;

// GetProcAddress gives a generic function address; the export's own type
// comes from Vetrolink.h. The detour through void (*)(void) is the
// compilers' agreed way to say the cast is intended.
template <typename Proc> Proc Resolve(const ReceiverCalls &calls, HMODULE library, const char *name)
{
    using AnyFunction = void (*)(void);
    return reinterpret_cast<Proc>(
        reinterpret_cast<AnyFunction>(calls.GetProcAddress(library, name)));
}

// The port list is "COM3,COM7,": every comma becomes a terminator, which
// leaves the first name at the start of the buffer.
void CutToFirstPort(char (&portList)[kPortListSize])
{
    portList[kPortListSize - 1] = '\0';
    for (char &c : portList)
        if (c == ',') c = '\0';
}

} // namespace

int OpenLink(const ReceiverCalls &calls, Link &link)
{
    link.library = calls.LoadLibraryA(kLibraryFileName);
    if (link.library == nullptr) return kOpenNoLibrary;

    auto windowsVer = Resolve<WindowsVerProc>(calls, link.library, "WindowsVer");
    if (windowsVer == nullptr) return kOpenNoWindowsVer;
    link.osFamily = windowsVer();

    auto comPort = Resolve<ComPortProc>(calls, link.library, "ComPort");
    if (comPort == nullptr) return kOpenNoComPort;
    char portList[kPortListSize];
    std::memset(portList, 0, sizeof portList);
    int portCount = 0;
    if (comPort(kVendorId, kProductId, &portCount, portList) != 0) return kOpenNoDevicePort;

    auto setPort = Resolve<SetPortProc>(calls, link.library, "SetPort");
    if (setPort == nullptr) return kOpenNoSetPort;
    CutToFirstPort(portList);
    if (setPort(kBaudRate, kDataBits, kNoParity, kOneStopBit, &link.port, portList) != 0)
        return kOpenPortFailed;
    return kOpenOk;
}

int CloseLink(const ReceiverCalls &calls, Link &link)
{
    // SetPort stores a handle only once the port is open, so an untouched
    // variable means there is nothing to close.
    if (link.port != INVALID_HANDLE_VALUE && link.port != nullptr) {
        if (!calls.CloseHandle(link.port)) return 1;
        link.port = INVALID_HANDLE_VALUE;
    }
    if (link.library != nullptr) {
        if (!calls.FreeLibrary(link.library)) return 2;
        link.library = nullptr;
    }
    return 0;
}

} // namespace ostrel

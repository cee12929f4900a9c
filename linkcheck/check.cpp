// The check's steps: the library as the receiver loads it, its version, the
// Windows family it sees, the device's ports, and on request what the first
// port receives at the receiver's line settings. Reads only: no file is
// written, no registry value changed.
#include <cstring>

#include "check.h"
#include "format_text.h"

namespace linkcheck
{
namespace
{

constexpr char kLibraryFileName[] = "Vetrolink.dll";
constexpr DWORD kPathSize = 520; // MAX_PATH and room for the file name
constexpr DWORD kLineSize = 700;
constexpr int kPortListSize = 100; // as the receiver hands it to ComPort
constexpr int kMaxListenSeconds = 3600;
constexpr int kShownBytes = 8; // first and last bytes shown of what arrived
constexpr bool kProgramIs64Bit = sizeof(void *) == 8;

// Windows errors that mean another program holds the port: access denied
// is Windows' answer to a second open of a COM port; Wine answers a lock
// violation for a port that a Linux program holds exclusively.
constexpr DWORD kErrorFileNotFound = 2, kErrorPathNotFound = 3, kErrorAccessDenied = 5,
                kErrorSharingViolation = 32, kErrorLockViolation = 33;

} // namespace

// One line for the person at the console; a line longer than the buffer is
// cut, never written past it.
#define PRINT(calls, ...)                                                                          \
    do {                                                                                           \
        char line_[kLineSize];                                                                     \
        FormatText(line_, sizeof line_, __VA_ARGS__);                                              \
        (calls).PrintLine(line_);                                                                  \
    } while (0)

namespace
{

const char *Width(bool is64Bit) { return is64Bit ? "64-bit" : "32-bit"; }

bool SameAsciiText(const char *a, const char *b) // without regard to case
{
    for (; *a && *b; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? *a + 32 : *a, y = *b >= 'A' && *b <= 'Z' ? *b + 32 : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

// 0 to 0xFFFF as 1 to 4 hex digits, "0x" allowed in front.
bool ParseUsbId(const char *text, int &id)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    int value = 0, digits = 0;
    for (; *text; ++text, ++digits) {
        char c = *text;
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0 || digits == 4) return false;
        value = value * 16 + digit;
    }
    if (digits == 0) return false;
    id = value;
    return true;
}

bool ParseSeconds(const char *text, int &seconds)
{
    int value = 0;
    for (const char *c = text; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + (*c - '0');
        if (value > kMaxListenSeconds) return false;
    }
    if (value == 0) return false;
    seconds = value;
    return true;
}

// The file's processor from its PE header: "32-bit", "64-bit", "other" for
// another processor, nullptr when the bytes are no Windows program or DLL.
const char *ImageWidth(const unsigned char *bytes, DWORD size)
{
    if (size < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return nullptr;
    DWORD header =
        bytes[60] | bytes[61] << 8 | bytes[62] << 16 | static_cast<DWORD>(bytes[63]) << 24;
    if (header > size - 6 || std::memcmp(bytes + header, "PE\0\0", 4) != 0) return nullptr;
    unsigned machine = bytes[header + 4] | bytes[header + 5] << 8;
    return machine == 0x014C ? "32-bit" : machine == 0x8664 ? "64-bit" : "other";
}

const char *FileWidth(const CheckCalls &calls, const char *path)
{
    unsigned char start[1024];
    DWORD read = 0;
    if (!calls.ReadFileStart(path, start, sizeof start, &read)) return nullptr;
    return ImageWidth(start, read);
}

// "5.1.0.0" from the fixed part of a version resource, which follows the
// 6-byte header and the key "VS_VERSION_INFO" in UTF-16, padded to 40 bytes.
bool FileVersion(const void *resource, DWORD size, char (&text)[32])
{
    const unsigned char *bytes = static_cast<const unsigned char *>(resource);
    auto word32 = [bytes](DWORD at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
               static_cast<DWORD>(bytes[at + 3]) << 24;
    };
    if (resource == nullptr || size < 56 || word32(40) != 0xFEEF04BD) return false;
    DWORD high = word32(48), low = word32(52);
    FormatText(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(high >> 16),
               static_cast<unsigned long>(high & 0xFFFF), static_cast<unsigned long>(low >> 16),
               static_cast<unsigned long>(low & 0xFFFF));
    return true;
}

template <typename Proc> Proc Resolve(const CheckCalls &calls, HMODULE library, const char *name)
{
    using AnyFunction = void (*)(void);
    return reinterpret_cast<Proc>(
        reinterpret_cast<AnyFunction>(calls.GetProcAddress(library, name)));
}

struct Library {
    AskVerProc askVer;
    WindowsVerProc windowsVer;
    ComPortProc comPort;
    SetPortProc setPort;
};

// Why LoadLibraryA found no usable Vetrolink.dll, judged from the file
// beside this program, where the receiver beside it would look first.
void DescribeLoadFailure(const CheckCalls &calls, const char *folder, DWORD error)
{
    char path[kPathSize];
    FormatText(path, sizeof path, "%s%s", folder, kLibraryFileName);
    const char *width = FileWidth(calls, path);
    DWORD readError = calls.GetLastError();
    if (width == nullptr && (readError == kErrorFileNotFound || readError == kErrorPathNotFound))
        PRINT(calls, "Library:   no %s in %s, nor where else Windows looks (Windows error %lu)",
              kLibraryFileName, folder, static_cast<unsigned long>(error));
    else if (width == nullptr)
        PRINT(calls, "Library:   %s is not a Windows DLL (Windows error %lu)", path,
              static_cast<unsigned long>(error));
    else if (std::strcmp(width, Width(kProgramIs64Bit)) != 0)
        PRINT(calls,
              "Library:   %s is a %s DLL; this program is %s and cannot load it "
              "(Windows error %lu)",
              path, std::strcmp(width, "other") == 0 ? "non-x86" : width, Width(kProgramIs64Bit),
              static_cast<unsigned long>(error));
    else
        PRINT(calls, "Library:   %s cannot be loaded (Windows error %lu)", path,
              static_cast<unsigned long>(error));
}

// Loads the library by file name, as the receiver does, and reports where
// it came from, its width and its version. false: it cannot be used.
bool LoadVetrolink(const CheckCalls &calls, Library &library)
{
    char own[kPathSize] = "";
    calls.GetModuleFileNameA(nullptr, own, kPathSize - 1);
    own[kPathSize - 1] = '\0';
    char *folderEnd = own; // after the last backslash
    for (char *c = own; *c; ++c)
        if (*c == '\\') folderEnd = c + 1;
    *folderEnd = '\0';

    calls.SetLastError(0);
    HMODULE module = calls.LoadLibraryA(kLibraryFileName);
    DWORD error = calls.GetLastError();
    if (module == nullptr) {
        DescribeLoadFailure(calls, own, error);
        return false;
    }
    char path[kPathSize] = "";
    calls.GetModuleFileNameA(module, path, kPathSize - 1);
    path[kPathSize - 1] = '\0';
    const char *width = FileWidth(calls, path);
    PRINT(calls, "Library:   %s, %s DLL", path, width ? width : "unknown width");

    library.askVer = Resolve<AskVerProc>(calls, module, "AskVer");
    library.windowsVer = Resolve<WindowsVerProc>(calls, module, "WindowsVer");
    library.comPort = Resolve<ComPortProc>(calls, module, "ComPort");
    library.setPort = Resolve<SetPortProc>(calls, module, "SetPort");
    if (!library.askVer || !library.windowsVer || !library.comPort || !library.setPort) {
        PRINT(calls,
              "Exports:   missing%s%s%s%s: not this system's Vetrolink.dll, or a damaged "
              "copy",
              library.askVer ? "" : " AskVer", library.windowsVer ? "" : " WindowsVer",
              library.comPort ? "" : " ComPort", library.setPort ? "" : " SetPort");
        return false;
    }

    char askVer[16];
    std::memset(askVer, 0, sizeof askVer);
    library.askVer(askVer);
    char version[32];
    DWORD size = 0;
    const void *resource = calls.VersionResource(module, &size);
    if (FileVersion(resource, size, version))
        PRINT(calls, "Version:   AskVer says %s; file version %s", askVer, version);
    else
        PRINT(calls, "Version:   AskVer says %s; the file carries no version", askVer);
    return true;
}

const char *FamilyMeaning(int family)
{
    switch (family) {
    case 2000:
        return "Windows 2000, XP or Server 2003 (NT 5.x)";
    case 2007:
        return "Windows Vista or later (NT 6.x; 10 and 11 show as 6.x to programs without a "
               "manifest)";
    case 98:
        return "Windows 95, 98 or Me";
    case 0:
        return "a Windows the library does not know: it cannot look for the device";
    default:
        return "a code the library should never give";
    }
}

const char *ComPortMeaning(int result)
{
    switch (result) {
    case 0:
        return "the device's ports were found";
    case 1:
    case 4:
        return "no device with these IDs was ever installed on this PC";
    case 5:
    case 8:
        return "the device is installed, but none of its ports opens: it is unplugged, or "
               "another program holds its port";
    case 6:
        return "the library does not know this Windows";
    case 7:
        return "the library's Windows family code is unexpected";
    default:
        return "a result the library should never give";
    }
}

// ComPort with the receiver's buffer; on success the first port listed is
// copied to firstPort. Returns ComPort's result.
int FindDevice(const CheckCalls &calls, const Library &library, const Options &options,
               char (&firstPort)[kPortListSize])
{
    char list[kPortListSize];
    std::memset(list, 0, sizeof list);
    int count = -1;
    int result = library.comPort(options.vendorId, options.productId, &count, list);
    list[kPortListSize - 1] = '\0'; // the library promises a NUL; a damaged copy may not
    PRINT(calls, "Device:    ComPort for vendor ID %04X, product ID %04X gives %d: %s",
          options.vendorId, options.productId, result, ComPortMeaning(result));
    if (result == 0 || result == 5 || result == 8)
        PRINT(calls, "Ports:     %d listed%s%s", count, count > 0 ? ": " : "",
              count > 0 ? list : "");
    if (result != 0 && list[0] != '\0') PRINT(calls, "Message:   %s", list);
    firstPort[0] = '\0';
    if (result == 0) {
        std::memcpy(firstPort, list, sizeof list);
        char *comma = std::strchr(firstPort, ',');
        if (comma != nullptr) *comma = '\0';
    }
    return result;
}

void PrintBytes(const CheckCalls &calls, const char *label, const unsigned char *bytes, int count)
{
    char text[kShownBytes * 3 + 1] = "";
    for (int i = 0; i < count; ++i)
        FormatText(text + i * 3, sizeof text - i * 3, "%02x ", bytes[i]);
    if (count > 0) text[count * 3 - 1] = '\0'; // no blank after the last
    PRINT(calls, "%s%s", label, text);
}

// Opens the port as the receiver does (19200 baud, 8 data bits, no parity,
// one stop bit), purges it and reports what arrives in the time given.
int Listen(const CheckCalls &calls, const Library &library, const char *portName, int seconds)
{
    HANDLE port = INVALID_HANDLE_VALUE;
    calls.SetLastError(0);
    int result = library.setPort(19200, 8, 0, 0, &port, portName);
    DWORD error = calls.GetLastError();
    if (result == 1) {
        const char *why = error == kErrorAccessDenied || error == kErrorSharingViolation ||
                                  error == kErrorLockViolation
                              ? "another program holds it"
                          : error == kErrorFileNotFound || error == kErrorPathNotFound
                              ? "Windows has no such port now"
                              : "it cannot be opened";
        PRINT(calls, "Port:      %s does not open: %s (SetPort 1, Windows error %lu)", portName,
              why, static_cast<unsigned long>(error));
        return kExitPortFailed;
    }
    if (result == 3) calls.CloseHandle(port); // open, but the purge failed
    if (result != 0) {
        PRINT(calls, "Port:      %s opens, but %s (SetPort %d)", portName,
              result == 2 ? "its driver refuses 19200 baud, 8 data bits, no parity, one stop bit"
                          : "its buffers cannot be purged",
              result);
        return kExitPortFailed;
    }
    if (!calls.PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        calls.CloseHandle(port);
        PRINT(calls, "Port:      %s opens, but its buffers cannot be purged", portName);
        return kExitPortFailed;
    }
    PRINT(calls,
          "Port:      %s open at 19200 baud, 8 data bits, no parity, one stop bit; "
          "listening %d s",
          portName, seconds);

    unsigned char first[kShownBytes], last[kShownBytes];
    unsigned long count = 0;
    DWORD firstTick = 0, lastTick = 0, start = calls.GetTickCount();
    bool readFailed = false;
    while (calls.GetTickCount() - start < static_cast<DWORD>(seconds) * 1000) {
        unsigned char chunk[64];
        DWORD got = 0;
        if (!calls.ReadFile(port, chunk, sizeof chunk, &got)) {
            readFailed = true;
            error = calls.GetLastError();
            break;
        }
        if (got == 0) {
            calls.Sleep(1);
            continue;
        }
        lastTick = calls.GetTickCount();
        if (count == 0) firstTick = lastTick;
        for (DWORD i = 0; i < got; ++i, ++count) {
            if (count < kShownBytes) first[count] = chunk[i];
            std::memmove(last, last + 1, kShownBytes - 1);
            last[kShownBytes - 1] = chunk[i];
        }
    }
    calls.CloseHandle(port);

    if (readFailed)
        PRINT(calls, "Received:  reading failed after %lu bytes (Windows error %lu)", count,
              static_cast<unsigned long>(error));
    else if (count == 0)
        PRINT(calls, "Received:  nothing in %d s", seconds);
    if (count == 0 || readFailed) return readFailed ? kExitPortFailed : kExitNoData;

    int shown = count < kShownBytes ? static_cast<int>(count) : kShownBytes;
    PRINT(calls, "Received:  %lu bytes, %lu ms from the first byte to the last", count,
          static_cast<unsigned long>(lastTick - firstTick));
    PrintBytes(calls, "First:     ", first, shown);
    PrintBytes(calls, "Last:      ", last + kShownBytes - shown, shown);
    if (count == kBlockSize) {
        PRINT(calls, "Block:     %d bytes, as one block has", kBlockSize);
        return kExitFound;
    }
    PRINT(calls, "Block:     not %d bytes: not one whole block", kBlockSize);
    return kExitNotABlock;
}

const char *Outcome(int exitCode)
{
    switch (exitCode) {
    case kExitFound:
        return "the device was found";
    case kExitNoLibrary:
        return "the library cannot be used";
    case kExitNotFound:
        return "the device was not found";
    case kExitPortFailed:
        return "the port failed";
    case kExitNoData:
        return "no data arrived";
    default:
        return "data arrived, but not one block";
    }
}

} // namespace

bool ParseOptions(const CheckCalls &calls, int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const char *option = argv[i];
        const char *name = option[0] == '/' || option[0] == '-' ? option + 1 : "";
        if (SameAsciiText(name, "?")) {
            options.help = true;
            continue;
        }
        const char *value = i + 1 < argc ? argv[++i] : "";
        bool understood = SameAsciiText(name, "vid")   ? ParseUsbId(value, options.vendorId)
                          : SameAsciiText(name, "pid") ? ParseUsbId(value, options.productId)
                          : SameAsciiText(name, "listen")
                              ? ParseSeconds(value, options.listenSeconds)
                          : SameAsciiText(name, "port") ? (options.port = value, *value != '\0')
                                                        : false;
        if (!understood) {
            PRINT(calls, "Not understood: %s %s (VetrolinkCheck /? lists the options)", option,
                  value);
            return false;
        }
    }
    return true;
}

int RunCheck(const CheckCalls &calls, const Options &options)
{
    PRINT(calls, "VetrolinkCheck %s, %s", VL_VERSION, Width(kProgramIs64Bit));
    if (options.help) {
        calls.PrintLine("What Vetrolink.dll beside this program sees of the device; it writes "
                        "nothing.");
        calls.PrintLine("  VetrolinkCheck [/vid HEX] [/pid HEX] [/listen SECONDS] [/port COMn]");
        PRINT(calls,
              "  /vid /pid  the device's USB vendor and product ID (%04X and %04X, the "
              "receiver's)",
              kReceiverVendorId, kReceiverProductId);
        calls.PrintLine("  /listen    open the first port found at 19200 baud 8N1, purge it and "
                        "show what arrives");
        calls.PrintLine("  /port      listen on this port instead of the first one found");
        calls.PrintLine("Exit code: 0 found (with /listen: one 350-byte block arrived), 1 library "
                        "unusable,");
        calls.PrintLine("  2 device not found, 3 port failed, 4 no data, 5 not one block, 6 "
                        "command line not understood");
        return kExitFound;
    }
    int exitCode = kExitFound;
    Library library;
    if (!LoadVetrolink(calls, library)) {
        exitCode = kExitNoLibrary;
    } else {
        int family = library.windowsVer();
        PRINT(calls, "Windows:   WindowsVer gives %d: %s", family, FamilyMeaning(family));
        char firstPort[kPortListSize];
        if (FindDevice(calls, library, options, firstPort) != 0) exitCode = kExitNotFound;
        const char *port = options.port ? options.port : firstPort;
        if (options.listenSeconds > 0 && *port != '\0')
            exitCode = Listen(calls, library, port, options.listenSeconds);
    }
    PRINT(calls, "Result:    %s (exit code %d)", Outcome(exitCode), exitCode);
    return exitCode;
}

} // namespace linkcheck

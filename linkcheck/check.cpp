// The check's steps: the library as the receiver loads it, its version, the
// Windows family it sees, the device's ports (and, when they are not found,
// every USB serial port Windows has recorded), and on request what the
// port receives at the receiver's line settings, judged by the receiver's
// rule. Reads only: no file is written, no registry value changed.
#include <cstring>

#include "check.h"
#include "format_text.h"

namespace linkcheck
{
namespace
{

constexpr char kLibraryFileName[] = "Vetrolink.dll";
constexpr DWORD kPathSize = 1040;  // MAX_PATH characters, up to 3 UTF-8 bytes each, and a name
constexpr DWORD kLineSize = 2400;  // two paths and words
constexpr int kPortListSize = 100; // as the receiver hands it to ComPort
constexpr int kMaxListenSeconds = 3600;
constexpr int kMaxPortName = 11; // SetPort's device path: "\\.\" and 11 characters
// Registry keys walked under one key, should Windows never end the walk.
constexpr DWORD kMaxKeys = 10000;
constexpr int kShownBytes = 8; // first and last bytes shown of what arrived
// How long a listen follows a block begun past the time asked for: the
// receiver's clock decides within 3 s of the first byte.
constexpr DWORD kVerdictMilliseconds = 4000;
constexpr DWORD kBaudRate = 19200, kBitsPerByte = 10; // 8N1: a start bit, 8 data bits, a stop bit
constexpr bool kProgramIs64Bit = sizeof(void *) == 8;

// Windows errors. Access denied is Windows' answer to a second open of a
// COM port; Wine answers a lock violation for a port that a Linux program
// holds exclusively.
constexpr DWORD kErrorFileNotFound = 2, kErrorPathNotFound = 3, kErrorAccessDenied = 5,
                kErrorSharingViolation = 32, kErrorLockViolation = 33, kErrorNoMoreItems = 259;
// ClearCommError's line errors.
constexpr DWORD kLineOverflow = 0x1, kLineOverrun = 0x2, kLineParity = 0x4, kLineFraming = 0x8,
                kLineBreak = 0x10;

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

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool SameText(const char *a, const char *b) // the letters A to Z without regard to case
{
    for (; *a && *b; ++a, ++b)
        if (Lower(*a) != Lower(*b)) return false;
    return *a == *b;
}

int HexDigit(char c)
{
    return c >= '0' && c <= '9'                 ? c - '0'
           : Lower(c) >= 'a' && Lower(c) <= 'f' ? Lower(c) - 'a' + 10
                                                : -1;
}

// 0 to 0xFFFF as 1 to 4 hex digits, "0x" allowed in front.
bool ParseUsbId(const char *text, int &id)
{
    if (text[0] == '0' && Lower(text[1]) == 'x') text += 2;
    int value = 0, digits = 0;
    for (; *text; ++text, ++digits) {
        if (HexDigit(*text) < 0 || digits == 4) return false;
        value = value * 16 + HexDigit(*text);
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

bool ParsePortName(const char *text, const char *&port)
{
    size_t length = std::strlen(text);
    if (length == 0 || length > kMaxPortName) return false;
    port = text;
    return true;
}

// The IDs in a device key's name or a device identifier: "VID_0ABC&PID_00FF",
// in any case, anywhere in the text.
bool ParseDeviceIds(const char *text, int &vendorId, int &productId)
{
    auto idAfter = [text](const char *tag, int &id) {
        for (const char *c = text; *c; ++c) {
            if (!(Lower(c[0]) == tag[0] && Lower(c[1]) == tag[1] && Lower(c[2]) == tag[2] &&
                  c[3] == '_'))
                continue;
            int value = 0, digits = 0;
            for (; digits < 4 && HexDigit(c[4 + digits]) >= 0; ++digits)
                value = value * 16 + HexDigit(c[4 + digits]);
            if (digits == 4) return id = value, true;
        }
        return false;
    };
    return idAfter("vid", vendorId) && idAfter("pid", productId);
}

unsigned long Word32(const unsigned char *bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<unsigned long>(bytes[3]) << 24;
}
unsigned Word16(const unsigned char *bytes) { return bytes[0] | bytes[1] << 8; }

// What a file named Vetrolink.dll is, from its headers and its size.
struct Image {
    enum Kind { kMissing, kUnreadable, kEmpty, kNotWindows, kProgram, kOtherWidth, kDamaged, kDll };
    Kind kind;
    const char *width; // "32-bit", "64-bit", "non-x86"; nullptr before the PE header
    DWORD size, error; // the file's size; the error when it could not be read
};

Image JudgeImage(const unsigned char *bytes, DWORD read, DWORD size)
{
    Image image{Image::kDll, nullptr, size, 0};
    if (size == 0) return image.kind = Image::kEmpty, image;
    if (read < 2 || bytes[0] != 'M' || bytes[1] != 'Z')
        return image.kind = Image::kNotWindows, image;
    unsigned long header = read >= 64 ? Word32(bytes + 60) : size; // the PE header's offset
    if (header >= size || size - header < 24) return image.kind = Image::kDamaged, image;
    if (header > read - 24) return image; // beyond what was read: not judged
    if (std::memcmp(bytes + header, "PE\0\0", 4) != 0)
        return image.kind = Image::kNotWindows, image;
    unsigned machine = Word16(bytes + header + 4), sections = Word16(bytes + header + 6);
    image.width = machine == 0x014C ? "32-bit" : machine == 0x8664 ? "64-bit" : "non-x86";
    if (!(Word16(bytes + header + 22) & 0x2000)) return image.kind = Image::kProgram, image;
    if (std::strcmp(image.width, Width(kProgramIs64Bit)) != 0)
        return image.kind = Image::kOtherWidth, image;
    // Every section's bytes lie within the file: a copy cut short does not hold the last ones.
    unsigned long table = header + 24 + Word16(bytes + header + 20);
    for (unsigned i = 0; i < sections && table + 40 * (i + 1) <= read; ++i) {
        const unsigned char *section = bytes + table + 40 * i;
        if (Word32(section + 20) + Word32(section + 16) > size) image.kind = Image::kDamaged;
    }
    if (table + 40 * sections > size) image.kind = Image::kDamaged;
    return image;
}

Image ReadImage(const CheckCalls &calls, const char *path)
{
    unsigned char start[4096];
    DWORD read = 0, size = 0;
    calls.SetLastError(0);
    if (!calls.ReadFileStart(path, start, sizeof start, &read, &size)) {
        DWORD error = calls.GetLastError();
        bool missing = error == kErrorFileNotFound || error == kErrorPathNotFound;
        return {missing ? Image::kMissing : Image::kUnreadable, nullptr, 0, error};
    }
    return JudgeImage(start, read < sizeof start ? read : sizeof start, size);
}

// One line on a file that cannot serve as the library; loadError is
// LoadLibraryA's, 0 when it loaded.
void PrintUnusable(const CheckCalls &calls, const char *path, const Image &image, DWORD loadError)
{
    char error[48] = "";
    if (loadError != 0)
        FormatText(error, sizeof error, " (Windows error %lu)",
                   static_cast<unsigned long>(loadError));
    switch (image.kind) {
    case Image::kUnreadable:
        PRINT(calls, "Library:   %s cannot be read (Windows error %lu)", path,
              static_cast<unsigned long>(image.error));
        break;
    case Image::kEmpty:
    case Image::kDamaged:
        PRINT(calls,
              "Library:   %s is a damaged copy (%lu bytes): take it again from the archive%s", path,
              static_cast<unsigned long>(image.size), error);
        break;
    case Image::kNotWindows:
        PRINT(calls,
              "Library:   %s is not a Windows DLL: take Vetrolink.dll again from the archive%s",
              path, error);
        break;
    case Image::kProgram:
        PRINT(calls,
              "Library:   %s is a %s program, not a DLL: take Vetrolink.dll again from the "
              "archive%s",
              path, image.width, error);
        break;
    case Image::kOtherWidth:
        PRINT(calls,
              "Library:   %s is a %s DLL; this program is %s and cannot load it: use the files of "
              "one archive%s",
              path, image.width, Width(kProgramIs64Bit), error);
        break;
    default:
        PRINT(calls, "Library:   %s cannot be loaded: take it again from the archive%s", path,
              error);
    }
}

// "5.1.0.0" from the fixed part of a version resource, which follows the
// 6-byte header and the key "VS_VERSION_INFO" in UTF-16, padded to 40 bytes.
bool FileVersion(const void *resource, DWORD size, char (&text)[32])
{
    const unsigned char *bytes = static_cast<const unsigned char *>(resource);
    if (resource == nullptr || size < 56 || Word32(bytes + 40) != 0xFEEF04BD) return false;
    unsigned long high = Word32(bytes + 48), low = Word32(bytes + 52);
    FormatText(text, sizeof text, "%lu.%lu.%lu.%lu", high >> 16, high & 0xFFFF, low >> 16,
               low & 0xFFFF);
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

// The length of the folder part of a path, its last backslash included.
size_t FolderLength(const char *path)
{
    size_t length = 0;
    for (size_t i = 0; path[i] != '\0'; ++i)
        if (path[i] == '\\') length = i + 1;
    return length;
}

// Why LoadLibraryA found no usable Vetrolink.dll: the file beside this
// program, where the receiver beside it looks first, or else the one that
// Windows' search came upon.
void DescribeLoadFailure(const CheckCalls &calls, const char *folder, DWORD error)
{
    char path[kPathSize];
    FormatText(path, sizeof path, "%s%s", folder, kLibraryFileName);
    Image image = ReadImage(calls, path);
    if (image.kind == Image::kMissing) {
        if (calls.SearchDllPath(kLibraryFileName, path, sizeof path) == 0) {
            PRINT(calls,
                  "Library:   no %s in %s, nor anywhere else Windows looks: copy it there from "
                  "the archive (Windows error %lu)",
                  kLibraryFileName, folder, static_cast<unsigned long>(error));
            return;
        }
        path[sizeof path - 1] = '\0';
        PRINT(calls, "Library:   no %s in %s; Windows looked further and found %s",
              kLibraryFileName, folder, path);
        image = ReadImage(calls, path);
    }
    PrintUnusable(calls, path, image, error);
}

// Loads the library by file name, as the receiver does, and reports where
// it came from, its width and its version. false: the receiver could not
// use it.
bool LoadVetrolink(const CheckCalls &calls, Library &library)
{
    char folder[kPathSize] = "";
    calls.ModulePath(nullptr, folder, kPathSize - 1);
    folder[kPathSize - 1] = '\0';
    folder[FolderLength(folder)] = '\0';
    if (std::strchr(folder, '?') != nullptr)
        PRINT(calls,
              "Folder:    %s: this Windows cannot hand the folder's name to programs (each ? is "
              "a character it lacks); move the files to a folder with a plain name",
              folder);

    calls.SetLastError(0);
    HMODULE module = calls.LoadLibraryA(kLibraryFileName);
    DWORD error = calls.GetLastError();
    if (module == nullptr) {
        DescribeLoadFailure(calls, folder, error);
        return false;
    }
    char path[kPathSize] = "";
    calls.ModulePath(module, path, kPathSize - 1);
    path[kPathSize - 1] = '\0';
    Image image = ReadImage(calls, path);
    if (image.kind == Image::kProgram) {
        PrintUnusable(calls, path, image, 0);
        return false;
    }
    PRINT(calls, "Library:   %s, %s DLL", path, image.width ? image.width : "unknown width");
    size_t folderLength = FolderLength(path);
    path[folderLength] = '\0';
    if (folderLength != std::strlen(folder) || !SameText(path, folder))
        PRINT(calls,
              "Library:   not the copy in this program's folder %s: the receiver beside this "
              "program loads this stray copy too; copy %s from the archive into %s",
              folder, kLibraryFileName, folder);

    library.askVer = Resolve<AskVerProc>(calls, module, "AskVer");
    library.windowsVer = Resolve<WindowsVerProc>(calls, module, "WindowsVer");
    library.comPort = Resolve<ComPortProc>(calls, module, "ComPort");
    library.setPort = Resolve<SetPortProc>(calls, module, "SetPort");
    if (!library.windowsVer || !library.comPort || !library.setPort) {
        PRINT(calls,
              "Exports:   missing%s%s%s, which the receiver needs: take %s again from the archive",
              library.windowsVer ? "" : " WindowsVer", library.comPort ? "" : " ComPort",
              library.setPort ? "" : " SetPort", kLibraryFileName);
        return false;
    }

    char askVer[16] = "";
    if (library.askVer) {
        std::memset(askVer, 0, sizeof askVer);
        library.askVer(askVer);
        askVer[sizeof askVer - 1] = '\0';
    }
    char version[32] = "";
    DWORD size = 0;
    const void *resource = calls.VersionResource(module, &size);
    bool versioned = FileVersion(resource, size, version);
    PRINT(calls, "Version:   %s%s; %s%s",
          library.askVer ? "AskVer says " : "no AskVer (the receiver does not use it)", askVer,
          versioned ? "file version " : "the file carries no version", version);
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

// ComPort's message: the key path of result 4 as it is; the others are
// Japanese, shown where the console can show them, else left out beside
// the English meaning on the Device line.
void PrintMessage(const CheckCalls &calls, const char *message)
{
    bool ascii = true;
    for (const char *c = message; *c; ++c)
        if (static_cast<unsigned char>(*c) >= 0x80) ascii = false;
    char text[kPortListSize * 3];
    if (ascii)
        PRINT(calls, "Message:   %s", message);
    else if (calls.FromCodePage932(message, text, sizeof text) && calls.CanShow(text))
        PRINT(calls, "Message:   %s", text);
    else
        PRINT(calls, "Message:   in Japanese, which this console cannot show; the Device line "
                     "gives its meaning");
}

// Whether a recorded port is there now: a device name Windows has defined,
// else (the 98 family has no such names; Wine defines a port only when it
// is opened) an open attempt, closed at once. A port another program holds
// is not opened, so a running receiver is left alone.
void DescribePresence(const CheckCalls &calls, const char *port, char (&text)[64])
{
    char target[256];
    if (calls.QueryDosDeviceA(port, target, sizeof target) > 0) {
        FormatText(text, sizeof text, "present now");
        return;
    }
    char devicePath[32];
    FormatText(devicePath, sizeof devicePath, "\\\\.\\%s", port);
    calls.SetLastError(0);
    HANDLE handle = calls.OpenPort(devicePath);
    DWORD error = calls.GetLastError();
    if (handle != INVALID_HANDLE_VALUE) {
        calls.CloseHandle(handle);
        FormatText(text, sizeof text, "present now");
    } else if (error == kErrorAccessDenied || error == kErrorSharingViolation ||
               error == kErrorLockViolation) {
        FormatText(text, sizeof text, "present now, held by another program");
    } else if (error == kErrorFileNotFound || error == kErrorPathNotFound) {
        FormatText(text, sizeof text, "not present now (unplugged)");
    } else {
        FormatText(text, sizeof text, "cannot tell (Windows error %lu)",
                   static_cast<unsigned long>(error));
    }
}

struct Listing {
    int askedPorts = 0; // ports recorded for the IDs asked for
    char firstAskedPort[16] = "";
};

// One instance of a USB device: its port name (NT: in its Device
// Parameters; 98: on the instance key, with the IDs in ParentDevNode when
// the enumerator's name lacks them). Returns true when it has a port.
bool ListInstance(const CheckCalls &calls, HKEY deviceKey, const char *device, const char *instance,
                  bool family98, const Options &options, Listing &listing)
{
    char path[300], port[16] = "", parent[128] = "";
    FormatText(path, sizeof path, "%s%s", instance, family98 ? "" : "\\Device Parameters");
    HKEY key;
    if (calls.RegOpenKeyExA(deviceKey, path, &key) != 0) return false;
    DWORD size = sizeof port - 1;
    bool hasPort = calls.RegQueryValueExA(key, "PortName", port, &size) == 0 && port[0] != '\0';
    port[sizeof port - 1] = '\0';
    int vendorId = -1, productId = -1;
    if (!ParseDeviceIds(device, vendorId, productId) && family98) {
        size = sizeof parent - 1;
        if (calls.RegQueryValueExA(key, "ParentDevNode", parent, &size) == 0) {
            parent[sizeof parent - 1] = '\0';
            ParseDeviceIds(parent, vendorId, productId);
        }
    }
    calls.RegCloseKey(key);

    char ids[64] = "vendor and product ID not recorded";
    if (vendorId >= 0)
        FormatText(ids, sizeof ids, "vendor ID %04X, product ID %04X", vendorId, productId);
    bool asked = vendorId == options.vendorId && productId == options.productId;
    if (!hasPort) {
        if (asked)
            PRINT(calls, "Serial:    %s: no port name recorded (its driver is not installed whole)",
                  ids);
        return false;
    }
    char presence[64];
    DescribePresence(calls, port, presence);
    PRINT(calls, "Serial:    %s: %s, %s", port, ids, presence);
    if (asked && listing.askedPorts++ == 0)
        FormatText(listing.firstAskedPort, sizeof listing.firstAskedPort, "%s", port);
    return true;
}

// Every USB device instance that Windows recorded with a port name, those
// unplugged long ago included, with whether its port is there now.
Listing ListSerialPorts(const CheckCalls &calls, int family, const Options &options)
{
    Listing listing;
    bool family98 = family == 98;
    HKEY usb;
    int ports = 0;
    if (calls.RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            family98 ? "Enum\\USB" : "SYSTEM\\CurrentControlSet\\Enum\\USB",
                            &usb) == 0) {
        char device[256], instance[256];
        for (DWORD d = 0; d < kMaxKeys; ++d) {
            DWORD size = sizeof device - 1;
            LONG result = calls.RegEnumKeyExA(usb, d, device, &size);
            if (result == static_cast<LONG>(kErrorNoMoreItems)) break;
            device[sizeof device - 1] = '\0';
            HKEY deviceKey;
            if (result != 0 || calls.RegOpenKeyExA(usb, device, &deviceKey) != 0) continue;
            for (DWORD i = 0; i < kMaxKeys; ++i) {
                size = sizeof instance - 1;
                result = calls.RegEnumKeyExA(deviceKey, i, instance, &size);
                if (result == static_cast<LONG>(kErrorNoMoreItems)) break;
                instance[sizeof instance - 1] = '\0';
                if (result == 0 &&
                    ListInstance(calls, deviceKey, device, instance, family98, options, listing))
                    ++ports;
            }
            calls.RegCloseKey(deviceKey);
        }
        calls.RegCloseKey(usb);
    }
    if (ports == 0) PRINT(calls, "Serial:    no USB serial port is recorded on this PC");
    return listing;
}

struct Discovery {
    int result;
    char firstPort[kPortListSize]; // the port the receiver opens, "" when none
};

// ComPort with the receiver's buffer; the receiver opens the first port listed.
Discovery FindDevice(const CheckCalls &calls, const Library &library, const Options &options)
{
    Discovery found{};
    char list[kPortListSize];
    std::memset(list, 0, sizeof list);
    int count = -1;
    found.result = library.comPort(options.vendorId, options.productId, &count, list);
    list[kPortListSize - 1] = '\0'; // the library promises a NUL; a damaged copy may not
    PRINT(calls, "Device:    ComPort for vendor ID %04X, product ID %04X gives %d: %s",
          options.vendorId, options.productId, found.result, ComPortMeaning(found.result));
    if (found.result == 0 || found.result == 5 || found.result == 8)
        PRINT(calls, "Ports:     %d listed%s%s", count, count > 0 ? ": " : "",
              count > 0 ? list : "");
    if (found.result != 0 && list[0] != '\0') PrintMessage(calls, list);
    if (found.result == 0) {
        std::memcpy(found.firstPort, list, sizeof list);
        char *comma = std::strchr(found.firstPort, ',');
        if (comma != nullptr) *comma = '\0';
    }
    return found;
}

void PrintBytes(const CheckCalls &calls, const char *label, const unsigned char *bytes, int count)
{
    char text[kShownBytes * 3 + 1] = "";
    for (int i = 0; i < count; ++i)
        FormatText(text + i * 3, sizeof text - i * 3, "%02x ", bytes[i]);
    if (count > 0) text[count * 3 - 1] = '\0'; // no blank after the last
    PRINT(calls, "%s%s", label, text);
}

// What arrived while listening, and what the receiver would have made of
// it: its clock (whole seconds) starts at the first byte, and it gives up
// on the block in the first read after which the clock has moved more than
// its time limit, even when that read brought the last byte.
struct Reception {
    enum Verdict { kPending, kTaken, kGivenUp };
    unsigned long count = 0;
    DWORD firstTick = 0, lastTick = 0;
    std::time_t start = 0;
    Verdict verdict = kPending;
    int held = 0; // the bytes the receiver held when it decided
    unsigned framing = 0, parity = 0, overrun = 0, breaks = 0; // reads that reported each
    unsigned char first[kShownBytes], last[kShownBytes];
};

void Take(const CheckCalls &calls, Reception &r, unsigned char byte)
{
    r.lastTick = calls.GetTickCount();
    if (r.count == 0) r.firstTick = r.lastTick, r.start = calls.Time();
    if (r.count < kShownBytes) r.first[r.count] = byte;
    std::memmove(r.last, r.last + 1, kShownBytes - 1);
    r.last[kShownBytes - 1] = byte;
    ++r.count;
}

void JudgeAsReceiver(const CheckCalls &calls, Reception &r)
{
    if (r.count == 0 || r.verdict != Reception::kPending) return;
    r.held = r.count < static_cast<unsigned long>(ostrel::kBlockSize) ? static_cast<int>(r.count)
                                                                      : ostrel::kBlockSize;
    if (static_cast<double>(calls.Time() - r.start) > ostrel::kTimeLimitSeconds)
        r.verdict = Reception::kGivenUp;
    else if (r.held == ostrel::kBlockSize)
        r.verdict = Reception::kTaken;
}

void CountLineErrors(DWORD errors, Reception &r)
{
    r.framing += (errors & kLineFraming) != 0;
    r.parity += (errors & kLineParity) != 0;
    r.overrun += (errors & (kLineOverrun | kLineOverflow)) != 0;
    r.breaks += (errors & kLineBreak) != 0;
}

int JudgeBlock(const CheckCalls &calls, const Reception &r)
{
    PRINT(calls,
          "Received:  %lu bytes, %lu ms from the first byte to the last (%lu bytes take %lu ms at "
          "%lu baud)",
          r.count, static_cast<unsigned long>(r.lastTick - r.firstTick), r.count,
          static_cast<unsigned long>(r.count * kBitsPerByte * 1000 / kBaudRate),
          static_cast<unsigned long>(kBaudRate));
    int shown = r.count < kShownBytes ? static_cast<int>(r.count) : kShownBytes;
    PrintBytes(calls, "First:     ", r.first, shown);
    PrintBytes(calls, "Last:      ", r.last + kShownBytes - shown, shown);
    bool lineErrors = r.framing + r.parity + r.overrun + r.breaks > 0;
    if (lineErrors)
        PRINT(calls, "Line:      errors in reads: framing %u, parity %u, overrun %u, break %u",
              r.framing, r.parity, r.overrun, r.breaks);
    else
        PRINT(calls, "Line:      no framing, parity, overrun or break errors");
    if (r.verdict == Reception::kGivenUp) {
        PRINT(calls,
              "Block:     the receiver gives up on it: its clock moved more than %g s after the "
              "first byte with %d of %d bytes in (it exits 9)",
              ostrel::kTimeLimitSeconds, r.held, ostrel::kBlockSize);
    } else if (r.count > static_cast<unsigned long>(ostrel::kBlockSize)) {
        PRINT(calls,
              "Block:     %lu bytes, more than one block of %d: the receiver takes the first %d "
              "as one",
              r.count, ostrel::kBlockSize, ostrel::kBlockSize);
    } else if (r.verdict != Reception::kTaken) {
        PRINT(calls, "Block:     %lu bytes, not %d: not one whole block", r.count,
              ostrel::kBlockSize);
    } else if (lineErrors) {
        PRINT(calls,
              "Block:     %d bytes, but the line reported errors: they are not the bytes "
              "the device sent (a device at another speed or framing than 19200 8N1 "
              "gives framing errors)",
              ostrel::kBlockSize);
    } else {
        PRINT(calls,
              "Block:     %d bytes within the receiver's time limit (more than %g s by its "
              "clock ends a block): the receiver takes it",
              ostrel::kBlockSize, ostrel::kTimeLimitSeconds);
        return kExitFound;
    }
    return kExitNotABlock;
}

// Opens the port as the receiver does (19200 baud, 8 data bits, no parity,
// one stop bit), purges it and reports what arrives in the time given.
int Listen(const CheckCalls &calls, const Library &library, const char *portName, int seconds)
{
    HANDLE port = INVALID_HANDLE_VALUE;
    calls.SetLastError(0);
    int result = library.setPort(kBaudRate, 8, 0, 0, &port, portName);
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
    DWORD errors = 0;
    calls.ClearCommError(port, &errors); // the line's errors count from the purge on
    PRINT(calls,
          "Port:      %s open at 19200 baud, 8 data bits, no parity, one stop bit; "
          "listening %d s",
          portName, seconds);

    // One byte a read, as the receiver reads, so that its clock is read
    // after the same bytes. A block begun is followed to the receiver's
    // verdict, past the time asked for if need be.
    Reception r;
    bool readFailed = false;
    DWORD begin = calls.GetTickCount(), asked = static_cast<DWORD>(seconds) * 1000;
    for (DWORD elapsed = 0; elapsed < asked || (r.count > 0 && r.verdict == Reception::kPending &&
                                                elapsed < asked + kVerdictMilliseconds);
         elapsed = calls.GetTickCount() - begin) {
        unsigned char byte;
        DWORD got = 0;
        if (!calls.ReadFile(port, &byte, 1, &got)) {
            readFailed = true;
            error = calls.GetLastError();
            break;
        }
        errors = 0;
        if (calls.ClearCommError(port, &errors)) CountLineErrors(errors, r);
        if (got == 1) Take(calls, r, byte);
        JudgeAsReceiver(calls, r);
        if (got != 1) calls.Sleep(1);
    }
    calls.CloseHandle(port);

    if (readFailed) {
        PRINT(calls, "Received:  reading failed after %lu bytes (Windows error %lu)", r.count,
              static_cast<unsigned long>(error));
        return kExitPortFailed;
    }
    if (r.count == 0) {
        PRINT(calls, "Received:  nothing in %d s", seconds);
        return kExitNoData;
    }
    return JudgeBlock(calls, r);
}

const char *Outcome(int exitCode, bool listened)
{
    switch (exitCode) {
    case kExitFound:
        return listened ? "the device was found, and the receiver takes its block"
                        : "the device was found";
    case kExitNoLibrary:
        return "the library cannot be used";
    case kExitNotFound:
        return "the receiver would not find the device";
    case kExitPortFailed:
        return "the port failed";
    case kExitNoData:
        return "no data arrived";
    default:
        return "data arrived, but not a block the receiver takes";
    }
}

struct OptionForm {
    const char *name, *form; // the accepted form, as the refusal names it
};
constexpr OptionForm kOptionForms[] = {
    {"vid", "HEX, 1 to 4 hex digits (0 to FFFF)"},
    {"pid", "HEX, 1 to 4 hex digits (0 to FFFF)"},
    {"listen", "SECONDS, 1 to 3600"},
    {"port", "COMn, a port name of 1 to 11 characters"},
};

bool ParseValue(const char *name, const char *value, Options &options)
{
    return SameText(name, "vid")      ? ParseUsbId(value, options.vendorId)
           : SameText(name, "pid")    ? ParseUsbId(value, options.productId)
           : SameText(name, "listen") ? ParseSeconds(value, options.listenSeconds)
                                      : ParsePortName(value, options.port);
}

} // namespace

bool ParseOptions(const CheckCalls &calls, int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const char *word = argv[i];
        const char *name = word[0] == '/' || word[0] == '-' ? word + 1 : "";
        if (SameText(name, "?")) {
            options.help = true;
            continue;
        }
        const OptionForm *option = nullptr;
        for (const OptionForm &form : kOptionForms)
            if (SameText(name, form.name)) option = &form;
        if (option == nullptr) {
            PRINT(calls, "Not understood: %s (VetrolinkCheck /? lists the options)", word);
            return false;
        }
        // A word that begins with "/" is the next option, not this one's value.
        const char *value = i + 1 < argc && argv[i + 1][0] != '/' ? argv[++i] : nullptr;
        if (value == nullptr || !ParseValue(name, value, options)) {
            PRINT(calls, "Not understood: %s %s: %s %s", word, value ? value : "without its value",
                  word, option->form);
            return false;
        }
    }
    if (options.port != nullptr && options.listenSeconds == 0) {
        PRINT(calls, "Not understood: /port %s without /listen: /port COMn /listen SECONDS",
              options.port);
        return false;
    }
    return true;
}

int RunCheck(const CheckCalls &calls, const Options &options)
{
    PRINT(calls, "VetrolinkCheck %s, %s", VL_VERSION, Width(kProgramIs64Bit));
    if (options.help) {
        calls.PrintLine("What Vetrolink.dll beside this program sees of the device; it writes "
                        "nothing.");
        calls.PrintLine("  VetrolinkCheck [/vid HEX] [/pid HEX] [/listen SECONDS [/port COMn]]");
        PRINT(calls,
              "  /vid /pid  the device's USB vendor and product ID (%04X and %04X, the "
              "receiver's)",
              ostrel::kVendorId, ostrel::kProductId);
        calls.PrintLine("  /listen    open the port the receiver opens at 19200 baud 8N1, purge "
                        "it and judge what arrives as the receiver does");
        calls.PrintLine("  /port      listen on this port instead");
        calls.PrintLine(
            "Exit code, the first step that failed: 0 found (with /listen: the receiver "
            "takes the block),");
        calls.PrintLine("  1 library unusable, 2 the receiver would not find the device, 3 port "
                        "failed, 4 no data,");
        calls.PrintLine("  5 not a block the receiver takes, 6 command line not understood");
        return kExitFound;
    }
    int exitCode = kExitFound;
    auto failed = [&exitCode](int code) {
        if (exitCode == kExitFound) exitCode = code;
    };
    Library library;
    if (!LoadVetrolink(calls, library)) {
        failed(kExitNoLibrary);
    } else {
        bool receiversIds =
            options.vendorId == ostrel::kVendorId && options.productId == ostrel::kProductId;
        int family = library.windowsVer();
        PRINT(calls, "Windows:   WindowsVer gives %d: %s", family, FamilyMeaning(family));
        Discovery found = FindDevice(calls, library, options);
        if (found.result != 0) {
            failed(kExitNotFound);
            Listing listing = ListSerialPorts(calls, family, options);
            if ((found.result == 5 || found.result == 8) && listing.askedPorts > 0 &&
                !options.port) {
                char ids[32] = "";
                if (!receiversIds)
                    FormatText(ids, sizeof ids, "/vid %04X /pid %04X ", options.vendorId,
                               options.productId);
                PRINT(calls,
                      "Try:       VetrolinkCheck %s/port %s /listen 10: it says why the port "
                      "does not open",
                      ids, listing.firstAskedPort);
            }
        }
        if (!receiversIds) {
            PRINT(calls, "Receiver:  looks for vendor ID %04X, product ID %04X, not these IDs",
                  ostrel::kVendorId, ostrel::kProductId);
            failed(kExitNotFound);
        }
        const char *port = options.port ? options.port : found.firstPort;
        if (options.port && found.result == 0 && !SameText(options.port, found.firstPort)) {
            PRINT(calls, "Receiver:  opens %s, the first port listed, not %s", found.firstPort,
                  options.port);
            failed(kExitNotFound);
        }
        if (options.listenSeconds > 0 && *port != '\0')
            failed(Listen(calls, library, port, options.listenSeconds));
    }
    PRINT(calls, "Result:    %s (exit code %d)", Outcome(exitCode, options.listenSeconds > 0),
          exitCode);
    return exitCode;
}

} // namespace linkcheck

// ComPort: the device's COM ports, found in the registry's device-enumeration
// tree and each tried by opening it.
#include <cstddef>
#include <cstring>

#include "comm_port.h"
#include "format_text.h"
#include "logic.h"

namespace vetrolink
{
namespace
{

constexpr size_t kKeyPathSize = 200;
constexpr DWORD kSubkeyNameSize = 100;
constexpr DWORD kParentDevNodeSize = 100;
constexpr size_t kPortNameFieldSize = 16;
constexpr size_t kPortListSize = 100;
// Every socket a device without a serial number was plugged into leaves an
// instance; this holds 163 names of the longest kind and about a thousand of
// the usual "5&2c3a0f9&0&12" kind.
constexpr size_t kSubkeyStoreSize = 16384;
// A registry that kept answering "name too long" would otherwise never end
// the collection.
constexpr DWORD kMaxSubkeyIndex = 65536;
constexpr int kCloseAttempts = 3;

constexpr char kNtEnumPrefix[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_";
constexpr char kNtInstanceSuffix[] = "\\Device Parameters";
constexpr char k98EnumKey[] = "Enum\\USB\\ZELTRAUSBCOMM";

// Code page 932 texts, with the text each one stands for.
// "Enum\USB\ZELTRAUSBCOMMが開けないです。"
constexpr char kMsg98KeyMissing[] =
    "Enum\\USB\\ZELTRAUSBCOMM"
    "\x82\xaa\x8a\x4a\x82\xaf\x82\xc8\x82\xa2\x82\xc5\x82\xb7\x81\x42";
// "PortNameが開けないです。"
constexpr char kMsgNtNoPort[] = "PortName"
                                "\x82\xaa\x8a\x4a\x82\xaf\x82\xc8\x82\xa2\x82\xc5\x82\xb7\x81\x42";
// "パソコンのＯＳは判定できないです。"
constexpr char kMsgOsUnknown[] = "\x83\x70\x83\x5c\x83\x52\x83\x93\x82\xcc\x82\x6e\x82\x72\x82\xcd"
                                 "\x94\xbb\x92\xe8\x82\xc5\x82\xab\x82\xc8\x82\xa2\x82\xc5\x82\xb7"
                                 "\x81\x42";
// "原因不明のエラーです。"
constexpr char kMsgUnknownError[] =
    "\x8c\xb4\x88\xf6\x95\x73\x96\xbe\x82\xcc\x83\x47\x83\x89\x81\x5b"
    "\x82\xc5\x82\xb7\x81\x42";
// "WDMMDMnがないです。"
constexpr char kMsg98NoPort[] = "WDMMDMn"
                                "\x82\xaa\x82\xc8\x82\xa2\x82\xc5\x82\xb7\x81\x42";

// The USB IDs as lower-case hex, at least four digits.
struct IdTexts {
    char vendor[9];
    char product[9];
};

IdTexts MakeIdTexts(int vendorId, int productId)
{
    IdTexts ids;
    FormatText(ids.vendor, sizeof ids.vendor, "%04x", static_cast<unsigned>(vendorId));
    FormatText(ids.product, sizeof ids.product, "%04x", static_cast<unsigned>(productId));
    return ids;
}

// The names of an enumerator key's subkeys, each with its NUL, one after the
// other in the order the registry gave them. The text ends the object: a
// write past it leaves the object, where the sanitizers see it.
struct SubkeyNames {
    int count;
    size_t used;
    char text[kSubkeyStoreSize];
};
static_assert(sizeof(SubkeyNames) == offsetof(SubkeyNames, text) + kSubkeyStoreSize,
              "no padding after the text");

void CopyText(char *destination, const char *text)
{
    std::memcpy(destination, text, std::strlen(text) + 1);
}

// A key that does not close is given up after a few attempts: the walk must end.
void CloseKey(const Win32Calls &win, HKEY key)
{
    for (int attempt = 0; attempt < kCloseAttempts; ++attempt)
        if (win.RegCloseKey(key) == ERROR_SUCCESS) return;
}

// Names of 100 characters or more cannot be an instance of the device and
// are passed over; any other failure ends the collection with what it has.
void CollectSubkeyNames(const Win32Calls &win, HKEY key, SubkeyNames *names)
{
    names->used = 0;
    names->count = 0;
    for (DWORD index = 0; index < kMaxSubkeyIndex; ++index) {
        char name[kSubkeyNameSize];
        DWORD length = sizeof name;
        LONG answer = win.RegEnumKeyExA(key, index, name, &length);
        if (answer == ERROR_NO_MORE_ITEMS) return;
        if (answer == ERROR_MORE_DATA || (answer == ERROR_SUCCESS && length >= sizeof name))
            continue;
        if (answer != ERROR_SUCCESS) return;
        name[length] = '\0';
        size_t nameLength = std::strlen(name);
        if (nameLength == 0) continue;
        if (names->used + nameLength + 1 > sizeof names->text) return;
        std::memcpy(names->text + names->used, name, nameLength + 1);
        names->used += nameLength + 1;
        ++names->count;
    }
}

// A port name usable in a device path and in the comma-separated list:
// terminated within its field, 1 to 11 characters, no comma.
bool ReadPortName(const Win32Calls &win, HKEY key, char (&portName)[kPortNameFieldSize])
{
    std::memset(portName, 0, sizeof portName);
    DWORD size = sizeof portName;
    if (win.RegQueryValueExA(key, "PortName", reinterpret_cast<LPBYTE>(portName), &size) !=
        ERROR_SUCCESS)
        return false;
    // Only what the call reports as read counts, whatever else it wrote.
    if (size < sizeof portName) portName[size] = '\0';
    if (!std::memchr(portName, '\0', sizeof portName)) return false;
    size_t length = std::strlen(portName);
    return length >= 1 && length <= kMaxPortNameLength && !std::strchr(portName, ',');
}

// Letters match in either case; the rule is the byte difference of 32, taken
// on signed bytes, so digits also match P to Y and bytes of 0x80 and above
// never match.
bool SameIdCharacter(char fromId, char fromValue)
{
    int difference = static_cast<signed char>(fromId) - static_cast<signed char>(fromValue);
    return difference == 0 || difference == 32 || difference == -32;
}

// "ParentDevNode" reads like USB\VID_1a2b&PID_00ff\...: the vendor digits
// stand at offsets 8 to 11, the product digits at 17 to 20. A value that
// cannot be read keeps the instance in the walk; one too short to hold both
// IDs names some other device.
bool ParentIsAnotherDevice(const Win32Calls &win, HKEY key, const IdTexts &ids)
{
    constexpr size_t kVendorAt = 8, kProductAt = 17, kDigits = 4;
    char value[kParentDevNodeSize];
    std::memset(value, 0, sizeof value);
    DWORD size = sizeof value;
    if (win.RegQueryValueExA(key, "ParentDevNode", reinterpret_cast<LPBYTE>(value), &size) !=
        ERROR_SUCCESS)
        return false;
    size_t limit = size < sizeof value ? size : sizeof value;
    const void *end = std::memchr(value, '\0', limit);
    size_t length = end ? static_cast<size_t>(static_cast<const char *>(end) - value) : limit;
    if (length < kProductAt + kDigits) return true;
    for (size_t i = 0; i < kDigits; ++i) {
        if (!SameIdCharacter(ids.vendor[i], value[kVendorAt + i])) return true;
        if (!SameIdCharacter(ids.product[i], value[kProductAt + i])) return true;
    }
    return false;
}

// The port opens exclusively and reports its configuration. A driver whose
// record is larger than one COMMCONFIG is asked again with the size it asks for.
bool PortAnswers(const Win32Calls &win, const char *portName)
{
    char path[kDevicePathSize];
    if (!BuildDevicePath(portName, path)) return false;
    HANDLE port = win.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, 0);
    if (port == INVALID_HANDLE_VALUE || port == nullptr) return false;

    union {
        COMMCONFIG record;
        unsigned char bytes[kLargestCommConfig];
    } config;
    DWORD size = 0;
    BOOL reported = QueryCommConfig(win, port, config.bytes, sizeof config, &size);
    win.CloseHandle(port);
    return reported != FALSE;
}

// How one search finds its instances.
struct Search {
    const char *enumKeyPath;
    const char *instanceSuffix; // appended to each instance's key path
    bool checkParent;           // instances name their device in "ParentDevNode"
    int keyMissingResult;
    const char *keyMissingText;
    int noPortResult;
    const char *noPortText;
};

// Appends the ports of every instance that passed the probe; returns how many.
// Names that would not fit in the caller's 100 bytes are left out.
int ListInstancePorts(const Win32Calls &win, const Search &search, const IdTexts &ids,
                      const SubkeyNames &names, char *portList)
{
    int listed = 0;
    size_t listLength = 0;
    const char *name = names.text;
    for (int n = 0; n < names.count; ++n, name += std::strlen(name) + 1) {
        char keyPath[kKeyPathSize];
        if (!FormatText(keyPath, sizeof keyPath, "%s\\%s%s", search.enumKeyPath, name,
                        search.instanceSuffix))
            continue;
        HKEY key;
        if (win.RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        char portName[kPortNameFieldSize];
        if ((!search.checkParent || !ParentIsAnotherDevice(win, key, ids)) &&
            ReadPortName(win, key, portName)) {
            size_t nameLength = std::strlen(portName);
            bool fits = listLength + nameLength + 2 <= kPortListSize; // comma and NUL
            if (fits && PortAnswers(win, portName)) {
                std::memcpy(portList + listLength, portName, nameLength);
                listLength += nameLength;
                portList[listLength++] = ',';
                portList[listLength] = '\0';
                ++listed;
            }
        }
        CloseKey(win, key);
    }
    return listed;
}

int RunSearch(const Win32Calls &win, const Search &search, const IdTexts &ids, int *portCount,
              char *portList)
{
    HKEY enumKey;
    if (win.RegOpenKeyExA(HKEY_LOCAL_MACHINE, search.enumKeyPath, 0, KEY_READ, &enumKey) !=
        ERROR_SUCCESS) {
        CopyText(portList, search.keyMissingText);
        return search.keyMissingResult;
    }
    SubkeyNames names;
    CollectSubkeyNames(win, enumKey, &names);
    CloseKey(win, enumKey);

    portList[0] = '\0';
    int listed = ListInstancePorts(win, search, ids, names, portList);
    if (listed > 0) {
        *portCount = listed;
        return 0;
    }
    CopyText(portList, search.noPortText);
    *portCount = 0;
    return search.noPortResult;
}

} // namespace

int ComPort(const Win32Calls &win, int vendorId, int productId, int *portCount, char *portList)
{
    return ComPortForFamily(win, WindowsVer(win), vendorId, productId, portCount, portList);
}

int ComPortForFamily(const Win32Calls &win, int family, int vendorId, int productId, int *portCount,
                     char *portList)
{
    const IdTexts ids = MakeIdTexts(vendorId, productId);
    switch (family) {
    case kFamily98: {
        const Search search98{k98EnumKey, "", true, 1, kMsg98KeyMissing, 8, kMsg98NoPort};
        return RunSearch(win, search98, ids, portCount, portList);
    }
    case kFamilyNt5:
    case kFamilyNt6: {
        // The key path itself is what the caller gets when it cannot be opened.
        char enumKeyPath[kKeyPathSize];
        FormatText(enumKeyPath, sizeof enumKeyPath, "%s%s&Pid_%s", kNtEnumPrefix, ids.vendor,
                   ids.product);
        const Search searchNt{enumKeyPath, kNtInstanceSuffix, false, 4, enumKeyPath,
                              5,           kMsgNtNoPort};
        return RunSearch(win, searchNt, ids, portCount, portList);
    }
    case kFamilyOther:
        CopyText(portList, kMsgOsUnknown);
        return 6;
    default:
        CopyText(portList, kMsgUnknownError);
        return 7;
    }
}

} // namespace vetrolink

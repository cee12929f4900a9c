// libFuzzer target: ComPort's walk over a registry and ports built from the
// input (names, values, lengths, enumeration and close failures, either
// search). Every run checks the result code, the shape of the port list, the
// count and the bytes after the text, and the walk's handle discipline.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "discovery_fake.h"
#include "logic.h"

namespace
{

using namespace vetrolink::testing;

constexpr size_t kReceiverBuffer = 100;
constexpr int kUnwritten = 0x5a5a5a5a;

void Fail(const char *what, const std::string &detail = "")
{
    std::fprintf(stderr, "discovery_fuzz: %s %s\n", what, detail.c_str());
    std::abort();
}

LONG Answer(FuzzedDataProvider &in)
{
    static const LONG kAnswers[] = {ERROR_SUCCESS,        ERROR_MORE_DATA,
                                    ERROR_NO_MORE_ITEMS,  ERROR_ACCESS_DENIED,
                                    ERROR_FILE_NOT_FOUND, ERROR_INVALID_PARAMETER};
    return in.ConsumeIntegralInRange(0, 3) ? kAsWindows : in.PickValueInArray(kAnswers);
}

RegistryValue Value(FuzzedDataProvider &in, std::string bytes)
{
    RegistryValue value{std::move(bytes), kAsWindows, {}};
    value.answer = Answer(in);
    if (in.ConsumeBool()) value.trailer = in.ConsumeRandomLengthString(24);
    return value;
}

// Mostly names that a driver would record, so the probe is reached.
std::string PortNameBytes(FuzzedDataProvider &in)
{
    if (in.ConsumeBool()) return in.ConsumeRandomLengthString(24);
    return "COM" + std::to_string(in.ConsumeIntegralInRange(0, 100000)) +
           (in.ConsumeBool() ? std::string(1, '\0') : std::string());
}

std::string ParentBytes(FuzzedDataProvider &in, int vendor, int product)
{
    if (in.ConsumeBool()) return in.ConsumeRandomLengthString(120);
    char parent[64];
    std::snprintf(parent, sizeof parent, "USB\\VID_%04X&PID_%04X\\", static_cast<unsigned>(vendor),
                  static_cast<unsigned>(product));
    std::string text = parent + in.ConsumeRandomLengthString(16);
    if (in.ConsumeBool())
        text[in.ConsumeIntegralInRange<size_t>(0, text.size() - 1)] = in.ConsumeIntegral<char>();
    if (in.ConsumeBool()) text.resize(in.ConsumeIntegralInRange<size_t>(0, text.size()));
    return text + '\0';
}

void AddPort(FuzzedDataProvider &in, FakeDiscovery &fake, const std::string &valueBytes)
{
    static const DWORD kConfigSizes[] = {sizeof(COMMCONFIG), 0, 200, 4096, 4097, 100000};
    std::string name = valueBytes.substr(0, valueBytes.find('\0'));
    FakePort &port = fake.Port(name);
    port.inUse = in.ConsumeIntegralInRange(0, 4) == 0;
    port.configFails = in.ConsumeIntegralInRange(0, 4) == 0;
    port.configSize = in.ConsumeBool() ? sizeof(COMMCONFIG) : in.PickValueInArray(kConfigSizes);
}

void BuildRegistry(FuzzedDataProvider &in, FakeDiscovery &fake, bool nt, int vendor, int product)
{
    char ntPath[96];
    std::snprintf(ntPath, sizeof ntPath, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_%04x&Pid_%04x",
                  static_cast<unsigned>(vendor), static_cast<unsigned>(product));
    const std::string enumPath = nt ? ntPath : "Enum\\USB\\ZELTRAUSBCOMM";
    if (in.ConsumeIntegralInRange(0, 15) == 0) return;
    RegistryKey &enumKey = fake.Key(enumPath);
    if (in.ConsumeIntegralInRange(0, 15) == 0) enumKey.openAnswer = ERROR_ACCESS_DENIED;
    enumKey.closeFailures = in.ConsumeIntegralInRange(-1, 4);

    int instances = in.ConsumeIntegralInRange(0, 80);
    for (int i = 0; i < instances && in.remaining_bytes() > 0; ++i) {
        std::string name = in.ConsumeBool() ? in.ConsumeRandomLengthString(120)
                                            : "5&2c3a0f9&0&" + std::to_string(i);
        enumKey.subkeys.push_back({name, Answer(in)});
        RegistryKey &instance =
            fake.Key(enumPath + "\\" + name + (nt ? "\\Device Parameters" : ""));
        if (in.ConsumeIntegralInRange(0, 7) == 0) instance.openAnswer = ERROR_FILE_NOT_FOUND;
        instance.closeFailures = in.ConsumeIntegralInRange(-1, 3);
        if (!nt && in.ConsumeBool())
            instance.values["ParentDevNode"] = Value(in, ParentBytes(in, vendor, product));
        if (in.ConsumeIntegralInRange(0, 7) == 0) continue;
        std::string portName = PortNameBytes(in);
        instance.values["PortName"] = Value(in, portName);
        if (in.ConsumeIntegralInRange(0, 3)) AddPort(in, fake, portName);
    }
}

// Each name followed by one comma, NUL-terminated within the buffer.
size_t CheckPortList(const char *list, int count)
{
    const void *nul = std::memchr(list, '\0', kReceiverBuffer);
    if (!nul) Fail("port list not terminated within 100 bytes");
    std::string text(list, static_cast<const char *>(nul));
    int names = 0;
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1) {
        size_t length = comma - start;
        if (length == 0 || length > 11) Fail("port name of a bad length in", text);
        ++names;
    }
    if (start != text.size()) Fail("port list without its final comma:", text);
    if (names != count || names == 0) Fail("count differs from the names listed:", text);
    return text.size() + 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static const int kFamilies[] = {98, 2000, 2007, 0};
    const int family = in.PickValueInArray(kFamilies);
    const int vendor =
        in.ConsumeBool() ? in.ConsumeIntegral<int>() : in.ConsumeIntegral<uint16_t>();
    const int product = in.ConsumeBool() ? 0xff : in.ConsumeIntegral<uint16_t>();
    const unsigned char fill = in.ConsumeIntegral<unsigned char>();

    FakeDiscovery fake;
    BuildRegistry(in, fake, family != 98, vendor, product);

    std::unique_ptr<char[]> list(new char[kReceiverBuffer]);
    std::memset(list.get(), fill, kReceiverBuffer);
    int count = kUnwritten;
    const int result =
        vetrolink::ComPortForFamily(fake, family, vendor, product, &count, list.get());

    size_t written = 0;
    switch (result) {
    case 0:
        written = CheckPortList(list.get(), count);
        break;
    case 5:
    case 8:
        if (count != 0) Fail("count not 0 with no port");
        [[fallthrough]];
    case 1:
    case 4:
    case 6:
    case 7: {
        const void *nul = std::memchr(list.get(), '\0', kReceiverBuffer);
        if (!nul) Fail("message not terminated within 100 bytes");
        written = static_cast<const char *>(nul) - list.get() + 1;
        if (result != 5 && result != 8 && count != kUnwritten) Fail("count written on failure");
        break;
    }
    default:
        Fail("result outside the table:", std::to_string(result));
    }
    for (size_t i = written; i < kReceiverBuffer; ++i)
        if (static_cast<unsigned char>(list[i]) != fill) Fail("byte written after the text");
    for (const std::string &breach : fake.Finish())
        Fail("walk broke a rule:", breach);
    return 0;
}

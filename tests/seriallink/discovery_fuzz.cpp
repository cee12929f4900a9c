// libFuzzer target: ComPort's walk over registries and ports built from the
// input (names, values, stray bytes, failing calls, either search). Every
// run checks the result, the port list's shape and count, that no byte
// after the text was written, and the walk's handle discipline.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "fake_windows.h"
#include "logic.h"

namespace
{

using namespace vetrolink::testing;

void Fail(const char *what, const std::string &detail = "")
{
    std::fprintf(stderr, "discovery_fuzz: %s %s\n", what, detail.c_str());
    std::abort();
}

void BuildRegistry(FuzzedDataProvider &in, FakeWindows &w, bool nt, int vendor, int product)
{
    char ids[96];
    std::snprintf(ids, sizeof ids, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_%04x&Pid_%04x",
                  static_cast<unsigned>(vendor), static_cast<unsigned>(product));
    const std::string enumPath = nt ? ids : "Enum\\USB\\ZELTRAUSBCOMM";
    if (in.ConsumeIntegralInRange(0, 15) == 0) return;
    RegistryKey &enumKey = w.keys[enumPath];
    if (in.ConsumeIntegralInRange(0, 15) == 0) enumKey.openAnswer = ERROR_ACCESS_DENIED;
    enumKey.closeFailures = in.ConsumeIntegralInRange(-1, 4);
    static const LONG kAnswers[] = {kAsWindows,    kAsWindows,      kAsWindows,
                                    ERROR_SUCCESS, ERROR_MORE_DATA, ERROR_ACCESS_DENIED};
    for (int i = 0, n = in.ConsumeIntegralInRange(0, 80); i < n && in.remaining_bytes(); ++i) {
        // Mostly what a driver would record, so that the probe is reached.
        std::string name = in.ConsumeBool() ? in.ConsumeRandomLengthString(120)
                                            : "5&2c3a0f9&0&" + std::to_string(i);
        enumKey.subkeys.push_back({name, in.PickValueInArray(kAnswers)});
        RegistryKey &key = w.keys[enumPath + "\\" + name + (nt ? "\\Device Parameters" : "")];
        if (in.ConsumeIntegralInRange(0, 7) == 0) key.openAnswer = ERROR_FILE_NOT_FOUND;
        key.closeFailures = in.ConsumeIntegralInRange(-1, 3);
        key.trailer = in.ConsumeRandomLengthString(24);
        if (!nt && in.ConsumeBool()) {
            std::snprintf(ids, sizeof ids, "USB\\VID_%04X&PID_%04X\\",
                          static_cast<unsigned>(vendor), static_cast<unsigned>(product));
            std::string parent = (in.ConsumeBool() ? ids : "") + in.ConsumeRandomLengthString(40);
            key.values["ParentDevNode"] = parent.substr(0, in.ConsumeIntegral<uint8_t>());
        }
        std::string port = in.ConsumeBool()
                               ? in.ConsumeRandomLengthString(24)
                               : "COM" + std::to_string(in.ConsumeIntegral<uint16_t>());
        key.values["PortName"] = port + (in.ConsumeBool() ? std::string(1, '\0') : "");
        static const long kPorts[] = {sizeof(COMMCONFIG), -1, 0, 200, 4096, 4097, 100000};
        if (in.ConsumeIntegralInRange(0, 3)) w.ports[port] = in.PickValueInArray(kPorts);
    }
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
    const char fill = in.ConsumeIntegral<char>();
    FakeWindows w;
    BuildRegistry(in, w, family != 98, vendor, product);

    constexpr int kUnwritten = 0x5a5a5a5a;
    std::unique_ptr<char[]> list(new char[100]);
    std::memset(list.get(), fill, 100);
    int count = kUnwritten;
    const int result = vetrolink::ComPortForFamily(w, family, vendor, product, &count, list.get());
    const char *end = static_cast<const char *>(std::memchr(list.get(), '\0', 100));
    if (!end) Fail("text not terminated within 100 bytes");
    const std::string text(list.get(), static_cast<size_t>(end - list.get()));
    if (result == 0) {
        // Each name of 1 to 11 characters followed by one comma.
        int names = 0;
        size_t start = 0;
        for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
            if (++names, comma == start || comma - start > 11) Fail("a name's length in", text);
        if (start != text.size()) Fail("list without its final comma:", text);
        if (names != count || names == 0) Fail("count differs from the names listed:", text);
    } else if (result == 5 || result == 8) {
        if (count != 0) Fail("count not 0 with no port");
    } else if (result == 1 || result == 4 || result == 6) {
        if (count != kUnwritten) Fail("count written on failure");
    } else {
        Fail("result outside the table:", std::to_string(result));
    }
    for (const char *p = end + 1; p < list.get() + 100; ++p)
        if (*p != fill) Fail("byte written after the text");
    for (const std::string &breach : w.Finish())
        Fail("walk broke a rule:", breach);
    return 0;
}

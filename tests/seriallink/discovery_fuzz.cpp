// libFuzzer target: ComPort's walk over registries and ports built from the input (names,
// values, stray bytes, failing calls, either search). Every run checks the result, the port
// list's shape and count, that no byte after the text was written, and the walk's handle rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>

#include "../common/fuzz_check.h"
#include "fake_windows.h"
#include "logic.h"

using namespace vetrolink::testing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int family = in.PickValueInArray({98, 2000, 2007, 0});
    const int vendor =
        in.ConsumeBool() ? in.ConsumeIntegral<int>() : in.ConsumeIntegral<uint16_t>();
    const int product = in.ConsumeBool() ? 0xff : in.ConsumeIntegral<uint16_t>();
    const char fill = in.ConsumeIntegral<char>();
    char ids[80], parent[40];
    std::snprintf(ids, sizeof ids, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_%04x&Pid_%04x",
                  static_cast<unsigned>(vendor), static_cast<unsigned>(product));
    std::snprintf(parent, sizeof parent, "USB\\VID_%04X&PID_%04X\\", static_cast<unsigned>(vendor),
                  static_cast<unsigned>(product));
    const std::string enumKey = family == 98 ? "Enum\\USB\\ZELTRAUSBCOMM" : ids;
    FakeWindows w;
    const int instances = in.ConsumeIntegralInRange(-5, 80); // below 0: no key at all
    if (instances >= 0) {
        w.keys[enumKey].openAnswer = in.ConsumeIntegralInRange(0, 15) ? 0 : ERROR_ACCESS_DENIED;
        w.keys[enumKey].closeFailures = in.ConsumeIntegralInRange(-1, 4);
    }
    for (int i = 0; i < instances && in.remaining_bytes(); ++i) {
        // Mostly what a driver would record, so that the probe is reached.
        const std::string name = in.ConsumeBool() ? in.ConsumeRandomLengthString(120)
                                                  : "5&2c3a0f9&0&" + std::to_string(i);
        w.keys[enumKey].subkeys.push_back(
            {name, in.PickValueInArray<LONG>({kAsWindows, kAsWindows, ERROR_SUCCESS,
                                              ERROR_MORE_DATA, ERROR_ACCESS_DENIED})});
        RegistryKey &key =
            w.keys[enumKey + "\\" + name + (family == 98 ? "" : "\\Device Parameters")];
        key.openAnswer = in.ConsumeIntegralInRange(0, 7) ? 0 : ERROR_FILE_NOT_FOUND;
        key.closeFailures = in.ConsumeIntegralInRange(-1, 3);
        key.trailer = in.ConsumeRandomLengthString(24);
        if (in.ConsumeBool())
            key.values["ParentDevNode"] =
                (in.ConsumeBool() ? parent : "") + in.ConsumeRandomLengthString(110);
        const std::string port = in.ConsumeBool()
                                     ? in.ConsumeRandomLengthString(24)
                                     : "COM" + std::to_string(in.ConsumeIntegral<uint16_t>());
        key.values["PortName"] = port + (in.ConsumeBool() ? std::string(1, '\0') : "");
        if (in.ConsumeIntegralInRange(0, 3))
            w.ports[port] = in.PickValueInArray<long>({52, 52, -1, 0, 200, 4096, 4097, 100000});
    }

    constexpr int kUnwritten = 0x5a5a5a5a;
    std::vector<char> list(100, fill); // on the heap, exactly 100 bytes, as the sanitizers see
    int count = kUnwritten;
    const int result = vetrolink::ComPortForFamily(w, family, vendor, product, &count, list.data());
    const auto end = std::find(list.begin(), list.end(), '\0');
    CHECK(end != list.end()); // the text ends within the 100 bytes
    const std::string text(list.begin(), end);
    if (result == 0) { // names of 1 to 11 characters, each followed by one comma
        int names = 0;
        size_t start = 0;
        for (size_t comma; (comma = text.find(',', start)) != std::string::npos;
             start = comma + 1, ++names)
            CHECK(comma > start && comma - start <= 11);
        CHECK(start == text.size() && names == count && names > 0);
    } else {
        CHECK(result == 1 || result == 4 || result == 5 || result == 6 || result == 8);
        CHECK(count == (result == 5 || result == 8 ? 0 : kUnwritten));
    }
    CHECK(std::all_of(end + 1, list.end(), [=](char c) { return c == fill; })); // none after it
    CHECK(w.Finish().empty()); // the walk's handle rules
    return 0;
}

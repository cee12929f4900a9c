// libFuzzer target: the caller's port name given to SetPort and SetPortOver, any bytes of any
// length. A name of at most 11 characters opens "\\.\" and the name, a longer one opens nothing;
// either way nothing is read or written outside the name and the 16-byte device path (ASan).
#include <memory>

#include "../common/fuzz_check.h"
#include "fake_windows.h"
#include "logic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::unique_ptr<char[]> name(new char[size + 1]); // on the heap, exactly as long as given
    std::memcpy(name.get(), data, size);
    name[size] = '\0';
    const std::string text = name.get(); // up to the first NUL
    for (auto [open, flags] :
         {std::pair{&vetrolink::SetPort, " 0"}, {&vetrolink::SetPortOver, " 40000080"}}) {
        vetrolink::testing::FakeWindows w;
        w.ports[text] = sizeof(COMMCONFIG);
        HANDLE port = nullptr;
        const bool opens = text.size() <= 11;
        CHECK(open(w, 19200, 8, 0, 0, &port, name.get()) == (opens ? 0 : 1));
        CHECK(opens ? w.log.at(0) == "CreateFileA \\\\.\\" + text + " c0000000 0" + flags
                    : w.log.empty());
        CHECK((port != nullptr) == opens && (!port || w.CloseHandle(port)) && w.Finish().empty());
    }
    return 0;
}

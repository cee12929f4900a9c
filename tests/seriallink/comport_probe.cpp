// ComPort as a program that binds Vetrolink.dll by name sees it:
//   comport_probe VENDOR PRODUCT FILL
//       one call on a 100-byte buffer pre-filled with FILL (and 16 guard
//       bytes after it); prints "result=R count=C bytes=HEX" with the
//       116 bytes, the count pre-filled with FILL too.
//   comport_probe VENDOR PRODUCT FILL CALLS
//       CALLS calls; prints "result=R microseconds=T,T,..." per call.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Vetrolink.h"

namespace
{

constexpr size_t kBuffer = 100, kGuard = 16;

ComPortProc BindComPort()
{
    HMODULE library = LoadLibraryA("Vetrolink.dll");
    if (!library) return nullptr;
    return reinterpret_cast<ComPortProc>(
        reinterpret_cast<void *>(GetProcAddress(library, "ComPort")));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: comport_probe VENDOR PRODUCT FILL [CALLS]\n");
        return 2;
    }
    const int vendor = static_cast<int>(std::strtol(argv[1], nullptr, 0));
    const int product = static_cast<int>(std::strtol(argv[2], nullptr, 0));
    const int fill = static_cast<int>(std::strtol(argv[3], nullptr, 0));
    ComPortProc comPort = BindComPort();
    if (!comPort) {
        std::fprintf(stderr, "cannot bind ComPort in Vetrolink.dll\n");
        return 3;
    }
    unsigned char list[kBuffer + kGuard];
    int count;
    if (argc == 5) {
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        int result = 0;
        std::printf("microseconds=");
        for (long call = 0, calls = std::strtol(argv[4], nullptr, 0); call < calls; ++call) {
            QueryPerformanceCounter(&start);
            result = comPort(vendor, product, &count, reinterpret_cast<char *>(list));
            QueryPerformanceCounter(&end);
            std::printf("%s%lld", call ? "," : "",
                        (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
        }
        std::printf(" result=%d\n", result);
        return 0;
    }
    std::memset(list, fill, sizeof list);
    std::memset(&count, fill, sizeof count);
    int result = comPort(vendor, product, &count, reinterpret_cast<char *>(list));
    std::printf("result=%d count=%d bytes=", result, count);
    for (unsigned char byte : list)
        std::printf("%02x", byte);
    std::printf("\n");
    return 0;
}

// Vetrolink.dll as a host program uses it: loaded by name, each export bound
// with GetProcAddress. Each step on the command line calls one export and
// prints a line (wine_test.py checks them; bench/ reads the timings):
//   os                   WindowsVer -> os FAMILY
//   ver | find V P       AskVer, or ComPort for vendor V and product P, with
//                        the out-parameters filled with 0x00, then with 0xff:
//                        two lines ver|find RESULT COUNT HEX MICROSECONDS
//                        (HEX: the 116 bytes of the text buffer)
//   open|over PORT BAUD DATABITS PARITY STOPBITS
//                        SetPort|SetPortOver -> open|over RESULT [untouched]
//   read COUNT MS        ReadData until COUNT bytes came or MS ms passed
//                        -> read RESULT HEX CALLS MS_FROM_FIRST_TO_LAST_BYTE
//   write COUNT          WriteData of the bytes 0, 1, 2 ... -> write RESULT WRITTEN
//   clear MODE | close   ClearBuffer | CloseCom -> clear|close RESULT
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Vetrolink.h"

namespace
{

const HMODULE library = LoadLibraryA("Vetrolink.dll");

void *Bind(const char *name)
{
    if (FARPROC proc = GetProcAddress(library, name)) return reinterpret_cast<void *>(proc);
    std::printf("cannot bind %s\n", name);
    std::exit(3);
}
#define VL(name) reinterpret_cast<name##Proc>(Bind(#name))

void PrintHex(const std::string &bytes) // "-" for none
{
    std::printf(bytes.empty() ? " -" : " ");
    for (unsigned char byte : bytes)
        std::printf("%02x", byte);
}

} // namespace

int main(int argc, char **argv)
{
    HANDLE port = nullptr;
    int i = 1;
    auto number = [&] { return i < argc ? std::strtol(argv[i++], nullptr, 0) : 0L; };
    while (i < argc) {
        const std::string step = argv[i++];
        std::printf("%s", step.c_str());
        if (step == "os") {
            std::printf(" %d", VL(WindowsVer)());
        } else if (step == "ver" || step == "find") {
            const int vendor = step == "find" ? number() : 0,
                      product = step == "find" ? number() : 0;
            const auto askVer = VL(AskVer);
            const auto comPort = VL(ComPort);
            for (int fill : {0x00, 0xff}) {
                char text[116];
                int count;
                std::memset(text, fill, sizeof text);
                std::memset(&count, fill, sizeof count);
                LARGE_INTEGER start, end, second;
                QueryPerformanceCounter(&start);
                int result = step == "ver" ? askVer(text) : comPort(vendor, product, &count, text);
                QueryPerformanceCounter(&end);
                QueryPerformanceFrequency(&second);
                std::printf("%s%s %d %d", fill ? "\n" : "", fill ? step.c_str() : "", result,
                            count);
                PrintHex(std::string(text, sizeof text));
                std::printf(" %lld", (end.QuadPart - start.QuadPart) * 1000000 / second.QuadPart);
            }
        } else if (step == "open" || step == "over") {
            const char *name = i < argc ? argv[i++] : "";
            const DWORD baud = number();
            const int dataBits = number(), parity = number(), stopBits = number();
            HANDLE handle = nullptr;
            std::printf(" %d", (step == "open" ? VL(SetPort) : VL(SetPortOver))(
                                   baud, dataBits, parity, stopBits, &handle, name));
            std::printf(handle ? "" : " untouched");
            port = handle ? handle : port;
        } else if (step == "read") {
            const long want = number(), limit = number();
            const auto readData = VL(ReadData);
            std::string bytes;
            unsigned long calls = 0;
            DWORD first = 0, last = 0;
            int result = 1;
            for (DWORD start = GetTickCount(); static_cast<long>(bytes.size()) < want;) {
                unsigned char byte;
                ++calls;
                if ((result = readData(port, &byte)) == 0) {
                    last = GetTickCount();
                    first = bytes.empty() ? last : first;
                    bytes += static_cast<char>(byte);
                } else if (result != 1 || static_cast<long>(GetTickCount() - start) >= limit) {
                    break;
                }
            }
            std::printf(" %d", result);
            PrintHex(bytes);
            std::printf(" %lu %lu", calls, static_cast<unsigned long>(last - first));
        } else if (step == "write") {
            unsigned char data[256];
            for (unsigned k = 0; k < sizeof data; ++k)
                data[k] = static_cast<unsigned char>(k);
            DWORD written = 0;
            std::printf(" %d", VL(WriteData)(port, data, number(), &written));
            std::printf(" %lu", static_cast<unsigned long>(written));
        } else if (step == "clear") {
            std::printf(" %d", VL(ClearBuffer)(port, number()));
        } else if (step == "close") {
            std::printf(" %d", VL(CloseCom)(port));
        } else {
            std::printf(": no such step\n");
            return 2;
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

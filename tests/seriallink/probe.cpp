// Vetrolink.dll as a C or C++ host uses it: linked with the import library that the host
// author's guide has dlltool make from the archive's Vetrolink.def. Each step calls an export
// and prints a line (wine_test.py; bench/ reads the timings): os; ver; find VENDOR PRODUCT (the
// out-parameters filled with 0xff) -> RESULT COUNT HEX MICROSECONDS; open|over PORT BAUD BITS
// PARITY STOPBITS; read COUNT MS (until COUNT bytes or MS ms) -> RESULT HEX CALLS
// MS_FROM_FIRST_TO_LAST_BYTE (exit 3 when a read that found nothing wrote the byte, which reads
// fill with 0x00 and 0xff by turns); write COUNT (bytes 0, 1 ...); clear MODE; close.
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>

#include "Vetrolink.h"

static void PrintHex(const std::string &bytes) // "-" for none
{
    std::printf(bytes.empty() ? " -" : " ");
    for (unsigned char byte : bytes)
        std::printf("%02x", byte);
}

int main(int argc, char **argv)
{
    HANDLE port = nullptr;
    unsigned long reads = 0; // of the whole run: two reads in a row fill the byte differently
    int i = 1;
    auto number = [&] { return i < argc ? std::strtol(argv[i++], nullptr, 0) : 0L; };
    while (i < argc) {
        const std::string step = argv[i++];
        std::printf("%s", step.c_str());
        if (step == "os") {
            std::printf(" %d", WindowsVer());
        } else if (step == "ver" || step == "find") {
            const int vendor = step == "find" ? number() : 0,
                      product = step == "find" ? number() : 0;
            std::string text(116, '\xff');
            int count = -1;
            LARGE_INTEGER start, end, second;
            QueryPerformanceCounter(&start);
            int result =
                step == "ver" ? AskVer(text.data()) : ComPort(vendor, product, &count, text.data());
            QueryPerformanceCounter(&end);
            QueryPerformanceFrequency(&second);
            std::printf(" %d %d", result, count);
            PrintHex(text);
            std::printf(" %lld", (end.QuadPart - start.QuadPart) * 1000000 / second.QuadPart);
        } else if (step == "open" || step == "over") {
            const char *name = i < argc ? argv[i++] : "";
            const long baud = number(), dataBits = number(), parity = number(), stopBits = number();
            HANDLE handle = nullptr;
            std::printf(" %d", (step == "open" ? SetPort : SetPortOver)(baud, dataBits, parity,
                                                                        stopBits, &handle, name));
            std::printf(handle ? "" : " untouched");
            port = handle ? handle : port;
        } else if (step == "read") {
            const long want = number(), limit = number();
            std::string bytes;
            unsigned long calls = 0;
            DWORD first = 0, last = 0, start = GetTickCount();
            unsigned char byte, fill;
            int result;
            do {
                byte = fill = reads++ % 2 ? 0xff : 0x00; // a byte not read stays as it was
                if ((++calls, result = ReadData(port, &byte)) == 0) {
                    last = GetTickCount();
                    first = bytes.empty() ? last : first;
                    bytes += static_cast<char>(byte);
                } else if (result == 1 && byte != fill) {
                    return std::printf(" 1: the byte written\n"), 3;
                }
            } while (static_cast<long>(bytes.size()) < want &&
                     (result == 0 ||
                      (result == 1 && static_cast<long>(GetTickCount() - start) < limit)));
            std::printf(" %d", result);
            PrintHex(bytes);
            std::printf(" %lu %lu", calls, static_cast<unsigned long>(last - first));
        } else if (step == "write") {
            unsigned char data[256];
            std::iota(data, data + sizeof data, 0);
            DWORD written = 0;
            const int result = WriteData(port, data, number(), &written);
            std::printf(" %d %lu", result, static_cast<unsigned long>(written));
        } else if (step == "clear" || step == "close") {
            std::printf(" %d", step == "clear" ? ClearBuffer(port, number()) : CloseCom(port));
        } else {
            return std::printf(": no such step\n"), 2;
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

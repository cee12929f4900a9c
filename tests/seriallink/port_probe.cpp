// Drives the port operations on one COM port for a test on the device's side
// (port_device_test.py). Each argument after the port name is one step; each
// step prints one line with its result code:
//   open [BAUD DATABITS PARITY STOPBITS]   SetPort (19200 8 0 0) -> "open R"
//   read COUNT MS     ReadData until COUNT bytes or MS ms -> "read R N HEX"
//                     (R: the last result, N: bytes read)
//   write COUNT       WriteData of COUNT bytes 0, 1, 2 ... -> "write R WRITTEN"
//   poll MS           ReadData for MS ms, counting the calls -> "poll R CALLS"
//   block COUNT MS    read COUNT bytes as "read" does, timing them
//                     -> "block R N MS_FROM_FIRST_TO_LAST_BYTE"
//   sleep MS
//   close             CloseCom -> "close R"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Vetrolink.h"

namespace
{

unsigned long Number(int argc, char **argv, int &i, unsigned long otherwise)
{
    if (i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9')
        return std::strtoul(argv[++i], nullptr, 10);
    return otherwise;
}

struct Received {
    int result = 1; // of the last ReadData
    unsigned long count = 0;
    std::string hex;
    DWORD first = 0, last = 0; // ticks at the first and the last byte
};

// ReadData until `count` bytes came, a failure, or `limit` ms passed.
Received ReadBytes(HANDLE port, unsigned long count, DWORD limit)
{
    Received got;
    for (DWORD start = GetTickCount(); got.count < count;) {
        unsigned char byte;
        got.result = ReadData(port, &byte);
        if (got.result == 0) {
            char text[3];
            std::snprintf(text, sizeof text, "%02x", byte);
            got.hex += text;
            got.last = GetTickCount();
            if (got.count++ == 0) got.first = got.last;
        } else if (got.result != 1 || GetTickCount() - start > limit) {
            break;
        }
    }
    return got;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: port_probe PORT STEP...\n");
        return 2;
    }
    HANDLE port = INVALID_HANDLE_VALUE;
    for (int i = 2; i < argc; ++i) {
        std::string step = argv[i];
        if (step == "open") {
            DWORD baud = Number(argc, argv, i, 19200);
            int dataBits = static_cast<int>(Number(argc, argv, i, 8));
            int parity = static_cast<int>(Number(argc, argv, i, 0));
            int stopBits = static_cast<int>(Number(argc, argv, i, 0));
            std::printf("open %d\n", SetPort(baud, dataBits, parity, stopBits, &port, argv[1]));
        } else if (step == "read" || step == "block") {
            unsigned long count = Number(argc, argv, i, 1);
            Received got = ReadBytes(port, count, Number(argc, argv, i, 0));
            if (step == "read")
                std::printf("read %d %lu %s\n", got.result, got.count, got.hex.c_str());
            else
                std::printf("block %d %lu %lu\n", got.result, got.count,
                            static_cast<unsigned long>(got.last - got.first));
        } else if (step == "write") {
            unsigned long count = Number(argc, argv, i, 1);
            unsigned char data[256];
            for (unsigned k = 0; k < sizeof data; ++k)
                data[k] = static_cast<unsigned char>(k);
            DWORD written = 0;
            int result = WriteData(port, data, count, &written);
            std::printf("write %d %lu\n", result, static_cast<unsigned long>(written));
        } else if (step == "poll") {
            DWORD limit = Number(argc, argv, i, 1000);
            unsigned long calls = 0;
            int result = 1;
            unsigned char byte;
            for (DWORD start = GetTickCount(); GetTickCount() - start < limit && result == 1;
                 ++calls)
                result = ReadData(port, &byte);
            std::printf("poll %d %lu\n", result, calls);
        } else if (step == "sleep") {
            Sleep(Number(argc, argv, i, 0));
        } else if (step == "close") {
            std::printf("close %d\n", CloseCom(port));
        } else {
            std::fprintf(stderr, "port_probe: unknown step %s\n", argv[i]);
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}

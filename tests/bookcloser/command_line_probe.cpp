// Prints its ANSI code page and its command line, byte for byte in hex, so
// that the end-to-end tests can check the exact text a program receives.
#include <windows.h>

#include <cstdio>

int main()
{
    std::printf("acp=%u line=", GetACP());
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(GetCommandLineA()); *p;
         ++p)
        std::printf("%02x", *p);
    std::printf("\n");
    return 0;
}

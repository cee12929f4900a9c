// The library's nine plain exports built with the wrong calling convention
// (cdecl), only to show that the convention test catches such a build.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef SetPort

extern "C" {
int __cdecl WindowsVer(void) { return 0; }
int __cdecl AskVer(char *) { return 0; }
int __cdecl ComPort(int, int, int *, char *) { return 4; }
int __cdecl SetPort(DWORD, int, int, int, HANDLE *, const char *) { return 1; }
int __cdecl SetPortOver(DWORD, int, int, int, HANDLE *, const char *) { return 1; }
int __cdecl ReadData(HANDLE, unsigned char *) { return 2; }
int __cdecl WriteData(HANDLE, const unsigned char *, DWORD, DWORD *) { return 2; }
int __cdecl ClearBuffer(HANDLE, int) { return 2; }
int __cdecl CloseCom(HANDLE) { return 1; }
}

// The library's nine plain exports built as cdecl, the wrong convention, only
// to show that calling_convention_test sees such a build.
extern "C" int __cdecl WindowsVer() { return 0; }
extern "C" int __cdecl AskVer(char *) { return 0; }
extern "C" int __cdecl ComPort(int, int, int *, char *) { return 4; }
extern "C" int __cdecl SetPort(unsigned, int, int, int, void **, const char *) { return 1; }
extern "C" int __cdecl SetPortOver(unsigned, int, int, int, void **, const char *) { return 1; }
extern "C" int __cdecl ReadData(void *, unsigned char *) { return 2; }
extern "C" int __cdecl WriteData(void *, const unsigned char *, unsigned, unsigned *) { return 2; }
extern "C" int __cdecl ClearBuffer(void *, int) { return 2; }
extern "C" int __cdecl CloseCom(void *) { return 1; }

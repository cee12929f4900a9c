// The DLL's exports: each plain export hands the real Win32 calls to the logic.
#include "logic.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" {

int VETROLINK_CALL WindowsVer(void) { return vetrolink::WindowsVer(vetrolink::RealWin32()); }

int VETROLINK_CALL AskVer(char *versionText) { return vetrolink::AskVer(versionText); }

int VETROLINK_CALL ComPort(int vendorId, int productId, int *portCount, char *portList)
{
    return vetrolink::ComPort(vetrolink::RealWin32(), vendorId, productId, portCount, portList);
}

} // extern "C"

int fnVetrolink(void) { return 42; }

int nVetrolink = 0;

CVetrolink::CVetrolink() {}

CVetrolink &CVetrolink::operator=(const CVetrolink &) { return *this; }

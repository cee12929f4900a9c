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

int VETROLINK_CALL SetPort(DWORD baudRate, int dataBits, int parity, int stopBits, HANDLE *port,
                           const char *portName)
{
    return vetrolink::SetPort(vetrolink::RealWin32(), baudRate, dataBits, parity, stopBits, port,
                              portName);
}

int VETROLINK_CALL SetPortOver(DWORD baudRate, int dataBits, int parity, int stopBits, HANDLE *port,
                               const char *portName)
{
    return vetrolink::SetPortOver(vetrolink::RealWin32(), baudRate, dataBits, parity, stopBits,
                                  port, portName);
}

int VETROLINK_CALL ReadData(HANDLE port, unsigned char *byte)
{
    return vetrolink::ReadData(vetrolink::RealWin32(), port, byte);
}

int VETROLINK_CALL WriteData(HANDLE port, const unsigned char *data, DWORD count, DWORD *written)
{
    return vetrolink::WriteData(vetrolink::RealWin32(), port, data, count, written);
}

int VETROLINK_CALL ClearBuffer(HANDLE port, int mode)
{
    return vetrolink::ClearBuffer(vetrolink::RealWin32(), port, mode);
}

int VETROLINK_CALL CloseCom(HANDLE port)
{
    return vetrolink::CloseCom(vetrolink::RealWin32(), port);
}

} // extern "C"

int fnVetrolink(void) { return 42; }

int nVetrolink = 0;

CVetrolink::CVetrolink() {}

CVetrolink &CVetrolink::operator=(const CVetrolink &) { return *this; }

// A Vetrolink.dll without WindowsVer, whose ComPort and SetPort would let a
// receiver that went on anyway reach the work folder.
#include "Vetrolink.h"

extern "C" {

int VETROLINK_CALL ComPort(int, int, int *portCount, char *portList)
{
    *portCount = 1;
    const char list[] = "COM31,";
    for (unsigned i = 0; i < sizeof list; ++i)
        portList[i] = list[i];
    return 0;
}

int VETROLINK_CALL SetPort(DWORD, int, int, int, HANDLE *port, const char *)
{
    *port = GetStdHandle(STD_INPUT_HANDLE);
    return 0;
}

} // extern "C"

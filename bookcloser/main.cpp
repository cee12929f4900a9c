// Wendra.exe's entry point. The argument comes from the whole command line:
// the runtime's own split drops bytes of 0x80 and above at its start.
#include "closer.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return wendra::StartCloser(wendra::RealCloserCalls(), instance, GetCommandLineA());
}

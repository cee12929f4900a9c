// Ostrel.exe: started by the host application, it runs one receive cycle and
// reports how it ended through its exit code. No window, no command line.
#include "receiver.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return ostrel::ReceiveCycle(ostrel::RealCalls());
}

// VetrolinkCheck.exe: run by a person at the PC when the device cannot be
// found. It loads Vetrolink.dll from its own folder as the receiver does and
// prints what each step sees; the exit code says how far it got.
#include "check.h"

int main(int argc, char **argv)
{
    const linkcheck::CheckCalls &calls = linkcheck::RealCalls();
    linkcheck::Options options;
    int exitCode = linkcheck::ParseOptions(calls, argc, argv, options)
                       ? linkcheck::RunCheck(calls, options)
                       : linkcheck::kExitUsage;
    // Started by a double-click, the console window would close with the
    // last line unread.
    if (calls.ConsoleOfItsOwn()) {
        calls.PrintLine("Press Enter to close this window.");
        calls.WaitForEnter();
    }
    return exitCode;
}

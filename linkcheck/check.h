// VetrolinkCheck.exe: what Vetrolink.dll sees of the device, one step a
// line, for a person at the PC. Every function takes the seam
// (check_calls.h).
#ifndef LINKCHECK_CHECK_H
#define LINKCHECK_CHECK_H

#include "check_calls.h"

namespace linkcheck
{

// The device as the receiver looks for it: its vendor ID is the receiver's
// build setting, its product ID 255.
#ifndef OSTREL_VENDOR_ID
#    define OSTREL_VENDOR_ID 0x0ABC
#endif
constexpr int kReceiverVendorId = OSTREL_VENDOR_ID;
constexpr int kReceiverProductId = 0x00FF;
constexpr int kBlockSize = 350;

// Exit codes: the outcome of the last step that ran.
constexpr int kExitFound = 0;      // device found; when listening, one block arrived
constexpr int kExitNoLibrary = 1;  // Vetrolink.dll missing, of the other width, or incomplete
constexpr int kExitNotFound = 2;   // ComPort found no usable port of the device
constexpr int kExitPortFailed = 3; // the port did not open, configure, purge or read
constexpr int kExitNoData = 4;     // not a byte arrived while listening
constexpr int kExitNotABlock = 5;  // bytes arrived, but not 350
constexpr int kExitUsage = 6;      // the command line was not understood

struct Options {
    int vendorId = kReceiverVendorId;
    int productId = kReceiverProductId;
    int listenSeconds = 0;      // 0: no port is opened
    const char *port = nullptr; // listen on this port instead of the first one listed
    bool help = false;
};

// Reads the command line (argv[0] is the program). false: not understood,
// and the reason has been printed.
bool ParseOptions(const CheckCalls &calls, int argc, char **argv, Options &options);

// Prints what each step found and returns the exit code.
int RunCheck(const CheckCalls &calls, const Options &options);

} // namespace linkcheck

#endif

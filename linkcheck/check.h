// VetrolinkCheck.exe: what Vetrolink.dll sees of the device, one step a
// line, for a person at the PC. It judges as the receiver (receiver.h)
// does: the same device IDs, block size and time limit. Every function
// takes the seam (check_calls.h).
#ifndef LINKCHECK_CHECK_H
#define LINKCHECK_CHECK_H

#include "check_calls.h"
#include "receiver.h"

namespace linkcheck
{

// Exit codes: the first step that failed, in the order the receiver takes
// them; 0 when the receiver, started beside the check, would have come as
// far (and, when listening, taken the block).
constexpr int kExitFound = 0;      // device found; when listening, the receiver takes the block
constexpr int kExitNoLibrary = 1;  // Vetrolink.dll missing, of the other width, damaged, foreign
constexpr int kExitNotFound = 2;   // the receiver would not find the device's port
constexpr int kExitPortFailed = 3; // the port did not open, configure, purge or read
constexpr int kExitNoData = 4;     // not a byte arrived while listening
constexpr int kExitNotABlock = 5;  // bytes arrived, but not one block the receiver takes
constexpr int kExitUsage = 6;      // the command line was not understood

struct Options {
    int vendorId = ostrel::kVendorId;
    int productId = ostrel::kProductId;
    int listenSeconds = 0;      // 0: no port is opened
    const char *port = nullptr; // listen on this port instead of the first one listed
    bool help = false;
};

// Reads the command line (argv[0] is the program). false: not understood,
// and the word and the accepted form have been printed.
bool ParseOptions(const CheckCalls &calls, int argc, char **argv, Options &options);

// Prints what each step found and returns the exit code.
int RunCheck(const CheckCalls &calls, const Options &options);

} // namespace linkcheck

#endif

// Ostrel, the data receiver: one receive cycle from start to exit. Every
// function takes the seam to the outside world (receiver_calls.h).
#ifndef OSTREL_RECEIVER_H
#define OSTREL_RECEIVER_H

#include "receiver_calls.h"

namespace ostrel
{

// The device, as installed: USB vendor ID (a build setting) and product ID.
#ifndef OSTREL_VENDOR_ID
#    define OSTREL_VENDOR_ID 0x0ABC
#endif
constexpr int kVendorId = OSTREL_VENDOR_ID;
constexpr int kProductId = 0x00FF;

constexpr int kBlockSize = 350;
constexpr double kTimeLimitSeconds = 2.0; // exceeded when the clock has moved more than this
constexpr size_t kPathSize = 500;         // every path buffer: 499 characters and the NUL
constexpr size_t kPortListSize = 100;

// The time limit on a block: its clock, read once at the first byte and again
// after every read, has moved on by more than kTimeLimitSeconds. The clock
// counts whole seconds, so a block is given up on between 2 and 3 s after its
// first byte. (The difference as std::difftime gives it; in 64-bit builds
// difftime would import _difftime64, which msvcrt.dll has only from Vista on.)
inline bool TimeLimitPassed(std::time_t firstByte, std::time_t now)
{
    return static_cast<double>(now - firstByte) > kTimeLimitSeconds;
}

// How long one look waits: a read for a byte, the pause between looks for
// the host's acknowledgement. Half of it, on average, is what a stop marker
// waits to be seen; twenty looks a second cost the processor nothing to speak
// of.
constexpr DWORD kLookMs = 50;

// SetPort leaves the port's reads returning at once, so that a caller polls.
// These read time-outs, set on the port's own handle, let a read return at
// once with a byte that is there and otherwise wait in the driver up to
// kLookMs for one (the receiver's, and the check program's listen).
constexpr COMMTIMEOUTS kWaitingReads = {MAXDWORD, MAXDWORD, kLookMs, 0, 0};

// Process exit codes.
constexpr int kExitAcknowledged = 0;
constexpr int kExitNoWorkFolder = 1;
constexpr int kExitLinkFailed = 3;
constexpr int kExitFileFailed = 5;
constexpr int kExitStopped = 8;
constexpr int kExitTimedOut = 9;

// The link to the device: the library, the port it opened, the OS family.
struct Link {
    HMODULE library = nullptr;
    HANDLE port = INVALID_HANDLE_VALUE; // no port opened
    int osFamily = 0;
};

// OpenLink results.
constexpr int kOpenOk = 0;
constexpr int kOpenNoLibrary = 1;
constexpr int kOpenNoComPort = 2;
constexpr int kOpenNoDevicePort = 3;
constexpr int kOpenNoSetPort = 4;
constexpr int kOpenPortFailed = 5;
constexpr int kOpenNoWindowsVer = 6;

// Loads Vetrolink.dll, asks it for the OS family and the device's ports and
// opens the first one at 19200 8N1. Undoes nothing on failure: CloseLink
// releases what was taken.
int OpenLink(const ReceiverCalls &calls, Link &link);

// Closes the port (if one was opened), then frees the library (if loaded).
// 0 done, 1 CloseHandle failed (library kept), 2 FreeLibrary failed.
int CloseLink(const ReceiverCalls &calls, Link &link);

// The work folder for the OS family: the application-data rule for 2007,
// the current-directory rule below it. 0 found (folder holds it), 1 not.
int GetWorkFolder(const ReceiverCalls &calls, char (&folder)[kPathSize], int osFamily);

// 0 when the file can be opened for reading (note the sense), 2 when not.
int FileExists(const ReceiverCalls &calls, const char *path);

// 0 deleted, 1 not.
int RemoveFile(const ReceiverCalls &calls, const char *path);

// The whole cycle; returns the process exit code.
int ReceiveCycle(const ReceiverCalls &calls);

} // namespace ostrel

#endif

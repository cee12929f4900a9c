// ComPort for real under Wine: the probe program's answer, and its check
// against what the caller's buffers must hold afterwards.
#ifndef VETROLINK_TESTS_DISCOVERY_WINE_SUPPORT_H
#define VETROLINK_TESTS_DISCOVERY_WINE_SUPPORT_H

#include <climits>
#include <string>

#include "wine_support.h"

namespace discoverytest
{

constexpr int kUnchanged = INT_MIN;
constexpr int kProduct = 0xff;

struct ComPortRun {
    bool ran = false;
    int result = -1;
    int count = 0;
    std::string bytes; // the 100-byte buffer and the 16 bytes after it
    std::string output;
};

// Runs comport_probe (or another build of it) in Wine's Windows version
// `mode`, or in the prefix's own mode when mode is nullptr.
ComPortRun RunComPort(const char *mode, int vendorId, unsigned char fill,
                      const char *probe = "comport_probe.exe");

// Checks one run: the result, the text at the start of the buffer (NUL
// included), every byte after it still `fill`, and the count (kUnchanged:
// still `fill` in each byte).
void ExpectComPort(const ComPortRun &run, unsigned char fill, int result, const std::string &text,
                   int count);

// Both checks with the buffers pre-filled with 0x00 and with 0xff.
void ExpectComPortEitherFill(const char *mode, int vendorId, int result, const std::string &text,
                             int count);

std::string Text(const std::string &text);

// HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_xxxx&Pid_00ff, written in
// upper case: the registry finds keys whatever their case.
std::string NtEnumKey(int vendorId);

} // namespace discoverytest

#endif

// One receive cycle: from start-up to the host's acknowledgement.
#include <cstring>

#include "exchange_files.h"

namespace ostrel
{
namespace
{

constexpr DWORD kPurgeBoth = PURGE_TXCLEAR | PURGE_RXCLEAR;

// A driver that refuses or ignores the waiting reads is caught by the pause
// in ReadOneByte.
void LetReadsWaitForAByte(const ReceiverCalls &calls, HANDLE port)
{
    COMMTIMEOUTS timeouts = kWaitingReads;
    calls.SetCommTimeouts(port, &timeouts);
}

// True when a byte came. A read that came back empty before its wait was up
// (a failing port, a driver without that time-out) is followed by a pause
// for the rest of it, so that no wait spins.
bool ReadOneByte(const ReceiverCalls &calls, HANDLE port, unsigned char *byte)
{
    const DWORD start = calls.GetTickCount();
    DWORD transferred = 0;
    if (calls.ReadFile(port, byte, 1, &transferred) && transferred == 1) return true;
    const DWORD waited = calls.GetTickCount() - start; // right across the count's wrap
    if (waited < kLookMs) calls.Sleep(kLookMs - waited);
    return false;
}

// Waits for the first byte, looking for the host's stop marker after each
// read; true when the byte came, false when the marker ended the wait.
bool WaitForFirstByte(const ReceiverCalls &calls, HANDLE port, const ExchangeFiles &files,
                      unsigned char *byte)
{
    for (;;) {
        if (ReadOneByte(calls, port, byte)) return true;
        Stream *stop = calls.OpenFile(files.stopCommand, "r");
        if (stop != nullptr) {
            AppendStopLine(calls, files);
            calls.CloseFile(stop);
            return false;
        }
    }
}

// Collects the rest of the block after the first byte; false when the time
// limit passed first. The limit covers the whole block and is tested after
// every read, before the count: a last byte read in the pass in which the
// limit passes does not save the block.
bool CollectBlock(const ReceiverCalls &calls, HANDLE port, unsigned char *block, int &received)
{
    received = 1;
    std::time_t start = calls.Time();
    for (;;) {
        unsigned char byte;
        if (ReadOneByte(calls, port, &byte)) block[received++] = byte;
        if (TimeLimitPassed(start, calls.Time())) return false;
        if (received == kBlockSize) return true;
    }
}

} // namespace

int ReceiveCycle(const ReceiverCalls &calls)
{
    Link link;
    if (OpenLink(calls, link) != kOpenOk) {
        CloseLink(calls, link);
        return kExitLinkFailed;
    }
    LetReadsWaitForAByte(calls, link.port);

    ExchangeFiles files;
    std::memset(&files, 0, sizeof files);
    if (GetWorkFolder(calls, files.folder, link.osFamily) > 0) return kExitNoWorkFolder;
    BuildExchangePaths(files);
    RemoveStaleFiles(calls, files);
    StartStatus(calls, files);
    AppendStepLine(calls, files, 2);
    AppendStepLine(calls, files, 4);
    calls.PurgeComm(link.port, kPurgeBoth);
    AppendStepLine(calls, files, 5);

    unsigned char block[kBlockSize];
    if (!WaitForFirstByte(calls, link.port, files, &block[0])) return kExitStopped;
    AppendStepLine(calls, files, 6);
    int received = 0;
    if (!CollectBlock(calls, link.port, block, received)) {
        AppendTimeOutLines(calls, files, received);
        CloseLink(calls, link);
        return kExitTimedOut;
    }
    CloseLink(calls, link);

    if (!PublishBlock(calls, files, block, kBlockSize)) {
        AppendFileFailureLine(calls, files);
        CreateDataReady(calls, files);
        return kExitFileFailed;
    }
    WriteSuccessMark(calls, files);
    CreateDataReady(calls, files);

    // The host's acknowledgement, looked for every kLookMs.
    while (FileExists(calls, files.stopCommand) != 0)
        calls.Sleep(kLookMs);
    RemoveExchangeFiles(calls, files);
    return kExitAcknowledged;
}

} // namespace ostrel

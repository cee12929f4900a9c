// One receive cycle: from start-up to the host's acknowledgement.
#include <cstring>

#include "exchange_files.h"

namespace ostrel
{
namespace
{

constexpr DWORD kPurgeBoth = PURGE_TXCLEAR | PURGE_RXCLEAR;

// The port's read time-outs make ReadFile return at once with what is there.
bool ReadOneByte(const ReceiverCalls &calls, HANDLE port, unsigned char *byte)
{
    DWORD transferred = 0;
    return calls.ReadFile(port, byte, 1, &transferred) && transferred == 1;
}

// Polls for the first byte; true when it came, false when the host's stop
// marker ended the wait.
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
        // The difference as std::difftime gives it; in 64-bit builds that
        // would import _difftime64, which msvcrt.dll exports only from Vista on.
        if (static_cast<double>(calls.Time() - start) > kTimeLimitSeconds) return false;
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

    while (FileExists(calls, files.stopCommand) != 0) {
    }
    RemoveExchangeFiles(calls, files);
    return kExitAcknowledged;
}

} // namespace ostrel

// The work folder's files as the receive cycle uses them: paths, status
// lines and the publication of the data block.
#ifndef OSTREL_EXCHANGE_FILES_H
#define OSTREL_EXCHANGE_FILES_H

#include "receiver.h"

namespace ostrel
{

struct ExchangeFiles {
    char folder[kPathSize];
    char receiveData[kPathSize];
    char dataReady[kPathSize];
    char errorMessage[kPathSize];
    char stopCommand[kPathSize];
    char scratch[kPathSize];
};

// Fills the four exchange files' paths from the folder (the scratch file's
// path is made only when a block is complete).
void BuildExchangePaths(ExchangeFiles &files);
void BuildScratchPath(ExchangeFiles &files);

// Deletes each exchange file that exists; what cannot be deleted stays.
void RemoveStaleFiles(const ReceiverCalls &calls, const ExchangeFiles &files);
void RemoveExchangeFiles(const ReceiverCalls &calls, const ExchangeFiles &files);

// Status lines; a status file that cannot be opened loses the line.
void StartStatus(const ReceiverCalls &calls, const ExchangeFiles &files);
void AppendStepLine(const ReceiverCalls &calls, const ExchangeFiles &files, int step);
void AppendStopLine(const ReceiverCalls &calls, const ExchangeFiles &files);
void AppendTimeOutLines(const ReceiverCalls &calls, const ExchangeFiles &files, int received);
void AppendFileFailureLine(const ReceiverCalls &calls, const ExchangeFiles &files);
void WriteSuccessMark(const ReceiverCalls &calls, const ExchangeFiles &files);

// Creates the empty DataReady.csv.
void CreateDataReady(const ReceiverCalls &calls, const ExchangeFiles &files);

// Writes the block to the scratch file and renames it to ReceiveData.csv.
// True only when this run wrote the whole file and the rename succeeded: an
// incomplete scratch file, or one left by an earlier run, is never renamed.
bool PublishBlock(const ReceiverCalls &calls, ExchangeFiles &files, const unsigned char *block,
                  int size);

} // namespace ostrel

#endif

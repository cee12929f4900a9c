// The work folder and its exchange files.
#include "exchange_files.h"

#include <cstring>

#include "format_text.h"

namespace ostrel
{
namespace
{

// The texts are code page 932, byte for byte.
// "%d：データの書き込みは失敗した。V19"
#define OSTREL_STEP_WORDS                                                                          \
    "\x81"                                                                                         \
    "F\x83"                                                                                        \
    "f\x81[\x83^\x82\xcc\x8f\x91\x82\xab\x8d\x9e\x82\xdd\x82\xcd\x8e\xb8\x94s\x82\xb5\x82\xbd\x81" \
    "BV19"
constexpr char kFirstStepLine[] = "%d" OSTREL_STEP_WORDS;
constexpr char kStepLine[] = "\n%d" OSTREL_STEP_WORDS;
// "\n%d：外部制御で停止しました。"
constexpr char kStopLine[] = "\n%d\x81"
                             "F\x8aO\x95\x94\x90\xa7\x8c\xe4\x82\xc5\x92\xe2\x8e~\x82\xb5\x82\xdc"
                             "\x82\xb5\x82\xbd\x81"
                             "B";
// "\n9：時間制御で、受信停止する。"
constexpr char kTimeOutLine[] = "\n9\x81"
                                "F\x8e\x9e\x8a\xd4\x90\xa7\x8c\xe4\x82\xc5\x81"
                                "A\x8e\xf3\x90M\x92\xe2\x8e~\x82\xb7\x82\xe9\x81"
                                "B";
// "\n%d：時間制御で、停止時の受信数。"
constexpr char kCountLine[] = "\n%d\x81"
                              "F\x8e\x9e\x8a\xd4\x90\xa7\x8c\xe4\x82\xc5\x81"
                              "A\x92\xe2\x8e~\x8e\x9e\x82\xcc\x8e\xf3\x90M\x90\x94\x81"
                              "B";
// "\n1：ファイルへの書き込み失敗。"
constexpr char kFileFailureLine[] = "\n1\x81"
                                    "F\x83t\x83@\x83"
                                    "C\x83\x8b\x82\xd6\x82\xcc\x8f\x91\x82\xab\x8d\x9e\x82\xdd"
                                    "\x8e\xb8\x94s\x81"
                                    "B";
constexpr char kSuccessMark[] = "0";
constexpr int kStopLineNumber = 1;

constexpr char kReceiveDataSuffix[] = "\\ReceiveData.csv";
constexpr char kDataReadySuffix[] = "\\DataReady.csv";
constexpr char kErrorMessageSuffix[] = "\\ErrorMessage.csv";
constexpr char kStopCommandSuffix[] = "\\StopCommand.csv";
constexpr char kScratchSuffix[] = "\\tempdata.csv";

// The work folder is at most kMaxWorkFolder characters long (GetWorkFolder
// sees to it), so every path fits; a longer one is cut, never overrun.
void BuildPath(char (&path)[kPathSize], const char *folder, const char *suffix)
{
    FormatText(path, kPathSize, "%s%s", folder, suffix);
}

bool WriteAll(const ReceiverCalls &calls, Stream *stream, const char *text)
{
    return calls.WriteText(stream, text, std::strlen(text));
}

void WriteStatus(const ReceiverCalls &calls, const ExchangeFiles &files, const char *mode,
                 const char *text)
{
    Stream *status = calls.OpenFile(files.errorMessage, mode);
    if (status == nullptr) return;
    WriteAll(calls, status, text);
    calls.CloseFile(status);
}

void RemoveExisting(const ReceiverCalls &calls, const char *path)
{
    if (FileExists(calls, path) == 0) RemoveFile(calls, path);
}

} // namespace

void BuildExchangePaths(ExchangeFiles &files)
{
    BuildPath(files.receiveData, files.folder, kReceiveDataSuffix);
    BuildPath(files.dataReady, files.folder, kDataReadySuffix);
    BuildPath(files.errorMessage, files.folder, kErrorMessageSuffix);
    BuildPath(files.stopCommand, files.folder, kStopCommandSuffix);
}

void BuildScratchPath(ExchangeFiles &files)
{
    BuildPath(files.scratch, files.folder, kScratchSuffix);
}

int FileExists(const ReceiverCalls &calls, const char *path)
{
    Stream *file = calls.OpenFile(path, "r");
    if (file == nullptr) return 2;
    calls.CloseFile(file);
    return 0;
}

int RemoveFile(const ReceiverCalls &calls, const char *path)
{
    return calls.DeleteFileA(path) ? 0 : 1;
}

void RemoveStaleFiles(const ReceiverCalls &calls, const ExchangeFiles &files)
{
    RemoveExisting(calls, files.receiveData);
    RemoveExisting(calls, files.dataReady);
    RemoveExisting(calls, files.errorMessage);
    RemoveExisting(calls, files.stopCommand);
}

void RemoveExchangeFiles(const ReceiverCalls &calls, const ExchangeFiles &files)
{
    RemoveFile(calls, files.receiveData);
    RemoveFile(calls, files.stopCommand);
    RemoveFile(calls, files.errorMessage);
    RemoveFile(calls, files.dataReady);
}

void StartStatus(const ReceiverCalls &calls, const ExchangeFiles &files)
{
    char line[64];
    FormatText(line, sizeof line, kFirstStepLine, 1);
    WriteStatus(calls, files, "w", line);
}

void AppendStepLine(const ReceiverCalls &calls, const ExchangeFiles &files, int step)
{
    char line[64];
    FormatText(line, sizeof line, kStepLine, step);
    WriteStatus(calls, files, "a", line);
}

void AppendStopLine(const ReceiverCalls &calls, const ExchangeFiles &files)
{
    char line[64];
    FormatText(line, sizeof line, kStopLine, kStopLineNumber);
    WriteStatus(calls, files, "a", line);
}

void AppendTimeOutLines(const ReceiverCalls &calls, const ExchangeFiles &files, int received)
{
    // Both lines in one opening of the file.
    char lines[128];
    constexpr size_t kTimeOutLength = sizeof kTimeOutLine - 1;
    std::memcpy(lines, kTimeOutLine, kTimeOutLength);
    FormatText(lines + kTimeOutLength, sizeof lines - kTimeOutLength, kCountLine, received);
    WriteStatus(calls, files, "a", lines);
}

void AppendFileFailureLine(const ReceiverCalls &calls, const ExchangeFiles &files)
{
    WriteStatus(calls, files, "a", kFileFailureLine);
}

void WriteSuccessMark(const ReceiverCalls &calls, const ExchangeFiles &files)
{
    WriteStatus(calls, files, "w", kSuccessMark);
}

void CreateDataReady(const ReceiverCalls &calls, const ExchangeFiles &files)
{
    Stream *marker = calls.OpenFile(files.dataReady, "w");
    if (marker != nullptr) calls.CloseFile(marker);
}

bool PublishBlock(const ReceiverCalls &calls, ExchangeFiles &files, const unsigned char *block,
                  int size)
{
    BuildScratchPath(files);
    Stream *scratch = calls.OpenFile(files.scratch, "w");
    if (scratch == nullptr) return false;
    bool complete = true;
    for (int i = 0; i < size && complete; ++i) {
        char line[8];
        FormatText(line, sizeof line, "%d\n", block[i]);
        complete = WriteAll(calls, scratch, line);
    }
    // A close that fails may have lost buffered lines.
    if (!calls.CloseFile(scratch)) complete = false;
    return complete && calls.MoveFileA(files.scratch, files.receiveData);
}

} // namespace ostrel

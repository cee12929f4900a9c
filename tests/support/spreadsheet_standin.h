// Starting programs with exact command lines, and the spreadsheet stand-in
// (tools/spreadsheet) for as long as a test needs it.
#ifndef VETROLINK_SPREADSHEET_STANDIN_H
#define VETROLINK_SPREADSHEET_STANDIN_H

#include "wine_support.h"

#include <string>
#include <vector>

namespace winetest
{

// This build's bin folder (VL_BIN_DIR) and the folder of the 64-bit test
// tools (VL_TOOLS_BIN_DIR), as Windows paths.
std::string BinDir();
std::string ToolsDir();

// A new empty folder under %TEMP%.
std::string TempFolder();

// Text in a code page as UTF-16.
std::wstring Widen(const std::string &text, UINT codePage);

struct Launched {
    DWORD exitCode = ~0u;
    std::string output; // standard output and error
};

// Starts `program` with exactly `commandLine`, bytes in this process's ANSI
// code page, and waits for it to end. Under Wine the program shares that
// code page: it comes from the Unix locale (LC_ALL), which is passed on.
Launched LaunchExact(const std::string &program, const std::string &commandLine);

// The spreadsheet stand-in, running with the given options (see
// tools/spreadsheet/spreadsheet.cpp) from the constructor, which waits until
// it is reachable, to Stop().
class SpreadsheetStandIn
{
public:
    explicit SpreadsheetStandIn(const std::vector<std::wstring> &options);
    ~SpreadsheetStandIn();
    SpreadsheetStandIn(const SpreadsheetStandIn &) = delete;
    SpreadsheetStandIn &operator=(const SpreadsheetStandIn &) = delete;

    // Waits up to `timeoutMs` for the stand-in to end by itself.
    bool WaitForEnd(DWORD timeoutMs);
    // Ends the stand-in (if it still runs) and returns the lines of its log.
    std::vector<std::string> Stop();

private:
    std::string LogPath() const { return folder_ + "\\calls.log"; }
    std::string ReadyPath() const { return folder_ + "\\ready"; }

    std::string folder_;
    PROCESS_INFORMATION process_{};
};

} // namespace winetest

#endif

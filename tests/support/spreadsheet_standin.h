// Starting programs with exact command lines, and the spreadsheet stand-in
// (tools/spreadsheet) for as long as a test needs it.
#ifndef VETROLINK_SPREADSHEET_STANDIN_H
#define VETROLINK_SPREADSHEET_STANDIN_H

#include "wine_support.h"

#include <string>
#include <vector>

namespace winetest
{

// Starts `program` with exactly `commandLine`, bytes in this process's ANSI
// code page, waits for it to end and returns its exit code. Under Wine the
// program shares that code page: it comes from the Unix locale (LC_ALL),
// which is passed on.
DWORD LaunchExact(const std::string &program, const std::string &commandLine);

// The 64-bit spreadsheet stand-in from VL_TOOLS_BIN_DIR, running with the
// given options (see tools/spreadsheet/spreadsheet.cpp) from the
// constructor, which waits until it is reachable, to Stop().
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

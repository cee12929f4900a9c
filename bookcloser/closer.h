// Wendra.exe: closes one named workbook in the running spreadsheet
// application, with its alerts switched off around the close.
#ifndef WENDRA_CLOSER_H
#define WENDRA_CLOSER_H

#include "closer_calls.h"

#include <string>

namespace wendra
{

// The workbook name from the command line, in the ANSI code page. Set once
// before the window exists; the window procedure reads it.
extern std::string g_bookName;

// An argument that is not supplied: VT_ERROR holding DISP_E_PARAMNOTFOUND.
extern VARIANT g_missingArg;

// The program: takes the argument from the whole command line, creates the
// hidden window (whose creation runs the close) and runs the message loop.
// Returns the exit code, 0 in every case.
int StartCloser(const CloserCalls &calls, HINSTANCE instance, const char *commandLine);

// Runs the close while the window is being created (WM_CREATE), then asks
// the message loop to end; uninitialises COM on WM_DESTROY.
LRESULT CALLBACK CloserWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Closes the first open workbook whose name equals `name` (letters A to Z
// compared without regard to case). True when the walk ran to its end
// (closed, or no workbook matched); false when the application could not be
// reached or a call failed.
bool CloseWorkbookByName(const CloserCalls &calls, const char *name);

} // namespace wendra

#endif

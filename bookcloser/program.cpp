// The program's start, its hidden window and its message loop.
#include "closer.h"
#include "text_rules.h"

#include <new>

namespace wendra
{

std::string g_bookName;

namespace
{

const char kClassName[] = "tervon file close";
const char kTitle[] = "close file";
// WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, never WS_VISIBLE.
const DWORD kWindowStyle = 0x80CA0000;

const CloserCalls *g_calls = &RealCloserCalls();

bool IsLeadByte(unsigned char byte) { return g_calls->IsDBCSLeadByte(byte) != FALSE; }

} // namespace

int StartCloser(const CloserCalls &calls, HINSTANCE instance, const char *commandLine)
{
    g_calls = &calls;
    const char *argument = ArgumentOf(commandLine != nullptr ? commandLine : "", IsLeadByte);
    if (*argument == '\0') return 0;
    try {
        g_bookName = argument;
    } catch (const std::bad_alloc &) {
        return 0;
    }

    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = CloserWndProc;
    windowClass.hInstance = instance;
    // The program carries no resources, so this finds no icon.
    windowClass.hIcon = calls.LoadIconA(instance, MAKEINTRESOURCEA(32512));
    windowClass.hIconSm = calls.LoadIconA(instance, MAKEINTRESOURCEA(32512));
    windowClass.hCursor = calls.LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.hbrBackground = calls.GetSysColorBrush(COLOR_MENU);
    windowClass.lpszClassName = kClassName;
    if (calls.RegisterClassExA(&windowClass) == 0) return 0;

    HWND window =
        calls.CreateWindowExA(WS_EX_ACCEPTFILES, kClassName, kTitle, kWindowStyle, CW_USEDEFAULT,
                              CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, nullptr);
    // Without a window no close ran and no quit message will ever come.
    if (window == nullptr) return 0;
    calls.ShowWindow(window, SW_HIDE);
    calls.UpdateWindow(window);

    MSG message;
    while (calls.GetMessageA(&message, nullptr, 0, 0) > 0) {
        calls.TranslateMessage(&message);
        calls.DispatchMessageA(&message);
    }
    return 0;
}

LRESULT CALLBACK CloserWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const CloserCalls &calls = *g_calls;
    switch (message) {
    case WM_CREATE:
        calls.CoInitialize(nullptr);
        try {
            CloseWorkbookByName(calls, g_bookName.c_str());
        } catch (...) {
            // Nothing may unwind through the system's window code; running
            // out of memory ends the close like a failed call.
        }
        calls.PostQuitMessage(0);
        return 0;
    case WM_DESTROY:
        calls.CoUninitialize();
        return 0;
    default:
        return calls.DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace wendra

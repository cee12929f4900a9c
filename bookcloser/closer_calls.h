// The closer's one seam to Windows: the calls that tests must control. The
// program passes the real calls (closer_calls.cpp); the in-process tests pass
// a fake with an object model of their own and fault injection. Calls on the
// automation objects themselves (QueryInterface, Invoke, Release) go to the
// objects, which the fake supplies.
#ifndef WENDRA_CLOSER_CALLS_H
#define WENDRA_CLOSER_CALLS_H

#ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#endif
#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

namespace wendra
{

class CloserCalls
{
public:
    // COM and OLE Automation
    virtual HRESULT CoInitialize(LPVOID reserved) const = 0;
    virtual void CoUninitialize() const = 0;
    virtual HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID *clsid) const = 0;
    virtual HRESULT GetActiveObject(REFCLSID clsid, void *reserved, IUnknown **unknown) const = 0;
    virtual HRESULT VariantClear(VARIANTARG *value) const = 0;
    virtual void SysFreeString(BSTR text) const = 0;
    virtual int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength,
                                    LPSTR bytes, int byteSize, LPCCH defaultChar,
                                    LPBOOL usedDefault) const = 0;

    // The hidden window and its message loop
    virtual ATOM RegisterClassExA(const WNDCLASSEXA *windowClass) const = 0;
    virtual HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x,
                                 int y, int width, int height, HWND parent, HMENU menu,
                                 HINSTANCE instance, LPVOID param) const = 0;
    virtual BOOL ShowWindow(HWND window, int how) const = 0;
    virtual BOOL UpdateWindow(HWND window) const = 0;
    virtual BOOL GetMessageA(MSG *message, HWND window, UINT first, UINT last) const = 0;
    virtual BOOL TranslateMessage(const MSG *message) const = 0;
    virtual LRESULT DispatchMessageA(const MSG *message) const = 0;
    virtual LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam,
                                   LPARAM lParam) const = 0;
    virtual void PostQuitMessage(int exitCode) const = 0;
    virtual HICON LoadIconA(HINSTANCE instance, LPCSTR name) const = 0;
    virtual HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) const = 0;
    virtual HBRUSH GetSysColorBrush(int index) const = 0;

    // The ANSI code page's double-byte characters
    virtual BOOL IsDBCSLeadByte(BYTE byte) const = 0;

protected:
    // Never deleted through the seam: the real calls are one constant object.
    ~CloserCalls() = default;
};

// The calls as Windows makes them.
const CloserCalls &RealCloserCalls();

} // namespace wendra

#endif

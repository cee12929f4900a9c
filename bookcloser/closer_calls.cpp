#include "closer_calls.h"

namespace wendra
{
namespace
{

class RealCalls final : public CloserCalls
{
public:
    HRESULT CoInitialize(LPVOID reserved) const override { return ::CoInitialize(reserved); }
    void CoUninitialize() const override { ::CoUninitialize(); }
    HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID *clsid) const override
    {
        return ::CLSIDFromProgID(progId, clsid);
    }
    HRESULT GetActiveObject(REFCLSID clsid, void *reserved, IUnknown **unknown) const override
    {
        return ::GetActiveObject(clsid, reserved, unknown);
    }
    HRESULT VariantClear(VARIANTARG *value) const override { return ::VariantClear(value); }
    void SysFreeString(BSTR text) const override { ::SysFreeString(text); }
    int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR bytes,
                            int byteSize, LPCCH defaultChar, LPBOOL usedDefault) const override
    {
        return ::WideCharToMultiByte(codePage, flags, wide, wideLength, bytes, byteSize,
                                     defaultChar, usedDefault);
    }

    ATOM RegisterClassExA(const WNDCLASSEXA *windowClass) const override
    {
        return ::RegisterClassExA(windowClass);
    }
    HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                         int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                         LPVOID param) const override
    {
        return ::CreateWindowExA(exStyle, className, title, style, x, y, width, height, parent,
                                 menu, instance, param);
    }
    BOOL ShowWindow(HWND window, int how) const override { return ::ShowWindow(window, how); }
    BOOL UpdateWindow(HWND window) const override { return ::UpdateWindow(window); }
    BOOL GetMessageA(MSG *message, HWND window, UINT first, UINT last) const override
    {
        return ::GetMessageA(message, window, first, last);
    }
    BOOL TranslateMessage(const MSG *message) const override { return ::TranslateMessage(message); }
    LRESULT DispatchMessageA(const MSG *message) const override
    {
        return ::DispatchMessageA(message);
    }
    LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const override
    {
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
    void PostQuitMessage(int exitCode) const override { ::PostQuitMessage(exitCode); }
    HICON LoadIconA(HINSTANCE instance, LPCSTR name) const override
    {
        return ::LoadIconA(instance, name);
    }
    HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) const override
    {
        return ::LoadCursorA(instance, name);
    }
    HBRUSH GetSysColorBrush(int index) const override { return ::GetSysColorBrush(index); }

    BOOL IsDBCSLeadByte(BYTE byte) const override { return ::IsDBCSLeadByte(byte); }
};

} // namespace

const CloserCalls &RealCloserCalls()
{
    static const RealCalls calls;
    return calls;
}

} // namespace wendra

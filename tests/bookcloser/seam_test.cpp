// In process, what the stand-in cannot see: the closer's own references and names given back on
// every path; the window's style; InvokeDispatch with a mixed list, which the closer never sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "automation.h"
#include "closer.h"

namespace
{

using Events = std::vector<std::string>;
Events g_events;                                 // references released and names freed
int g_namesGiven = 0, g_calls = 0, g_failAt = 0; // the g_failAt-th call that can fail does

bool Fails() { return ++g_calls == g_failAt; }

// An object of the application's model, which keeps one reference of its own.
struct Fake final : IDispatch {
    Fake(const char *name, std::vector<Fake *> items = {}) : name(name), items(items) {}
    std::string name;
    std::vector<Fake *> items; // what Workbooks (the first) or Item (1-based) gives
    LONG refs = 1;
    std::vector<VARTYPE> sent; // the types of the last call's arguments

    STDMETHODIMP QueryInterface(REFIID, void **object) override
    {
        *object = Fails() ? nullptr : (AddRef(), this);
        return *object != nullptr ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        g_events.push_back("release " + name);
        return --refs;
    }
    STDMETHODIMP GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_FAIL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *, UINT *) override
    {
        sent.clear();
        for (UINT i = 0; i < params->cArgs; ++i)
            sent.push_back(params->rgvarg[i].vt);
        if (Fails()) return E_FAIL;
        if (id == 572 || id == 170) { // Workbooks, Item
            result->vt = VT_DISPATCH;
            result->pdispVal = items[id == 572 ? 0 : params->rgvarg[0].lVal - 1];
            result->pdispVal->AddRef();
        } else if (id == 118) { // Count
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(items.size());
        } else if (id == 110) { // Name
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocString(std::wstring(name.begin(), name.end()).c_str());
            ++g_namesGiven;
        }
        return S_OK;
    }
};

Fake g_book1("Book1"), g_book2("Book2"), g_workbooks("Workbooks", {&g_book1, &g_book2}),
    g_application("Application", {&g_workbooks});

struct FakeCalls final : wendra::CloserCalls {
    HWND window = nullptr;        // what CreateWindowExA gives
    mutable DWORD style = 0;      // of the window created
    mutable int showCommand = -1; // ShowWindow's

    HRESULT CoInitialize(LPVOID) const override { return S_OK; }
    void CoUninitialize() const override {}
    HRESULT CLSIDFromProgID(LPCOLESTR, CLSID *) const override { return S_OK; }
    HRESULT GetActiveObject(REFCLSID, void *, IUnknown **unknown) const override
    {
        return g_application.QueryInterface(IID_IUnknown, reinterpret_cast<void **>(unknown));
    }
    HRESULT VariantClear(VARIANTARG *value) const override { return ::VariantClear(value); }
    void SysFreeString(BSTR text) const override
    {
        g_events.push_back("free name");
        ::SysFreeString(text);
    }
    int WideCharToMultiByte(UINT page, DWORD flags, LPCWCH wide, int length, LPSTR bytes, int size,
                            LPCCH defaultChar, LPBOOL used) const override
    {
        return ::WideCharToMultiByte(page, flags, wide, length, bytes, size, defaultChar, used);
    }
    ATOM RegisterClassExA(const WNDCLASSEXA *) const override { return 1; }
    // Without a window no close ran, so no quit message will come.
    HWND CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD windowStyle, int, int, int, int, HWND, HMENU,
                         HINSTANCE, LPVOID) const override
    {
        style = windowStyle;
        return window;
    }
    BOOL ShowWindow(HWND, int command) const override { return showCommand = command, FALSE; }
    BOOL UpdateWindow(HWND) const override { return FALSE; }
    BOOL GetMessageA(MSG *, HWND, UINT, UINT) const override // the quit message comes at once
    {
        if (window == nullptr) ADD_FAILURE() << "waits for a quit message that nobody posts";
        return FALSE;
    }
    BOOL TranslateMessage(const MSG *) const override { return FALSE; }
    LRESULT DispatchMessageA(const MSG *) const override { return 0; }
    LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) const override { return 0; }
    void PostQuitMessage(int) const override {}
    HICON LoadIconA(HINSTANCE, LPCSTR) const override { return nullptr; }
    HCURSOR LoadCursorA(HINSTANCE, LPCSTR) const override { return nullptr; }
    HBRUSH GetSysColorBrush(int) const override { return nullptr; }
    BOOL IsDBCSLeadByte(BYTE) const override { return FALSE; }
} g_seam;

// A clean close, then each call that can fail failing in turn: every reference and name goes
// back. In the clean close the running object's goes at once, Book1 and its name when Book2
// replaces them, and at the end the rest in reverse order of taking.
TEST(CloseSequence, GivesBackEveryReferenceAndName)
{
    for (int n = 0, clean = 0; n <= clean; ++n) {
        g_events.clear();
        g_calls = g_namesGiven = 0;
        g_failAt = n;
        EXPECT_EQ(n == 0, wendra::CloseWorkbookByName(g_seam, "BOOK2")) << n;
        for (const Fake *object : {&g_application, &g_workbooks, &g_book1, &g_book2})
            EXPECT_EQ(1, object->refs) << object->name << " kept, failing call " << n;
        EXPECT_EQ(g_namesGiven, std::count(g_events.begin(), g_events.end(), "free name")) << n;
        if (n > 0) continue;
        clean = g_calls;
        EXPECT_EQ((Events{"release Application", "release Book1", "free name", "free name",
                          "release Book2", "release Workbooks", "release Application"}),
                  g_events);
    }
}

TEST(Program, CreatesItsWindowHidden)
{
    for (HWND window : {reinterpret_cast<HWND>(1), HWND{}}) {
        g_seam.window = window;
        wendra::StartCloser(g_seam, GetModuleHandleA(nullptr), "Wendra.exe Book2");
        EXPECT_EQ(WS_POPUP, g_seam.style & (WS_POPUP | WS_VISIBLE));
        EXPECT_TRUE(window == nullptr || g_seam.showCommand == SW_HIDE) << g_seam.showCommand;
    }
}

TEST(InvokeDispatch, LeavesOutOnlyTheTrailingMissingArguments)
{
    VARIANT empty{};
    const VARTYPE optional = wendra::kOptionalArgument | VT_VARIANT;
    const VARTYPE descriptor[] = {optional, VT_VARIANT, optional, optional, 0};
    const wendra::DispatchArgument missing{0, nullptr, &wendra::g_missingArg},
        given{0, nullptr, &empty};
    const wendra::DispatchArgument args[] = {missing, given, missing, missing};
    g_failAt = 0;
    ASSERT_EQ(S_OK, wendra::InvokeDispatch(&g_book1, 1, DISPATCH_METHOD, VT_EMPTY, nullptr,
                                           descriptor, args, nullptr));
    EXPECT_EQ((std::vector<VARTYPE>{VT_EMPTY, VT_ERROR}), g_book1.sent); // in reverse call order
}

} // namespace

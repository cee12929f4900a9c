// An in-process stand-in for the spreadsheet application's object model and
// for the closer's seam: every call is recorded as one event, and any one of
// the calls that can fail can be made to fail.
#ifndef WENDRA_TESTS_FAKE_CLOSER_H
#define WENDRA_TESTS_FAKE_CLOSER_H

#include "closer_calls.h"

#include <string>
#include <vector>

namespace closertest
{

// How the chosen call fails.
enum class Fault {
    Hresult,   // returns E_FAIL
    Exception, // returns DISP_E_EXCEPTION with exception information
};

class FakeObject;

// What the application holds, and what happened to it.
struct ModelState {
    // Set up by the test
    std::vector<std::wstring> books;
    int failAt = 0; // the n-th call that can fail does (0: none)
    Fault fault = Fault::Hresult;
    bool nullWorkbooks = false;
    bool createFails = false;

    // Filled in by the run
    std::vector<std::string> events;
    int fallibleCalls = 0;
    int namesHandedOut = 0;
    int namesFreed = 0;
    bool alerts = true;
    std::vector<int> open; // 1-based places of the open books
    bool quitPosted = false;

    // Records an event of a call that can fail; true when it is to fail.
    bool Fails(const std::string &event);
};

// The seam, answering from a ModelState.
class FakeCloserCalls final : public wendra::CloserCalls
{
public:
    explicit FakeCloserCalls(ModelState &state);
    ~FakeCloserCalls();
    FakeCloserCalls(const FakeCloserCalls &) = delete;
    FakeCloserCalls &operator=(const FakeCloserCalls &) = delete;

    // References that the closer still holds, over all objects.
    long OutstandingReferences() const;

    HRESULT CoInitialize(LPVOID) const override;
    void CoUninitialize() const override {}
    HRESULT CLSIDFromProgID(LPCOLESTR, CLSID *clsid) const override;
    HRESULT GetActiveObject(REFCLSID, void *, IUnknown **unknown) const override;
    HRESULT VariantClear(VARIANTARG *value) const override;
    void SysFreeString(BSTR text) const override;
    int WideCharToMultiByte(UINT, DWORD, LPCWCH wide, int, LPSTR bytes, int byteSize, LPCCH,
                            LPBOOL) const override;
    ATOM RegisterClassExA(const WNDCLASSEXA *windowClass) const override;
    HWND CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD style, int, int, int, int, HWND, HMENU,
                         HINSTANCE, LPVOID) const override;
    BOOL ShowWindow(HWND, int how) const override;
    BOOL UpdateWindow(HWND) const override { return TRUE; }
    BOOL GetMessageA(MSG *message, HWND, UINT, UINT) const override;
    BOOL TranslateMessage(const MSG *) const override { return FALSE; }
    LRESULT DispatchMessageA(const MSG *) const override { return 0; }
    LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) const override { return 0; }
    void PostQuitMessage(int exitCode) const override;
    HICON LoadIconA(HINSTANCE, LPCSTR) const override { return nullptr; }
    HCURSOR LoadCursorA(HINSTANCE, LPCSTR) const override { return nullptr; }
    HBRUSH GetSysColorBrush(int) const override { return nullptr; }
    BOOL IsDBCSLeadByte(BYTE) const override { return FALSE; }

private:
    ModelState &state_;
    FakeObject *application_;
    FakeObject *workbooks_;
    std::vector<FakeObject *> books_;
    mutable WNDPROC windowProcedure_ = nullptr;
};

} // namespace closertest

#endif

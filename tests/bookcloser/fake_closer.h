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

struct FakeBook {
    std::wstring name;
    bool nullName = false;
};

// What the application holds, and what happened to it.
struct ModelState {
    // Set up by the test
    std::vector<FakeBook> books;
    bool running = true; // GetActiveObject finds the application
    int failAt = 0;      // the n-th call that can fail does (0: none)
    Fault fault = Fault::Hresult;
    int shrinkAfterName = 0; // after the n-th Name, the collection keeps shrinkTo books
    size_t shrinkTo = 0;
    VARIANT countAnswer{}; // VT_EMPTY: Count answers VT_I4, else this value
    bool nullWorkbooks = false;
    bool registerFails = false;
    bool createFails = false;

    // Filled in by the run
    std::vector<std::string> events;
    int fallibleCalls = 0;
    int nameCalls = 0;
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
    void CoUninitialize() const override;
    HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID *clsid) const override;
    HRESULT GetActiveObject(REFCLSID clsid, void *reserved, IUnknown **unknown) const override;
    HRESULT VariantClear(VARIANTARG *value) const override;
    void SysFreeString(BSTR text) const override;
    int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR bytes,
                            int byteSize, LPCCH defaultChar, LPBOOL usedDefault) const override;
    ATOM RegisterClassExA(const WNDCLASSEXA *windowClass) const override;
    HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                         int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                         LPVOID param) const override;
    BOOL ShowWindow(HWND window, int how) const override;
    BOOL UpdateWindow(HWND window) const override;
    BOOL GetMessageA(MSG *message, HWND window, UINT first, UINT last) const override;
    BOOL TranslateMessage(const MSG *message) const override;
    LRESULT DispatchMessageA(const MSG *message) const override;
    LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const override;
    void PostQuitMessage(int exitCode) const override;
    HICON LoadIconA(HINSTANCE instance, LPCSTR name) const override;
    HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) const override;
    HBRUSH GetSysColorBrush(int index) const override;
    BOOL IsDBCSLeadByte(BYTE byte) const override;

private:
    ModelState &state_;
    FakeObject *application_;
    FakeObject *workbooks_;
    std::vector<FakeObject *> books_;
    mutable WNDPROC windowProcedure_ = nullptr;
};

} // namespace closertest

#endif

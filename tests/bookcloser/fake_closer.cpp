#include "fake_closer.h"

#include <gtest/gtest.h>

namespace closertest
{

const IID kApplicationIid = {0x000208D5, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
HWND const kFakeWindow = reinterpret_cast<HWND>(0x4711);

bool ModelState::Fails(const std::string &event)
{
    events.push_back(event);
    return ++fallibleCalls == failAt;
}

enum class Kind { Application, Workbooks, Workbook };

// One object of the model. The model holds one reference of its own.
class FakeObject final : public IDispatch
{
public:
    FakeObject(ModelState &state, Kind kind, std::string name, int place = 0)
        : state_(state), kind_(kind), name_(std::move(name)), place_(place)
    {
    }

    FakeObject *workbooks = nullptr;            // the application's collection
    std::vector<FakeObject *> *books = nullptr; // the collection's books
    LONG refs = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        *object = nullptr;
        if (kind_ != Kind::Application || !IsEqualIID(iid, kApplicationIid) ||
            state_.Fails("QueryInterface Application"))
            return E_NOINTERFACE;
        *object = static_cast<IDispatch *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        state_.events.push_back("release " + name_);
        EXPECT_GT(refs, 1) << name_ << " released more often than referenced";
        return --refs;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return E_NOTIMPL;
    }

    // Events read "Invoke Book2.Close"; switching the alerts adds " on" or " off".
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params,
                                     VARIANT *result, EXCEPINFO *exception, UINT *) override
    {
        std::string event = "Invoke " + name_ + "." + MemberName(id);
        if (id == 343) event += params->rgvarg[0].boolVal ? " on" : " off";
        if (state_.Fails(event)) {
            if (state_.fault == Fault::Hresult) return E_FAIL;
            exception->scode = E_FAIL;
            exception->bstrDescription = SysAllocString(L"injected");
            return DISP_E_EXCEPTION;
        }
        if (result != nullptr) VariantInit(result);
        return Answer(id, params, result);
    }

private:
    static const char *MemberName(DISPID id)
    {
        switch (id) {
        case 572:
            return "Workbooks";
        case 118:
            return "Count";
        case 170:
            return "Item";
        case 110:
            return "Name";
        case 343:
            return "DisplayAlerts";
        case 277:
            return "Close";
        default:
            return "unknown";
        }
    }

    HRESULT Answer(DISPID id, DISPPARAMS *params, VARIANT *result)
    {
        if (kind_ == Kind::Application && id == 572) {
            result->vt = VT_DISPATCH;
            result->pdispVal = state_.nullWorkbooks ? nullptr : workbooks;
            if (result->pdispVal != nullptr) workbooks->AddRef();
            return S_OK;
        }
        if (kind_ == Kind::Application && id == 343) {
            state_.alerts = params->rgvarg[0].boolVal != VARIANT_FALSE;
            return S_OK;
        }
        if (kind_ == Kind::Workbooks && id == 118) {
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(state_.open.size());
            return S_OK;
        }
        if (kind_ == Kind::Workbooks && id == 170) {
            LONG index = params->rgvarg[0].lVal;
            if (index < 1 || static_cast<size_t>(index) > state_.open.size())
                return DISP_E_BADINDEX;
            result->vt = VT_DISPATCH;
            result->pdispVal = (*books)[state_.open[index - 1] - 1];
            result->pdispVal->AddRef();
            return S_OK;
        }
        if (kind_ == Kind::Workbook && id == 110) {
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocString(state_.books[place_ - 1].c_str());
            ++state_.namesHandedOut;
            return S_OK;
        }
        if (kind_ == Kind::Workbook && id == 277) {
            for (auto it = state_.open.begin(); it != state_.open.end(); ++it)
                if (*it == place_) {
                    state_.open.erase(it);
                    return S_OK;
                }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    ModelState &state_;
    Kind kind_;
    std::string name_;
    int place_;
};

FakeCloserCalls::FakeCloserCalls(ModelState &state)
    : state_(state), application_(new FakeObject(state, Kind::Application, "Application")),
      workbooks_(new FakeObject(state, Kind::Workbooks, "Workbooks"))
{
    state.open.clear(); // every run starts with all books open
    for (size_t i = 0; i < state.books.size(); ++i) {
        books_.push_back(new FakeObject(state, Kind::Workbook, "Book" + std::to_string(i + 1),
                                        static_cast<int>(i + 1)));
        state.open.push_back(static_cast<int>(i + 1));
    }
    application_->workbooks = workbooks_;
    workbooks_->books = &books_;
}

FakeCloserCalls::~FakeCloserCalls()
{
    delete application_;
    delete workbooks_;
    for (FakeObject *book : books_)
        delete book;
}

long FakeCloserCalls::OutstandingReferences() const
{
    long refs = application_->refs - 1 + workbooks_->refs - 1;
    for (FakeObject *book : books_)
        refs += book->refs - 1;
    return refs;
}

HRESULT FakeCloserCalls::CoInitialize(LPVOID) const
{
    state_.events.push_back("CoInitialize");
    return S_OK;
}

HRESULT FakeCloserCalls::CLSIDFromProgID(LPCOLESTR, CLSID *clsid) const
{
    if (state_.Fails("CLSIDFromProgID")) return CO_E_CLASSSTRING;
    *clsid = GUID_NULL;
    return S_OK;
}

HRESULT FakeCloserCalls::GetActiveObject(REFCLSID, void *, IUnknown **unknown) const
{
    *unknown = nullptr;
    if (state_.Fails("GetActiveObject")) return MK_E_UNAVAILABLE;
    *unknown = application_;
    application_->AddRef();
    return S_OK;
}

HRESULT FakeCloserCalls::VariantClear(VARIANTARG *value) const
{
    if (state_.Fails("VariantClear")) return DISP_E_BADVARTYPE;
    return ::VariantClear(value);
}

void FakeCloserCalls::SysFreeString(BSTR text) const
{
    state_.events.push_back("free name");
    ++state_.namesFreed;
    ::SysFreeString(text);
}

// Code page 1252 whatever the test machine's ANSI code page is.
int FakeCloserCalls::WideCharToMultiByte(UINT, DWORD, LPCWCH wide, int, LPSTR bytes, int byteSize,
                                         LPCCH, LPBOOL) const
{
    if (state_.Fails(bytes == nullptr ? "WideCharToMultiByte size" : "WideCharToMultiByte"))
        return 0;
    return ::WideCharToMultiByte(1252, 0, wide, -1, bytes, byteSize, nullptr, nullptr);
}

ATOM FakeCloserCalls::RegisterClassExA(const WNDCLASSEXA *windowClass) const
{
    windowProcedure_ = windowClass->lpfnWndProc;
    return 0xC123;
}

// Windows sends WM_CREATE from within CreateWindowEx.
HWND FakeCloserCalls::CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD style, int, int, int, int, HWND,
                                      HMENU, HINSTANCE, LPVOID) const
{
    state_.events.push_back("CreateWindowExA");
    EXPECT_EQ(0u, style & WS_VISIBLE);
    if (state_.createFails) return nullptr;
    CREATESTRUCTA create{};
    if (windowProcedure_(kFakeWindow, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1)
        return nullptr;
    return kFakeWindow;
}

BOOL FakeCloserCalls::ShowWindow(HWND, int how) const
{
    state_.events.push_back(how == SW_HIDE ? "ShowWindow hide" : "ShowWindow");
    return FALSE;
}

BOOL FakeCloserCalls::GetMessageA(MSG *message, HWND, UINT, UINT) const
{
    state_.events.push_back("GetMessageA");
    *message = MSG{};
    EXPECT_TRUE(state_.quitPosted) << "the message loop would wait for ever";
    state_.quitPosted = false;
    message->message = WM_QUIT;
    return 0;
}

void FakeCloserCalls::PostQuitMessage(int exitCode) const
{
    state_.events.push_back("PostQuitMessage " + std::to_string(exitCode));
    state_.quitPosted = true;
}

} // namespace closertest

// The close sequence against the spreadsheet application's object model.
#include "automation.h"
#include "closer.h"
#include "text_rules.h"

#include <comdef.h>

#include <string>

namespace wendra
{
namespace
{

VARIANT MissingArgument()
{
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    return missing;
}

struct ClearedAtExit {
    ~ClearedAtExit() { VariantClear(&g_missingArg); }
} clearMissingArgAtExit;

// The spreadsheet application's interface and the members used, by DISPID.
const IID kApplicationIid = {0x000208D5, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const DISPID kWorkbooks = 572;
const DISPID kCount = 118;
const DISPID kItem = 170;
const DISPID kName = 110;
const DISPID kDisplayAlerts = 343;
const DISPID kClose = 277;

const VARTYPE kOneBool[] = {VT_BOOL, 0};
const VARTYPE kOneVariant[] = {VT_VARIANT, 0};
const VARTYPE kThreeOptionalVariants[] = {kOptionalArgument | VT_VARIANT,
                                          kOptionalArgument | VT_VARIANT,
                                          kOptionalArgument | VT_VARIANT, 0};

// One counted reference; taking a new one releases the one it replaces.
class Ref
{
public:
    Ref() = default;
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    ~Ref() { Replace(nullptr); }
    IDispatch *get() const { return object_; }
    void Replace(IDispatch *object)
    {
        IDispatch *old = object_;
        object_ = object;
        if (old != nullptr) old->Release();
    }

private:
    IDispatch *object_ = nullptr;
};

// The examined workbook's name and, once the comparison needs it, its ANSI
// form.
class BookName
{
public:
    explicit BookName(const CloserCalls &calls) : calls_(calls) {}
    BookName(const BookName &) = delete;
    BookName &operator=(const BookName &) = delete;
    ~BookName() { Replace(nullptr); }
    void Replace(BSTR text)
    {
        if (text_ != nullptr) calls_.SysFreeString(text_);
        text_ = text;
        ansi_.clear();
    }
    // A null name is the empty name, which no argument equals.
    bool Matches(const char *argument) { return text_ != nullptr && NamesEqual(argument, Ansi()); }

private:
    const char *Ansi()
    {
        int size = calls_.WideCharToMultiByte(CP_ACP, 0, text_, -1, nullptr, 0, nullptr, nullptr);
        if (size <= 0) throw _com_error(LastErrorResult());
        ansi_.assign(static_cast<size_t>(size), '\0');
        if (calls_.WideCharToMultiByte(CP_ACP, 0, text_, -1, &ansi_[0], size, nullptr, nullptr) <=
            0)
            throw _com_error(LastErrorResult());
        return ansi_.c_str();
    }

    static HRESULT LastErrorResult()
    {
        DWORD error = GetLastError();
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }

    const CloserCalls &calls_;
    BSTR text_ = nullptr;
    std::string ansi_;
};

// One late-bound call; a failure is raised.
void Call(IDispatch *object, DISPID member, WORD invokeKind, VARTYPE resultType, void *result,
          const VARTYPE *descriptor = nullptr, const DispatchArgument *args = nullptr)
{
    if (object == nullptr) throw _com_error(E_POINTER);
    IErrorInfo *info = nullptr;
    HRESULT hr =
        InvokeDispatch(object, member, invokeKind, resultType, result, descriptor, args, &info);
    if (FAILED(hr)) throw _com_error(hr, info); // takes over the reference to info
}

DispatchArgument Alerts(bool on)
{
    DispatchArgument value;
    value.number = on ? VARIANT_TRUE : VARIANT_FALSE;
    return value;
}

// The running application's interface; the result of the first failing call
// or of QueryInterface.
HRESULT Attach(const CloserCalls &calls, Ref &application)
{
    CLSID clsid;
    HRESULT hr = calls.CLSIDFromProgID(L"Excel.Application", &clsid);
    if (FAILED(hr)) return hr;
    IUnknown *running = nullptr;
    hr = calls.GetActiveObject(clsid, nullptr, &running);
    if (FAILED(hr)) return hr;
    if (running == nullptr) return E_POINTER;
    IDispatch *found = nullptr;
    hr = running->QueryInterface(kApplicationIid, reinterpret_cast<void **>(&found));
    application.Replace(found);
    running->Release();
    return hr;
}

} // namespace

VARIANT g_missingArg = MissingArgument();

bool CloseWorkbookByName(const CloserCalls &calls, const char *name)
{
    // Declared in the order taken: they are released in reverse.
    Ref application;
    Ref workbooks;
    Ref book;
    BookName bookName(calls);

    if (Attach(calls, application) != S_OK) return false;

    bool alertsOff = false;
    try {
        IDispatch *found = nullptr;
        Call(application.get(), kWorkbooks, DISPATCH_PROPERTYGET, VT_DISPATCH, &found);
        workbooks.Replace(found);
        for (LONG i = 0;;) {
            LONG count = 0; // read anew in every pass: the collection may change
            Call(workbooks.get(), kCount, DISPATCH_PROPERTYGET, VT_I4, &count);
            if (i >= count) return true;
            ++i;
            VARIANT index;
            VariantInit(&index);
            index.vt = VT_I4;
            index.lVal = i;
            DispatchArgument indexArg;
            indexArg.variant = &index;
            found = nullptr;
            Call(workbooks.get(), kItem, DISPATCH_PROPERTYGET, VT_DISPATCH, &found, kOneVariant,
                 &indexArg);
            book.Replace(found);
            HRESULT cleared = calls.VariantClear(&index);
            if (FAILED(cleared)) throw _com_error(cleared);
            BSTR text = nullptr;
            Call(book.get(), kName, DISPATCH_PROPERTYGET, VT_BSTR, &text);
            bookName.Replace(text);
            if (bookName.Matches(name)) break;
        }

        const DispatchArgument off = Alerts(false);
        Call(application.get(), kDisplayAlerts, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kOneBool,
             &off);
        alertsOff = true;
        DispatchArgument missing[3];
        for (DispatchArgument &arg : missing)
            arg.variant = &g_missingArg;
        Call(book.get(), kClose, DISPATCH_METHOD, VT_EMPTY, nullptr, kThreeOptionalVariants,
             missing);
        alertsOff = false; // this one attempt to switch them on is all there is
        const DispatchArgument on = Alerts(true);
        Call(application.get(), kDisplayAlerts, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kOneBool,
             &on);
        return true;
    } catch (const _com_error &) {
        // A failed Close must not leave the user's application without its
        // save prompts for the rest of its session.
        if (alertsOff) {
            const DispatchArgument on = Alerts(true);
            InvokeDispatch(application.get(), kDisplayAlerts, DISPATCH_PROPERTYPUT, VT_EMPTY,
                           nullptr, kOneBool, &on, nullptr);
        }
        return false;
    }
}

} // namespace wendra

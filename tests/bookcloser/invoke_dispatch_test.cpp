// The automation call layer: how arguments are laid out, which are left out,
// and what the caller gets back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation.h"

namespace
{

using wendra::DispatchArgument;
using wendra::InvokeDispatch;
using wendra::kOptionalArgument;

// Records one call as the callee sees it and answers with a set value.
class Recorder final : public IDispatch
{
public:
    // What the call brought: arguments in rgvarg order, as text.
    std::vector<std::string> args;
    std::vector<DISPID> named;
    bool resultWanted = false;
    int calls = 0;

    // The answer
    HRESULT answer = S_OK;
    VARIANT value{};
    bool fillException = false;
    bool deferException = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID iid, LCID locale, WORD, DISPPARAMS *params,
                                     VARIANT *result, EXCEPINFO *exception,
                                     UINT *argumentError) override
    {
        ++calls;
        EXPECT_TRUE(IsEqualIID(IID_NULL, iid));
        EXPECT_EQ(0u, locale);
        EXPECT_EQ(static_cast<UINT>(-1), *argumentError);
        EXPECT_EQ(nullptr, exception->bstrDescription);
        for (UINT i = 0; i < params->cArgs; ++i)
            args.push_back(Text(params->rgvarg[i]));
        named.assign(params->rgdispidNamedArgs, params->rgdispidNamedArgs + params->cNamedArgs);
        resultWanted = result != nullptr;
        if (result != nullptr) VariantCopy(result, &value);
        if (fillException) exception->bstrDescription = SysAllocString(L"it broke");
        if (deferException) exception->pfnDeferredFillIn = FillIn;
        return answer;
    }

private:
    static HRESULT STDMETHODCALLTYPE FillIn(EXCEPINFO *exception)
    {
        exception->bstrDescription = SysAllocString(L"filled in later");
        return S_OK;
    }
    static std::string Text(const VARIANTARG &arg)
    {
        switch (arg.vt) {
        case VT_I4:
            return "I4 " + std::to_string(arg.lVal);
        case VT_BOOL:
            return "BOOL " + std::to_string(arg.boolVal);
        case VT_ERROR:
            return arg.scode == DISP_E_PARAMNOTFOUND ? "missing" : "ERROR";
        case VT_BYREF | VT_VARIANT:
            return "ref " + Text(*arg.pvarVal);
        default:
            return "VT" + std::to_string(arg.vt);
        }
    }
};

VARIANT I4(LONG value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT Missing()
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

const VARTYPE kOptVariant = kOptionalArgument | VT_VARIANT;
const VARTYPE kOptVariantRef = kOptionalArgument | VT_VARIANT | VT_BYREF;

// Each row: a call in call order, and the rgvarg the callee must see
// (reverse call order, trailing missing optional arguments left out).
TEST(InvokeDispatch, LaysOutArgumentsInReverseAndDropsTrailingMissingOnes)
{
    VARIANT one = I4(1), two = I4(2), missing = Missing();
    DispatchArgument byValue1, byValue2, gone, goneRef, yes;
    byValue1.variant = &one;
    byValue2.variant = &two;
    gone.variant = &missing;
    goneRef.variantRef = &missing;
    yes.number = 7;
    const struct {
        const char *what;
        WORD kind;
        std::vector<VARTYPE> descriptor;
        std::vector<DispatchArgument> args;
        std::vector<std::string> sent;
        bool named;
    } cases[] = {
        {"two values",
         DISPATCH_METHOD,
         {VT_VARIANT, VT_VARIANT},
         {byValue1, byValue2},
         {"I4 2", "I4 1"},
         false},
        {"only trailing ones go",
         DISPATCH_METHOD,
         {kOptVariant, VT_VARIANT, kOptVariant},
         {gone, byValue2, gone},
         {"I4 2", "missing"},
         false},
        {"a missing value in a plain VARIANT stays",
         DISPATCH_METHOD,
         {VT_VARIANT},
         {gone},
         {"missing"},
         false},
        {"missing by reference goes",
         DISPATCH_METHOD,
         {VT_VARIANT, kOptVariantRef},
         {byValue1, goneRef},
         {"I4 1"},
         false},
        {"put value named, first; any non-zero number is true",
         DISPATCH_PROPERTYPUT,
         {VT_VARIANT, VT_BOOL},
         {byValue1, yes},
         {"BOOL -1", "I4 1"},
         true},
        {"a missing put value stays",
         DISPATCH_PROPERTYPUT,
         {kOptVariant, kOptVariant},
         {gone, gone},
         {"missing"},
         true},
    };
    for (const auto &c : cases) {
        Recorder callee;
        std::vector<VARTYPE> descriptor = c.descriptor;
        descriptor.push_back(0);
        EXPECT_EQ(S_OK, InvokeDispatch(&callee, 5, c.kind, VT_EMPTY, nullptr, descriptor.data(),
                                       c.args.data(), nullptr))
            << c.what;
        EXPECT_EQ(c.sent, callee.args) << c.what;
        EXPECT_EQ(c.named ? std::vector<DISPID>{DISPID_PROPERTYPUT} : std::vector<DISPID>{},
                  callee.named)
            << c.what;
        EXPECT_FALSE(callee.resultWanted) << c.what;
    }
}

TEST(InvokeDispatch, RefusesWhatCannotBeSent)
{
    Recorder callee;
    DispatchArgument arg;
    const VARTYPE date[] = {VT_DATE, 0};
    LONG number = 0;
    EXPECT_EQ(E_POINTER, InvokeDispatch(nullptr, 1, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr,
                                        nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, InvokeDispatch(&callee, 1, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr,
                                           nullptr, nullptr, nullptr));
    EXPECT_EQ(DISP_E_BADVARTYPE,
              InvokeDispatch(&callee, 1, DISPATCH_METHOD, VT_EMPTY, nullptr, date, &arg, nullptr));
    EXPECT_EQ(E_POINTER, InvokeDispatch(&callee, 1, DISPATCH_PROPERTYGET, VT_I4, nullptr, nullptr,
                                        nullptr, nullptr));
    EXPECT_EQ(DISP_E_BADVARTYPE, InvokeDispatch(&callee, 1, DISPATCH_PROPERTYGET, VT_DATE, &number,
                                                nullptr, nullptr, nullptr));
    EXPECT_EQ(0, callee.calls);
}

TEST(InvokeDispatch, ConvertsTheResultToTheAskedType)
{
    Recorder callee;
    callee.value.vt = VT_I2;
    callee.value.iVal = 42;
    LONG number = 0;
    EXPECT_EQ(S_OK, InvokeDispatch(&callee, 1, DISPATCH_PROPERTYGET, VT_I4, &number, nullptr,
                                   nullptr, nullptr));
    EXPECT_TRUE(callee.resultWanted);
    EXPECT_EQ(42, number);

    callee.value.vt = VT_BSTR;
    callee.value.bstrVal = SysAllocString(L"many");
    number = -5;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, InvokeDispatch(&callee, 1, DISPATCH_PROPERTYGET, VT_I4, &number,
                                                  nullptr, nullptr, nullptr));
    EXPECT_EQ(-5, number) << "nothing is stored on failure";
    VariantClear(&callee.value);
}

TEST(InvokeDispatch, FailureBringsErrorInformationOnlyFromAnException)
{
    const struct {
        HRESULT answer;
        bool fill, defer;
        const wchar_t *description; // nullptr: no error information
    } cases[] = {
        {E_FAIL, false, false, nullptr},
        {E_FAIL, true, false, nullptr}, // texts without DISP_E_EXCEPTION are only freed
        {DISP_E_EXCEPTION, true, false, L"it broke"},
        {DISP_E_EXCEPTION, false, true, L"filled in later"},
    };
    for (const auto &c : cases) {
        Recorder callee;
        callee.answer = c.answer;
        callee.fillException = c.fill;
        callee.deferException = c.defer;
        callee.value.vt = VT_I4;
        LONG number = -5;
        IErrorInfo *info = reinterpret_cast<IErrorInfo *>(1);
        EXPECT_EQ(c.answer, InvokeDispatch(&callee, 1, DISPATCH_PROPERTYGET, VT_I4, &number,
                                           nullptr, nullptr, &info));
        EXPECT_EQ(-5, number);
        if (c.description == nullptr) {
            EXPECT_EQ(nullptr, info);
            continue;
        }
        ASSERT_NE(nullptr, info);
        BSTR description = nullptr;
        info->GetDescription(&description);
        EXPECT_STREQ(c.description, description);
        SysFreeString(description);
        info->Release();
    }
}

} // namespace

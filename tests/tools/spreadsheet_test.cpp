// The spreadsheet stand-in as a client in another process sees it (from a
// 32-bit client too, in the win32 build).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "spreadsheet_standin.h"

#include <ole2.h>
#include <oleauto.h>

namespace
{

using winetest::SpreadsheetStandIn;
using Lines = std::vector<std::string>;

const IID kApplicationIid = {0x000208D5, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

VARIANT I4(LONG value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// A plain late-bound client of the running "Excel.Application".
class Client : public ::testing::Test
{
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override
    {
        if (application) application->Release();
        CoUninitialize();
    }

    void Attach()
    {
        CLSID clsid;
        ASSERT_EQ(S_OK, CLSIDFromProgID(L"Excel.Application", &clsid));
        IUnknown *running = nullptr;
        ASSERT_EQ(S_OK, GetActiveObject(clsid, nullptr, &running));
        ASSERT_EQ(S_OK, running->QueryInterface(kApplicationIid,
                                                reinterpret_cast<void **>(&application)));
        running->Release();
    }

    // One call; `args` in call order (a put value last).
    HRESULT Call(IDispatch *object, DISPID member, WORD kind, std::vector<VARIANT> args = {},
                 VARIANT *result = nullptr)
    {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                          static_cast<UINT>(reversed.size()), 0};
        if (kind == DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &put;
            params.cNamedArgs = 1;
        }
        exception = EXCEPINFO{};
        UINT argumentError = 0;
        return object->Invoke(member, IID_NULL, 0, kind, &params, result, &exception,
                              &argumentError);
    }

    IDispatch *application = nullptr;
    EXCEPINFO exception{};
};

TEST_F(Client, AnswersTheObjectModelAndLogsEveryCall)
{
    SpreadsheetStandIn standIn({L"--book", L"a.xlsx", L"--book", L"b.xlsx"});
    Attach();
    ASSERT_NE(nullptr, application);

    LPOLESTR name = const_cast<LPOLESTR>(L"Workbooks");
    DISPID id = 0;
    EXPECT_EQ(S_OK, application->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
    EXPECT_EQ(572, id);

    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(S_OK, Call(application, 572, DISPATCH_PROPERTYGET, {}, &result));
    ASSERT_EQ(VT_DISPATCH, result.vt);
    IDispatch *workbooks = result.pdispVal;
    EXPECT_EQ(S_OK, Call(workbooks, 118, DISPATCH_PROPERTYGET, {}, &result));
    EXPECT_EQ(VT_I4, result.vt);
    EXPECT_EQ(2, result.lVal);
    EXPECT_EQ(DISP_E_BADINDEX, Call(workbooks, 170, DISPATCH_PROPERTYGET, {I4(3)}, &result));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(workbooks, 999, DISPATCH_METHOD));
    EXPECT_EQ(S_OK, Call(application, 343, DISPATCH_PROPERTYPUT, {I4(0)}));
    workbooks->Release();

    EXPECT_EQ((Lines{"Application.Workbooks get args=() alerts=on",
                     "Workbooks.Count get args=() alerts=on",
                     "Workbooks.Item get args=(I4 3) alerts=on -> failed",
                     "Workbooks.unknown method args=() alerts=on -> failed",
                     "Application.DisplayAlerts put args=(I4 0) named=(-3) alerts=on",
                     "end alerts=off open=(1 2)"}),
              standIn.Stop());
}

TEST_F(Client, InjectedFaultCarriesExceptionInformation)
{
    SpreadsheetStandIn standIn({L"--book", L"a.xlsx", L"--fail", L"Application.Workbooks#2"});
    Attach();
    ASSERT_NE(nullptr, application);
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(S_OK, Call(application, 572, DISPATCH_PROPERTYGET, {}, &result));
    VariantClear(&result);
    EXPECT_EQ(DISP_E_EXCEPTION, Call(application, 572, DISPATCH_PROPERTYGET, {}, &result));
    EXPECT_STREQ(L"injected fault", exception.bstrDescription);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
}

TEST_F(Client, EndsAfterTheNamedCall)
{
    SpreadsheetStandIn standIn({L"--end-after", L"Application.DisplayAlerts#2"});
    Attach();
    ASSERT_NE(nullptr, application);
    VARIANT on;
    VariantInit(&on);
    on.vt = VT_BOOL;
    on.boolVal = VARIANT_TRUE;
    EXPECT_EQ(S_OK, Call(application, 343, DISPATCH_PROPERTYPUT, {on}));
    EXPECT_FALSE(standIn.WaitForEnd(200));
    EXPECT_EQ(S_OK, Call(application, 343, DISPATCH_PROPERTYPUT, {on}));
    EXPECT_TRUE(standIn.WaitForEnd(20000));
}

TEST(StandIn, EndsByItself)
{
    SpreadsheetStandIn standIn({L"--book", L"a.xlsx", L"--lifetime", L"1"});
    EXPECT_TRUE(standIn.WaitForEnd(20000));
    EXPECT_EQ(Lines{"end alerts=on open=(1)"}, standIn.Stop());
}

} // namespace

#include "automation.h"

#include <cstring>
#include <vector>

namespace wendra
{
namespace
{

bool IsPut(WORD invokeKind)
{
    return (invokeKind & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
}

bool IsResultTypeKnown(VARTYPE type)
{
    switch (type) {
    case VT_EMPTY:
    case VT_I4:
    case VT_BOOL:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_VARIANT:
        return true;
    default:
        return false;
    }
}

// A trailing optional argument whose value says "not supplied" is left out
// of the call, so that the callee applies its own default.
bool IsMissingOptional(VARTYPE code, const DispatchArgument &arg)
{
    if ((code & ~VT_BYREF) != (kOptionalArgument | VT_VARIANT)) return false;
    const VARIANT *value = (code & VT_BYREF) ? arg.variantRef : arg.variant;
    return value != nullptr && value->vt == VT_ERROR && value->scode == DISP_E_PARAMNOTFOUND;
}

HRESULT LayOut(VARTYPE code, const DispatchArgument &arg, VARIANTARG *out)
{
    switch (code & ~kOptionalArgument) {
    case VT_I4:
        out->vt = VT_I4;
        out->lVal = arg.number;
        return S_OK;
    case VT_BOOL:
        out->vt = VT_BOOL;
        out->boolVal = arg.number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    case VT_BSTR:
        out->vt = VT_BSTR;
        out->bstrVal = arg.text;
        return S_OK;
    case VT_VARIANT:
        if (arg.variant == nullptr) return E_INVALIDARG;
        std::memcpy(out, arg.variant, sizeof *out);
        return S_OK;
    case VT_VARIANT | VT_BYREF:
        if (arg.variantRef == nullptr) return E_INVALIDARG;
        out->vt = VT_VARIANT | VT_BYREF;
        out->pvarVal = arg.variantRef;
        return S_OK;
    default:
        return DISP_E_BADVARTYPE;
    }
}

void FreeExceptionTexts(EXCEPINFO &exception)
{
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    exception.bstrSource = exception.bstrDescription = exception.bstrHelpFile = nullptr;
}

// The callee's exception information as an error-information object, or
// nullptr when it supplied none.
IErrorInfo *ErrorInfoFrom(HRESULT failure, EXCEPINFO &exception)
{
    if (failure != DISP_E_EXCEPTION) return nullptr;
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    ICreateErrorInfo *builder = nullptr;
    if (FAILED(CreateErrorInfo(&builder))) return nullptr;
    builder->SetGUID(GUID_NULL);
    builder->SetSource(exception.bstrSource);
    builder->SetDescription(exception.bstrDescription);
    builder->SetHelpFile(exception.bstrHelpFile);
    builder->SetHelpContext(exception.dwHelpContext);
    IErrorInfo *info = nullptr;
    if (FAILED(builder->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info))))
        info = nullptr;
    builder->Release();
    return info;
}

// Hands the result over to the caller; `value` has the asked type already.
void Store(VARTYPE type, const VARIANT &value, void *result)
{
    switch (type) {
    case VT_I4:
        *static_cast<LONG *>(result) = value.lVal;
        break;
    case VT_BOOL:
        *static_cast<VARIANT_BOOL *>(result) = value.boolVal;
        break;
    case VT_BSTR:
        *static_cast<BSTR *>(result) = value.bstrVal;
        break;
    case VT_DISPATCH:
        *static_cast<IDispatch **>(result) = value.pdispVal;
        break;
    default: // VT_VARIANT
        std::memcpy(result, &value, sizeof value);
        break;
    }
}

} // namespace

HRESULT InvokeDispatch(IDispatch *object, DISPID member, WORD invokeKind, VARTYPE resultType,
                       void *result, const VARTYPE *descriptor, const DispatchArgument *args,
                       IErrorInfo **errorInfo)
{
    if (errorInfo != nullptr) *errorInfo = nullptr;
    if (object == nullptr) return E_POINTER;
    size_t count = 0;
    while (descriptor != nullptr && descriptor[count] != 0)
        ++count;
    const bool put = IsPut(invokeKind);
    if ((put && count == 0) || (count > 0 && args == nullptr)) return E_INVALIDARG;
    if (!IsResultTypeKnown(resultType)) return DISP_E_BADVARTYPE;
    if (resultType != VT_EMPTY && result == nullptr) return E_POINTER;

    // Reverse call order: the last argument (a put value) comes first.
    std::vector<VARIANTARG> list(count);
    for (size_t i = 0; i < count; ++i) {
        VariantInit(&list[count - 1 - i]);
        HRESULT laid = LayOut(descriptor[i], args[i], &list[count - 1 - i]);
        if (FAILED(laid)) return laid;
    }
    const size_t positional = put ? count - 1 : count;
    size_t dropped = 0;
    while (dropped < positional &&
           IsMissingOptional(descriptor[positional - 1 - dropped], args[positional - 1 - dropped]))
        ++dropped;
    const size_t firstPositional = put ? 1 : 0;
    list.erase(list.begin() + firstPositional, list.begin() + firstPositional + dropped);

    DISPID putName = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    params.cArgs = static_cast<UINT>(list.size());
    params.rgvarg = list.empty() ? nullptr : list.data();
    if (put) {
        params.cNamedArgs = 1;
        params.rgdispidNamedArgs = &putName;
    }
    VARIANT value;
    VariantInit(&value);
    EXCEPINFO exception{};
    UINT argumentError = static_cast<UINT>(-1);
    HRESULT hr =
        object->Invoke(member, IID_NULL, 0, invokeKind, &params,
                       resultType != VT_EMPTY ? &value : nullptr, &exception, &argumentError);
    if (FAILED(hr)) {
        VariantClear(&value);
        IErrorInfo *info = ErrorInfoFrom(hr, exception);
        FreeExceptionTexts(exception);
        if (errorInfo != nullptr)
            *errorInfo = info;
        else if (info != nullptr)
            info->Release();
        return hr;
    }
    FreeExceptionTexts(exception);
    if (resultType == VT_EMPTY) return hr;
    if (resultType != VT_VARIANT && value.vt != resultType) {
        HRESULT converted = VariantChangeType(&value, &value, 0, resultType);
        if (FAILED(converted)) {
            VariantClear(&value);
            return converted;
        }
    }
    Store(resultType, value, result);
    return hr;
}

} // namespace wendra

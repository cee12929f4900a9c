// Late-bound calls through IDispatch::Invoke.
#ifndef WENDRA_AUTOMATION_H
#define WENDRA_AUTOMATION_H

#include "closer_calls.h"

namespace wendra
{

// Marks an optional VARIANT argument in a parameter-type descriptor; it is not
// part of the type sent.
const VARTYPE kOptionalArgument = 0x0800;

// One argument value; the descriptor code for its position says which member
// is read.
struct DispatchArgument {
    LONG number = 0;                  // VT_I4, and VT_BOOL (any non-zero value is true)
    BSTR text = nullptr;              // VT_BSTR, not owned
    const VARIANT *variant = nullptr; // VT_VARIANT: sent as a bitwise copy
    VARIANT *variantRef = nullptr;    // VT_VARIANT | VT_BYREF
};

// Makes one late-bound call. `descriptor` is a zero-terminated list of
// variant-type codes, one per argument in call order (nullptr: no
// arguments), and `args` holds that many values. A result type of VT_EMPTY
// asks for no result; otherwise `result` points to a LONG (VT_I4),
// VARIANT_BOOL (VT_BOOL), BSTR (VT_BSTR), IDispatch* (VT_DISPATCH) or VARIANT
// (VT_VARIANT), and a string or object reference stored there belongs to the
// caller. On failure nothing is stored, and *errorInfo receives an
// error-information object when the callee supplied exception information
// (else nullptr); it belongs to the caller.
HRESULT InvokeDispatch(IDispatch *object, DISPID member, WORD invokeKind, VARTYPE resultType,
                       void *result, const VARTYPE *descriptor, const DispatchArgument *args,
                       IErrorInfo **errorInfo);

} // namespace wendra

#endif

#include <oleauto.h>

namespace {

// The types a VARIANT may hold by value.
bool IsValidType(VARTYPE type) {
  switch (type) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

}  // namespace

// VariantInit: an empty variant.
void STDAPICALLTYPE VariantInit(VARIANTARG* value) {
  value->vt = VT_EMPTY;
  value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
}

// VariantClear: frees the string or releases the interface the variant owns;
// it is then empty. A reference (VT_BYREF) owns nothing.
HRESULT STDAPICALLTYPE VariantClear(VARIANTARG* value) {
  if (value == nullptr) return E_INVALIDARG;
  const VARTYPE type = value->vt;
  if ((type & VT_BYREF) != 0) {
    if (!IsValidType(type & ~VT_BYREF) && (type & ~VT_BYREF) != VT_VARIANT) return DISP_E_BADVARTYPE;
  } else if (!IsValidType(type)) {
    return DISP_E_BADVARTYPE;  // arrays included: w32 makes no SAFEARRAY
  } else if (type == VT_BSTR) {
    SysFreeString(value->bstrVal);
  } else if ((type == VT_UNKNOWN || type == VT_DISPATCH) && value->punkVal != nullptr) {
    value->punkVal->Release();
  }
  value->vt = VT_EMPTY;
  return S_OK;
}

// VariantChangeType: a string to VT_BSTR, the only change the module asks for
// (of a property that may be null); source and destination may be one variant.
// Every other change is a type mismatch. On failure the destination is left as
// it was.
HRESULT STDAPICALLTYPE VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT, VARTYPE type) {
  if (destination == nullptr || source == nullptr) return E_INVALIDARG;
  if (!IsValidType(source->vt) && (source->vt & VT_BYREF) == 0) return DISP_E_BADVARTYPE;
  if (type != VT_BSTR || source->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
  BSTR converted = nullptr;
  if (source->bstrVal != nullptr) {
    converted = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
    if (converted == nullptr) return E_OUTOFMEMORY;
  }
  VariantClear(destination);
  destination->vt = VT_BSTR;
  destination->bstrVal = converted;
  return S_OK;
}

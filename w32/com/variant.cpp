#include <oleauto.h>

// VariantInit: an empty variant.
void STDAPICALLTYPE VariantInit(VARIANTARG* value) {
  value->vt = VT_EMPTY;
  value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
}

// VariantClear: frees the string the variant owns; it is then empty. Only the
// kinds WMI answers with (empty, null, string) are built here: any other kind
// is refused as a bad type.
HRESULT STDAPICALLTYPE VariantClear(VARIANTARG* value) {
  if (value == nullptr) return E_INVALIDARG;
  if (value->vt != VT_EMPTY && value->vt != VT_NULL && value->vt != VT_BSTR) return DISP_E_BADVARTYPE;
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  value->vt = VT_EMPTY;
  return S_OK;
}

// VariantChangeType: a string to VT_BSTR, the only change the module asks for
// (of a property that may be null); source and destination may be one variant.
// Every other change is a type mismatch. On failure the destination is left as
// it was.
HRESULT STDAPICALLTYPE VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT, VARTYPE type) {
  if (destination == nullptr || source == nullptr) return E_INVALIDARG;
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

#include <oleauto.h>

#include <string>

#include "support/text.h"

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

std::u16string Decimal(const std::string& digits) { return w32::ToUtf16(digits); }

// The text of a value for VT_BSTR; false when the type has no text here.
bool TextOf(const VARIANT& value, USHORT flags, std::u16string* text) {
  switch (value.vt) {
    case VT_EMPTY: text->clear(); return true;
    case VT_I1: *text = Decimal(std::to_string(value.cVal)); return true;
    case VT_I2: *text = Decimal(std::to_string(value.iVal)); return true;
    case VT_I4: *text = Decimal(std::to_string(value.lVal)); return true;
    case VT_INT: *text = Decimal(std::to_string(value.intVal)); return true;
    case VT_I8: *text = Decimal(std::to_string(value.llVal)); return true;
    case VT_UI1: *text = Decimal(std::to_string(value.bVal)); return true;
    case VT_UI2: *text = Decimal(std::to_string(value.uiVal)); return true;
    case VT_UI4: *text = Decimal(std::to_string(value.ulVal)); return true;
    case VT_UINT: *text = Decimal(std::to_string(value.uintVal)); return true;
    case VT_UI8: *text = Decimal(std::to_string(value.ullVal)); return true;
    case VT_BOOL:
      if ((flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0) {
        *text = value.boolVal != VARIANT_FALSE ? u"True" : u"False";
      } else {
        *text = value.boolVal != VARIANT_FALSE ? u"-1" : u"0";
      }
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

// VariantChangeType: to VT_BSTR, the conversion the module asks for, from the
// empty, string, integer and boolean kinds; source and destination may be one
// variant. Null and kinds without a text here are a type mismatch; other
// targets are refused alike. On failure the destination is left as it was.
HRESULT STDAPICALLTYPE VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT flags,
                                         VARTYPE type) {
  if (destination == nullptr || source == nullptr) return E_INVALIDARG;
  if (!IsValidType(source->vt) && (source->vt & VT_BYREF) == 0) return DISP_E_BADVARTYPE;
  if (type != VT_BSTR) return DISP_E_TYPEMISMATCH;
  BSTR converted = nullptr;
  if (source->vt == VT_BSTR) {
    if (source->bstrVal != nullptr) {
      converted = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
      if (converted == nullptr) return E_OUTOFMEMORY;
    }
  } else {
    std::u16string text;
    if (!TextOf(*source, flags, &text)) return DISP_E_TYPEMISMATCH;
    converted = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (converted == nullptr) return E_OUTOFMEMORY;
  }
  VariantClear(destination);
  destination->vt = VT_BSTR;
  destination->bstrVal = converted;
  return S_OK;
}

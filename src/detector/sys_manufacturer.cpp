// Detector::GetSysManufacturer: the maker of the computer through WMI.
#include <oleauto.h>
#include <wbemidl.h>

#include "common/trace.h"
#include "detector/detector.h"

namespace device {
namespace {

// What the query obtained, released in this order whichever way it ends.
struct WmiQuery {
  IUnknown* locator = nullptr;
  IWbemServices* services = nullptr;
  IEnumWbemClassObject* enumerator = nullptr;
  IWbemClassObject* object = nullptr;
  ~WmiQuery() {
    for (IUnknown* held : {locator, static_cast<IUnknown*>(services), static_cast<IUnknown*>(enumerator),
                           static_cast<IUnknown*>(object)}) {
      if (held != nullptr) held->Release();
    }
  }
};

// A BSTR for the length of a call.
class Bstr {
 public:
  explicit Bstr(const OLECHAR* text) : text_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return text_; }

 private:
  BSTR text_;
};

// The host's wide text (UCS4) for the wide trace; surrogate pairs joined.
std::wstring HostWide(const std::u16string& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      out += static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}

}  // namespace

std::optional<std::u16string> Detector::GetSysManufacturer() {
  TraceA("Detector::GetSysManufacturer() Enter");
  WmiQuery query;
  if (FAILED(CoCreateInstance(CLSID_WbemAdministrativeLocator, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                              IID_IUnknown, reinterpret_cast<void**>(&query.locator)))) {
    return std::nullopt;
  }
  auto* locator = static_cast<IWbemLocator*>(query.locator);
  const Bstr space(u"root\\cimv2");
  if (FAILED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &query.services))) {
    return std::nullopt;
  }
  const Bstr language(u"WQL");
  const Bstr text(u"Select * from Win32_SystemEnclosure");
  HRESULT result = query.services->ExecQuery(language, text, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &query.enumerator);
  if (FAILED(result)) {
    TraceA("Detector::GetSysManufacturer() Could not execute Query=0x%08x!!", static_cast<unsigned>(result));
    return std::nullopt;
  }
  query.enumerator->Reset();
  ULONG returned = 0;
  result = query.enumerator->Next(WBEM_INFINITE, 1, &query.object, &returned);
  if (FAILED(result)) {
    TraceA("Detector::GetSysManufacturer() Could not Enumerate!!=0x%08x", static_cast<unsigned>(result));
    return std::nullopt;
  }
  if (returned == 0 || query.object == nullptr) return std::nullopt;
  VARIANT value;
  VariantInit(&value);
  {
    const Bstr name(u"Manufacturer");
    result = query.object->Get(name, 0, &value, nullptr, nullptr);
    if (FAILED(result)) {
      TraceA("Detector::GetSysManufacturer() Could not Get Value!!=0x%08x", static_cast<unsigned>(result));
      return std::nullopt;
    }
  }
  // A value that cannot become text (a null one among them) answers nothing.
  const bool text_value = value.vt == VT_BSTR || SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR));
  std::optional<std::u16string> maker;
  if (text_value && value.bstrVal != nullptr) maker = std::u16string(value.bstrVal, SysStringLen(value.bstrVal));
  VariantClear(&value);
  if (text_value) {
    TraceW(L"Detector::GetSysManufacturer() SysManufacturer=%ls", maker ? HostWide(*maker).c_str() : L"(null)");
  }
  return maker;
}

}  // namespace device

// Detector::GetSysManufacturer: the maker of the computer through WMI.
#include <oleauto.h>
#include <wbemidl.h>

#include "common/com_holders.h"
#include "common/trace.h"
#include "detector/detector.h"

namespace device {

std::optional<std::u16string> Detector::GetSysManufacturer() {
  TraceA("Detector::GetSysManufacturer() Enter");
  // Released in the order locator, services, enumerator, object, whichever
  // way it ends: members go in reverse.
  Released<IWbemClassObject> object;
  Released<IEnumWbemClassObject> enumerator;
  Released<IWbemServices> services;
  Released<IUnknown> locator;
  if (FAILED(CoCreateInstance(CLSID_WbemAdministrativeLocator, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                              IID_IUnknown, reinterpret_cast<void**>(locator.out())))) {
    return std::nullopt;
  }
  const Bstr space(u"root\\cimv2");
  if (FAILED(static_cast<IWbemLocator*>(locator.get())
                 ->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.out()))) {
    return std::nullopt;
  }
  const Bstr language(u"WQL");
  const Bstr text(u"Select * from Win32_SystemEnclosure");
  HRESULT result = services->ExecQuery(language, text, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, enumerator.out());
  if (FAILED(result)) {
    TraceA("Detector::GetSysManufacturer() Could not execute Query=0x%08x!!", static_cast<unsigned>(result));
    return std::nullopt;
  }
  enumerator->Reset();
  ULONG returned = 0;
  result = enumerator->Next(WBEM_INFINITE, 1, object.out(), &returned);
  if (FAILED(result)) {
    TraceA("Detector::GetSysManufacturer() Could not Enumerate!!=0x%08x", static_cast<unsigned>(result));
    return std::nullopt;
  }
  if (returned == 0 || object.get() == nullptr) return std::nullopt;
  VARIANT value;
  VariantInit(&value);
  {
    const Bstr name(u"Manufacturer");
    result = object->Get(name, 0, &value, nullptr, nullptr);
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
    TraceW(u"Detector::GetSysManufacturer() SysManufacturer=" + (maker ? *maker : u"(null)"));
  }
  return maker;
}

}  // namespace device

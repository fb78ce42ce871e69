#include "system/machine_facts.h"

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <climits>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "common/com_holders.h"
#include "python/unicode.h"

namespace device {
namespace {

// The WMI steps: the locator, root\cimv2, the proxy blanket, the query, its
// first object and the text of each property. False on any failure, or when
// a property's value is not text. The object, the enumerator, the services and
// the locator are released in that order (members go in reverse).
bool QueryFirstObject(const WCHAR* query, std::initializer_list<const WCHAR*> properties,
                      std::vector<std::u16string>* values) {
  Released<IWbemLocator> locator;
  Released<IWbemServices> services;
  Released<IEnumWbemClassObject> enumerator;
  Released<IWbemClassObject> object;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              reinterpret_cast<void**>(locator.out())))) {
    return false;
  }
  {
    const Bstr space(u"ROOT\\CIMV2");
    if (FAILED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.out()))) {
      return false;
    }
  }
  if (FAILED(CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
    return false;
  }
  {
    const Bstr language(u"WQL");
    const Bstr text(query);
    if (FAILED(services->ExecQuery(language, text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                   nullptr, enumerator.out()))) {
      return false;
    }
  }
  ULONG returned = 0;
  enumerator->Next(WBEM_INFINITE, 1, object.out(), &returned);
  if (returned == 0 || object.get() == nullptr) return false;
  for (const WCHAR* property : properties) {
    VARIANT value;
    VariantInit(&value);
    const bool text = SUCCEEDED(object->Get(property, 0, &value, nullptr, nullptr)) && value.vt == VT_BSTR &&
                      value.bstrVal != nullptr;
    if (text) values->push_back(value.bstrVal);
    VariantClear(&value);
    if (!text) return false;
  }
  return true;
}

// The platform's saturating decimal conversion: leading blanks, a sign,
// digits; beyond the 32-bit range the nearest end of it.
int SaturatedDecimal(const std::u16string& text) {
  std::string narrow;
  for (const char16_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  const long long value = std::strtoll(narrow.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

std::u16string GetUserName() {
  WCHAR name[1024] = {};
  DWORD size = 1024;
  if (!GetUserNameW(name, &size)) return std::u16string();
  return std::u16string(name);
}

std::optional<int> GetAvailableDiskSpaceMB(const WCHAR* path) {
  ULARGE_INTEGER available = {};
  ULARGE_INTEGER total = {};
  ULARGE_INTEGER free = {};
  if (!GetDiskFreeSpaceExW(path, &available, &total, &free)) return std::nullopt;
  return static_cast<int>(static_cast<DWORD>(free.QuadPart >> 20));  // the low 32 bits, as a signed int
}

int GetLogicalCpuNumber() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}

std::optional<int> GetTotalMemorySize() {
  std::vector<std::u16string> values;
  if (!QueryFirstObject(u"SELECT TotalPhysicalMemory FROM Win32_ComputerSystem", {u"TotalPhysicalMemory"}, &values)) {
    return std::nullopt;
  }
  return SaturatedDecimal(values[0]);
}

PyObject* GetDisplayAdapterNames() {
  std::vector<std::u16string> values;
  if (!QueryFirstObject(u"SELECT Caption,Description FROM Win32_VideoController", {u"Caption", u"Description"},
                        &values)) {
    Py_RETURN_NONE;
  }
  PyObject* caption = w32::python::UnicodeFromUtf16(values[0]);
  PyObject* description = caption != nullptr ? w32::python::UnicodeFromUtf16(values[1]) : nullptr;
  PyObject* names = description != nullptr ? PyTuple_Pack(2, caption, description) : nullptr;
  Py_XDECREF(caption);
  Py_XDECREF(description);
  return names;
}

std::optional<bool> IsIronLake() {
  std::vector<std::u16string> values;
  if (!QueryFirstObject(u"SELECT PNPDeviceID FROM Win32_VideoController", {u"PNPDeviceID"}, &values)) {
    return std::nullopt;
  }
  const std::u16string& device = values[0];
  return device.find(u"PCI\\VEN_8086&DEV_0042") != std::u16string::npos ||
         device.find(u"PCI\\VEN_8086&DEV_0046") != std::u16string::npos;
}

}  // namespace device

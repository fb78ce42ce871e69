#include "system/locale_region.h"

#include <windows.h>

#include <cwchar>
#include <mutex>
#include <vector>

#include "python/unicode.h"

namespace device {
namespace {

using GetUserGeoIdFunction = GEOID(WINAPI*)(GEOCLASS);
using GetGeoInfoFunction = int(WINAPI*)(GEOID, GEOTYPE, LPWSTR, int, LANGID);

// The text of a zero-filled buffer up to its first zero.
std::u16string TextOf(const WCHAR* buffer) { return std::u16string(buffer); }

// The platform's answer for one locale field; empty when it refuses.
template <size_t Size>
std::u16string LocaleField(LCID lcid, LCTYPE type) {
  WCHAR buffer[Size] = {};
  if (GetLocaleInfoW(lcid, type, buffer, Size) == 0) return std::u16string();
  return TextOf(buffer);
}

template <class Function>
Function Kernel32Function(const char* name) {
  HMODULE kernel = GetModuleHandleW(u"KERNEL32");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

// The module-wide results of the locale enumeration, filled by its callback.
std::mutex enumeration_lock;
std::vector<std::u16string> locale_names;
std::vector<LCID> locale_ids;

BOOL CALLBACK CollectLocale(LPWSTR text) {
  if (text == nullptr) return FALSE;
  std::u16string digits(text);
  const LCID lcid = static_cast<LCID>(std::wcstoul(std::wstring(digits.begin(), digits.end()).c_str(), nullptr, 16));
  locale_names.push_back(LocaleField<260>(lcid, LOCALE_SLANGUAGE));
  locale_ids.push_back(lcid);
  return TRUE;
}

}  // namespace

std::u16string GetUserLang() { return LocaleField<256>(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME); }

std::u16string GetSystemLang() { return LocaleField<256>(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVLANGNAME); }

std::u16string GetSystemCountryCode() {
  const auto get_user_geo_id = Kernel32Function<GetUserGeoIdFunction>("GetUserGeoID");
  const GEOID location = get_user_geo_id != nullptr ? get_user_geo_id(GEOCLASS_NATION) : GEOID_NOT_AVAILABLE;
  if (location == GEOID_NOT_AVAILABLE) return LocaleField<128>(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY);
  const auto get_geo_info = Kernel32Function<GetGeoInfoFunction>("GetGeoInfoW");
  WCHAR iso3[100] = {};
  if (get_geo_info == nullptr || get_geo_info(location, GEO_ISO3, iso3, 100, 0) == 0) return std::u16string();
  for (LCID lcid = 1; lcid < 0xFFFF; ++lcid) {
    WCHAR country[128] = {};
    if (GetLocaleInfoW(lcid, LOCALE_SABBREVCTRYNAME, country, 128) == 0) continue;
    if (TextOf(country) == TextOf(iso3)) return LocaleField<128>(lcid, LOCALE_ICOUNTRY);
  }
  return LocaleField<128>(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY);
}

PyObject* getSystemLocales() {
  std::lock_guard<std::mutex> hold(enumeration_lock);
  locale_names.clear();
  locale_ids.clear();
  EnumSystemLocalesW(CollectLocale, LCID_SUPPORTED);
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(locale_names.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < locale_names.size(); ++i) {
    PyObject* id = PyInt_FromLong(static_cast<long>(locale_ids[i]));
    PyObject* name = w32::python::UnicodeFromUtf16(locale_names[i]);
    PyObject* pair = id != nullptr && name != nullptr ? PyList_New(2) : nullptr;
    if (pair == nullptr) {
      Py_XDECREF(id);
      Py_XDECREF(name);
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(pair, 0, id);
    PyList_SET_ITEM(pair, 1, name);
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), pair);
  }
  return list;
}

}  // namespace device

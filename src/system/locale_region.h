#pragma once
// The user's and the system's language, the telephone country code of the
// user's location, and the locales the system supports.
#include "python/python_compat.h"

#include <string>

namespace device {

std::u16string GetUserLang();
std::u16string GetSystemLang();
std::u16string GetSystemCountryCode();
// A new list of [LCID, language name] lists, in the platform's enumeration order.
PyObject* getSystemLocales();

}  // namespace device

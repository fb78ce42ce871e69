#include <windows.h>
#include <dlfcn.h>

#include <string>

#include "support/text.h"

namespace w32 {
namespace {

// The platform's system libraries that libw32.so stands in for. They are
// always loaded, and each finds its exports among libw32.so's symbols.
struct SystemModule {
  const char16_t* name;  // lower case, with its extension
};

const SystemModule kSystemModules[] = {
    {u"kernel32.dll"},
    {u"ole32.dll"},
};

// The module's own base name: the extension ".dll" is implied, as the
// platform does for a name without one; a trailing dot means no extension.
std::u16string ModuleKey(const char16_t* name) {
  std::u16string key = AsciiLower(name);
  const size_t slash = key.find_last_of(u"\\/");
  if (slash != std::u16string::npos) key.erase(0, slash + 1);
  if (!key.empty() && key.back() == u'.') {
    key.pop_back();
  } else if (key.find(u'.') == std::u16string::npos) {
    key += u".dll";
  }
  return key;
}

void* SelfLibrary() {
  static void* library = [] {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&GetModuleHandleW), &info);
    return dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  }();
  return library;
}

const SystemModule* FindModule(HMODULE module) {
  for (const SystemModule& candidate : kSystemModules) {
    if (reinterpret_cast<HMODULE>(const_cast<SystemModule*>(&candidate)) == module) return &candidate;
  }
  return nullptr;
}

}  // namespace
}  // namespace w32

// GetModuleHandleW: finds one of the system modules that libw32.so provides;
// their handles are the addresses of w32's own module records.
HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);  // the executable is not a w32 module
    return nullptr;
  }
  const std::u16string key = w32::ModuleKey(name);
  for (const w32::SystemModule& module : w32::kSystemModules) {
    if (key == module.name) return reinterpret_cast<HMODULE>(const_cast<w32::SystemModule*>(&module));
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

// GetProcAddress: dlsym in libw32.so for a system module's export by name.
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (w32::FindModule(module) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // An ordinal (a "name" below 0x10000) has no meaning here.
  if (reinterpret_cast<ULONG_PTR>(name) < 0x10000 || w32::SelfLibrary() == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* symbol = dlsym(w32::SelfLibrary(), name);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

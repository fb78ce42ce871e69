#include "system/library_loading.h"

#include <cstdio>

namespace device {
namespace {

// Loads with the library's own folder searched first for what it needs.
HMODULE LoadFromItsFolder(const WCHAR* path) { return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH); }

// Frees a loaded library when the registration is done, whatever happened.
class LoadedLibrary {
 public:
  explicit LoadedLibrary(HMODULE module) : module_(module) {}
  ~LoadedLibrary() { FreeLibrary(module_); }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

using RegistrationEntry = HRESULT(STDAPICALLTYPE*)();

}  // namespace

int Regsvr(const WCHAR* path, bool register_server) {
  const char* const kRegister = "DllRegisterServer";
  const char* const kUnregister = "DllUnregisterServer";
  char message[256];
  const HMODULE module = LoadFromItsFolder(path);
  // Any value below 32 is a failed load, as old loaders answered.
  if (reinterpret_cast<ULONG_PTR>(module) < 32) {
    std::snprintf(message, sizeof message, "LoadLib fail: 0x%08lx", static_cast<unsigned long>(GetLastError()));
    OutputDebugStringA(message);
    return -2;
  }
  const LoadedLibrary library(module);
  const FARPROC found = GetProcAddress(library.get(), register_server ? kRegister : kUnregister);
  if (found == nullptr) return -3;
  const HRESULT status = reinterpret_cast<RegistrationEntry>(reinterpret_cast<void*>(found))();
  if (status < 0) {
    std::snprintf(message, sizeof message, "Regsvr return: %X\n", static_cast<unsigned>(status));
    OutputDebugStringA(message);
    return -4;
  }
  return 1;
}

void* LoadLib(const WCHAR* path) { return LoadFromItsFolder(path); }

void FreeLib(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

}  // namespace device

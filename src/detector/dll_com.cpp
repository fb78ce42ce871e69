#include "detector/dll_com.h"

#include <corecrt_wstdlib.h>

#include <cerrno>
#include <initializer_list>

namespace device {
namespace {

using GetClassObjectProc = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowProc = HRESULT (*)();

// An export with its own signature (through void (*)(), the generic function pointer).
template <class Proc>
Proc Export(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// A positive error e gives 0x80070000 | (e & 0xFFFF); zero or negative stays.
HRESULT LastErrorResult() {
  const auto error = static_cast<LONG>(GetLastError());
  return error > 0 ? static_cast<HRESULT>(0x80070000u | (static_cast<DWORD>(error) & 0xFFFF)) : error;
}

// "%s%s%s" into a buffer of MAX_PATH characters; false when it does not fit.
bool Join(WCHAR (&out)[MAX_PATH], const WCHAR* a, const WCHAR* b, const WCHAR* c) {
  size_t n = 0;
  for (const WCHAR* part : {a, b, c}) {
    for (; *part != 0; ++part) {
      if (n + 1 == MAX_PATH) return false;
      out[n++] = *part;
    }
  }
  out[n] = 0;
  return true;
}

// The folder of the owner's file, split from its full path: a path cut to
// the buffer, or one whose parts do not fit theirs, is a failure, since a
// cut path names some other file or folder, or the current folder itself.
bool OwnerFolder(HMODULE owner, WCHAR (&drive)[_MAX_DRIVE], WCHAR (&folder)[_MAX_DIR]) {
  WCHAR own_path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(owner, own_path, MAX_PATH);
  if (length == 0) return false;
  if (length >= MAX_PATH) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  errno = 0;
  _wsplitpath(own_path, drive, folder, nullptr, nullptr);
  if (errno == ERANGE || folder[0] == 0) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return true;
}

}  // namespace

DEVICE_OUTSIDE_CALLS CDllCom::~CDllCom() {
  if (factory_ != nullptr) factory_->Release();
}

DEVICE_OUTSIDE_CALLS HRESULT CDllCom::CreateInstance(HMODULE owner, LPCWSTR file, REFCLSID clsid, REFIID iid,
                                                     void** object) {
  if (owner != nullptr) {
    WCHAR drive[_MAX_DRIVE];
    WCHAR folder[_MAX_DIR];
    if (!OwnerFolder(owner, drive, folder)) return LastErrorResult();
    WCHAR settings[MAX_PATH];
    WCHAR relative[MAX_PATH];
    WCHAR server[MAX_PATH];
    if (!Join(settings, drive, folder, u"DllPath.ini")) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    // A value that fills the buffer may have been cut.
    if (GetPrivateProfileStringW(u"Path", file, u"", relative, MAX_PATH, settings) >= MAX_PATH - 1 ||
        !Join(server, drive, folder, relative)) {
      return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    }
    module_ = LoadLibraryExW(server, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  } else {
    module_ = LoadLibraryW(file);
  }
  if (module_ == nullptr) {
    const HRESULT result = LastErrorResult();
    Unload();
    return result;
  }
  const auto get_class_object = Export<GetClassObjectProc>(module_, "DllGetClassObject");
  if (get_class_object == nullptr) {
    const HRESULT result = LastErrorResult();
    Unload();
    return result;
  }
  HRESULT result = get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory_));
  if (SUCCEEDED(result) && factory_ != nullptr) return factory_->CreateInstance(nullptr, iid, object);
  if (factory_ != nullptr) result = E_FAIL;
  Unload();
  return result;
}

DEVICE_OUTSIDE_CALLS void CDllCom::Unload() {
  if (factory_ != nullptr) {
    IClassFactory* factory = factory_;
    factory_ = nullptr;
    factory->Release();
  }
  if (module_ != nullptr) {
    const auto can_unload_now = Export<CanUnloadNowProc>(module_, "DllCanUnloadNow");
    if (can_unload_now != nullptr && can_unload_now() == S_OK) {
      FreeLibrary(module_);
      module_ = nullptr;
    }
  }
}

}  // namespace device

#pragma once
// Loads an in-process COM server from a file without registration: the file
// named in "DllPath.ini" beside the owner module, its class object, and
// objects made by that class object.
#include <objbase.h>
#include <windows.h>

// On a function that calls through the interfaces of an outside server's
// objects: the sanitizer build checks no C++ type there, since a COM object
// may come from C or from another compiler and carry no type information.
#define DEVICE_OUTSIDE_CALLS __attribute__((no_sanitize("vptr")))

namespace device {

class CDllCom {
 public:
  CDllCom() = default;
  // Releases a factory still held; never frees the file.
  virtual ~CDllCom();
  CDllCom(const CDllCom&) = delete;
  CDllCom& operator=(const CDllCom&) = delete;

  // With an owner, the file is the value of key `file` in section "Path" of
  // the owner folder's DllPath.ini, relative to that folder; without one,
  // `file` itself. Failures come back as HRESULTs of the last error.
  HRESULT CreateInstance(HMODULE owner, LPCWSTR file, REFCLSID clsid, REFIID iid, void** object);

  // Releases the factory, and frees the file when the server allows it.
  void Unload();

 private:
  HMODULE module_ = nullptr;
  IClassFactory* factory_ = nullptr;
};

}  // namespace device

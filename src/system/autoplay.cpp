#include "system/autoplay.h"

#include <windows.h>
#include <objbase.h>

#include <new>

#include "system/query_cancel_autoplay.h"

namespace device {
namespace {

const CLSID kCancelAutoplayClsid = {0xDBC9AA60, 0xB5AF, 0x4B5C, {0xB5, 0xE1, 0xA2, 0xF7, 0x4B, 0xE4, 0x9A, 0xA0}};

// Written by the table at each registration, read at revocation; never reset.
// Both module functions keep the interpreter lock, which orders them.
DWORD registration_cookie = 0;

// Windows XP, or Windows 2000 past build 2195, or later.
bool PlatformQualifies() {
  OSVERSIONINFOEXA extended{};
  extended.dwOSVersionInfoSize = sizeof extended;
  auto* version = reinterpret_cast<OSVERSIONINFOA*>(&extended);
  if (!GetVersionExA(version)) {
    version->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(version)) return false;
  }
  if (version->dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
  if (version->dwMajorVersion != 5) return version->dwMajorVersion > 5;
  return version->dwMinorVersion > 0 || LOWORD(version->dwBuildNumber) > 2195;
}

HRESULT Register() {
  if (!PlatformQualifies()) return E_FAIL;
  IMoniker* moniker = nullptr;
  HRESULT result = CreateClassMoniker(kCancelAutoplayClsid, &moniker);
  if (FAILED(result)) return result;
  IRunningObjectTable* table = nullptr;
  result = GetRunningObjectTable(0, &table);
  if (FAILED(result)) {
    moniker->Release();
    return result;
  }
  auto* canceller = new (std::nothrow) CQueryCancelAutoplay;
  if (canceller == nullptr) {
    result = E_OUTOFMEMORY;
  } else {
    IUnknown* unknown = nullptr;
    result = canceller->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (SUCCEEDED(result)) {
      result = table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, unknown, moniker, &registration_cookie);
      unknown->Release();
    }
    canceller->Release();  // the table holds the only reference now
  }
  table->Release();
  moniker->Release();
  return result;
}

}  // namespace

bool RegisterCancelAutoplay() { return SUCCEEDED(Register()); }

bool UnregisterCancelAutoplay() {
  if (!PlatformQualifies()) return false;
  IRunningObjectTable* table = nullptr;
  if (SUCCEEDED(GetRunningObjectTable(0, &table))) {
    table->Revoke(registration_cookie);
    table->Release();
  }
  return true;
}

}  // namespace device

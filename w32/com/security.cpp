#include <objbase.h>

#include <atomic>

#include "com/apartment.h"

namespace {
std::atomic<bool> security_set{false};
}

// CoInitializeSecurity: the process's COM security is set once; every later
// call is too late. Nothing crosses a process boundary here, so the levels
// have nothing to guard and are only recorded as set.
HRESULT WINAPI CoInitializeSecurity(PSECURITY_DESCRIPTOR, LONG auth_services, SOLE_AUTHENTICATION_SERVICE* services,
                                    void* reserved1, DWORD, DWORD, void*, DWORD, void* reserved3) {
  if (reserved1 != nullptr || reserved3 != nullptr || auth_services < -1 ||
      (auth_services > 0 && services == nullptr)) {
    return E_INVALIDARG;
  }
  if (!w32::com::ThreadHasCom()) return CO_E_NOTINITIALIZED;
  if (security_set.exchange(true)) return RPC_E_TOO_LATE;
  return S_OK;
}

// CoSetProxyBlanket: hands the blanket to the object's IClientSecurity, which
// only w32's stand-ins for out-of-process services (WMI) implement.
HRESULT WINAPI CoSetProxyBlanket(IUnknown* proxy, DWORD authn_service, DWORD authz_service, OLECHAR* principal,
                                 DWORD authn_level, DWORD impersonation, RPC_AUTH_IDENTITY_HANDLE identity,
                                 DWORD capabilities) {
  if (proxy == nullptr) return E_INVALIDARG;
  IClientSecurity* security = nullptr;
  HRESULT result = proxy->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(&security));
  if (FAILED(result)) return result;
  result = security->SetBlanket(proxy, authn_service, authz_service, principal, authn_level, impersonation, identity,
                                capabilities);
  security->Release();
  return result;
}

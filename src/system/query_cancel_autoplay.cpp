#include "system/query_cancel_autoplay.h"

#include <cstring>

namespace device {

// Both identifiers compared over all 16 bytes; a null out-pointer is not written.
HRESULT CQueryCancelAutoplay::QueryInterface(REFIID riid, void** ppvObject) {
  if (std::memcmp(&riid, &IID_IUnknown, sizeof(IID)) == 0 ||
      std::memcmp(&riid, &IID_IQueryCancelAutoPlay, sizeof(IID)) == 0) {
    AddRef();
    if (ppvObject != nullptr) *ppvObject = static_cast<IQueryCancelAutoPlay*>(this);
    return S_OK;
  }
  if (ppvObject != nullptr) *ppvObject = nullptr;
  return E_NOINTERFACE;
}

ULONG CQueryCancelAutoplay::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG CQueryCancelAutoplay::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT CQueryCancelAutoplay::AllowAutoPlay(LPCWSTR, DWORD, LPCWSTR, DWORD) { return S_FALSE; }

}  // namespace device

#include <windows.h>
#include <objbase.h>

namespace {

// The calling thread's COM initialisation: how many times, and in which apartment.
struct Apartment {
  unsigned count = 0;
  bool single_threaded = false;
};

thread_local Apartment apartment;

}  // namespace

// CoInitializeEx: counts the thread's initialisations; the first fixes the
// apartment kind, a later call asking for the other kind is refused.
HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD flags) {
  constexpr DWORD kKnownFlags =
      COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
  if (reserved != nullptr || (flags & ~kKnownFlags) != 0) return E_INVALIDARG;
  const bool single_threaded = (flags & COINIT_APARTMENTTHREADED) != 0;
  if (apartment.count > 0) {
    if (apartment.single_threaded != single_threaded) return RPC_E_CHANGED_MODE;
    ++apartment.count;
    return S_FALSE;
  }
  apartment.count = 1;
  apartment.single_threaded = single_threaded;
  return S_OK;
}

// CoUninitialize: undoes one successful CoInitializeEx of the calling thread.
void WINAPI CoUninitialize(void) {
  if (apartment.count > 0) --apartment.count;
}

#include "com/apartment.h"

#include <objbase.h>

#include <atomic>

namespace {

// The calling thread's COM initialisation: how many times, and in which apartment.
struct Apartment {
  unsigned count = 0;
  bool single_threaded = false;
};

thread_local Apartment apartment;

// Threads that hold the multithreaded apartment now.
std::atomic<unsigned> multithreaded_members{0};

}  // namespace

namespace w32::com {

bool ThreadHasCom() { return apartment.count > 0 || multithreaded_members.load() > 0; }

}  // namespace w32::com

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
  if (!single_threaded) ++multithreaded_members;
  return S_OK;
}

// CoInitialize: a single-threaded apartment, as CoInitializeEx gives it.
HRESULT WINAPI CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

// CoUninitialize: undoes one successful CoInitializeEx of the calling thread.
void WINAPI CoUninitialize(void) {
  if (apartment.count == 0) return;
  if (--apartment.count == 0 && !apartment.single_threaded) --multithreaded_members;
}

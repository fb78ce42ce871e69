#include <windows.h>

// InterlockedExchangePointer: the compiler's sequentially consistent atomic exchange.
PVOID WINAPI InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

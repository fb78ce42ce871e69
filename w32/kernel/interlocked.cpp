#include <windows.h>

// InterlockedExchangePointer: the compiler's sequentially consistent atomic exchange.
PVOID WINAPI InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

// InterlockedIncrement: the compiler's sequentially consistent atomic add; the new value.
LONG WINAPI InterlockedIncrement(LONG volatile* addend) { return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST); }

// InterlockedDecrement: the compiler's sequentially consistent atomic subtract; the new value.
LONG WINAPI InterlockedDecrement(LONG volatile* addend) { return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST); }

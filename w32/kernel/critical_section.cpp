#include <windows.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

// A critical section is a recursive futex lock kept in the platform's own
// fields: LockCount is the futex word (0 free, 1 held, 2 held with waiters),
// OwningThread the owner's thread id, RecursionCount its depth.
namespace {

void FutexWait(LONG* word, LONG expected) {
  ::syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWake(LONG* word) { ::syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0); }

HANDLE ThreadTag() { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId())); }

bool OwnedByCaller(LPCRITICAL_SECTION section) {
  return __atomic_load_n(&section->OwningThread, __ATOMIC_RELAXED) == ThreadTag();
}

void TakeOwnership(LPCRITICAL_SECTION section) {
  __atomic_store_n(&section->OwningThread, ThreadTag(), __ATOMIC_RELAXED);
  section->RecursionCount = 1;
}

}  // namespace

// InitializeCriticalSection: a free futex lock; nothing is allocated.
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
  section->DebugInfo = nullptr;
  section->LockCount = 0;
  section->RecursionCount = 0;
  section->OwningThread = nullptr;
  section->LockSemaphore = nullptr;
  section->SpinCount = 0;
}

// EnterCriticalSection: recursive for the owner, else a futex wait.
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
  if (OwnedByCaller(section)) {
    ++section->RecursionCount;
    return;
  }
  LONG state = 0;
  if (!__atomic_compare_exchange_n(&section->LockCount, &state, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
    if (state != 2) state = __atomic_exchange_n(&section->LockCount, 2, __ATOMIC_ACQUIRE);
    while (state != 0) {
      FutexWait(&section->LockCount, 2);
      state = __atomic_exchange_n(&section->LockCount, 2, __ATOMIC_ACQUIRE);
    }
  }
  TakeOwnership(section);
}

// LeaveCriticalSection: the last leave of the owner frees the lock and wakes one waiter.
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
  if (--section->RecursionCount > 0) return;
  __atomic_store_n(&section->OwningThread, nullptr, __ATOMIC_RELAXED);
  if (__atomic_exchange_n(&section->LockCount, 0, __ATOMIC_RELEASE) == 2) FutexWake(&section->LockCount);
}

// DeleteCriticalSection: nothing to release.
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) { InitializeCriticalSection(section); }

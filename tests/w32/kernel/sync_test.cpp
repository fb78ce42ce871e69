// Events, waits, threads and critical sections.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <vector>

namespace {

struct HandleCloser {
  void operator()(void* handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle MakeEvent(bool manual_reset, bool initial_state) {
  return Handle(CreateEventW(nullptr, manual_reset, initial_state, nullptr));
}

TEST(Event, ManualResetStaysSignalledUntilResetAutoResetReleasesOneWait) {
  Handle manual = MakeEvent(true, false), automatic = MakeEvent(false, true);
  EXPECT_EQ(WaitForSingleObject(manual.get(), 20), static_cast<DWORD>(WAIT_TIMEOUT));  // a timed wait ends
  ASSERT_TRUE(SetEvent(manual.get()));
  EXPECT_EQ(WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(manual.get()));
  EXPECT_EQ(WaitForSingleObject(manual.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(automatic.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(Wait, AnyGivesTheFirstSignalledIndexAndTakesOnlyIt) {
  Handle manual = MakeEvent(true, true), a = MakeEvent(false, true), b = MakeEvent(false, false);
  HANDLE three[] = {b.get(), manual.get(), a.get()};
  EXPECT_EQ(WaitForMultipleObjects(3, three, FALSE, 0), WAIT_OBJECT_0 + 1);
  HANDLE handles[] = {b.get(), a.get()};
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

struct Rendezvous {
  HANDLE go;
  std::atomic<int> value{0};
};

DWORD WINAPI SignalAfterGo(LPVOID parameter) {
  auto* rendezvous = static_cast<Rendezvous*>(parameter);
  WaitForSingleObject(rendezvous->go, INFINITE);
  rendezvous->value = 42;
  return 0;
}

TEST(Thread, RunsAndIsSignalledOnceItsRoutineReturns) {
  Handle go = MakeEvent(true, false);
  Rendezvous rendezvous{go.get()};
  DWORD id = 0;
  Handle thread(CreateThread(nullptr, 0, SignalAfterGo, &rendezvous, 0, &id));
  ASSERT_NE(thread.get(), nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(WaitForSingleObject(thread.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(go.get());
  EXPECT_EQ(WaitForSingleObject(thread.get(), INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(rendezvous.value, 42);
  EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);  // stays signalled
}

struct Counter {
  CRITICAL_SECTION lock;
  long value = 0;
};

DWORD WINAPI CountUnderLock(LPVOID parameter) {
  auto* counter = static_cast<Counter*>(parameter);
  for (int i = 0; i < 20000; ++i) {
    EnterCriticalSection(&counter->lock);
    EnterCriticalSection(&counter->lock);  // recursive entry by the owner
    const long seen = counter->value;
    counter->value = seen + 1;
    LeaveCriticalSection(&counter->lock);
    LeaveCriticalSection(&counter->lock);
  }
  return 0;
}

TEST(CriticalSection, ExcludesOtherThreadsAndNestsForTheOwner) {
  Counter counter;
  InitializeCriticalSection(&counter.lock);
  std::vector<Handle> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back(CreateThread(nullptr, 0, CountUnderLock, &counter, 0, nullptr));
  for (const Handle& thread : threads) EXPECT_EQ(WaitForSingleObject(thread.get(), INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(counter.value, 4 * 20000);
  DeleteCriticalSection(&counter.lock);
}

}  // namespace

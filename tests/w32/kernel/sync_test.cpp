// Events, waits, threads, critical sections and module lookup.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

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

TEST(Event, BadHandles) {
  EXPECT_FALSE(SetEvent(reinterpret_cast<HANDLE>(0x7FFFFFF0)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(ResetEvent(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  Handle mutex(CreateMutexW(nullptr, FALSE, nullptr));
  EXPECT_FALSE(SetEvent(mutex.get()));  // not an event
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, u"Local\\w32-sync-test-event"), nullptr);  // names are not supported
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(Wait, AnyGivesTheFirstSignalledIndexAndTakesOnlyIt) {
  Handle manual = MakeEvent(true, true), a = MakeEvent(false, true), b = MakeEvent(false, false);
  HANDLE three[] = {b.get(), manual.get(), a.get()};
  EXPECT_EQ(WaitForMultipleObjects(3, three, FALSE, 0), WAIT_OBJECT_0 + 1);
  HANDLE handles[] = {b.get(), a.get()};
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(Wait, RefusedArguments) {
  Handle event = MakeEvent(true, true);
  HANDLE twice[] = {event.get(), event.get()};
  const struct {
    DWORD count;
    const HANDLE* handles;
    BOOL all;
    DWORD error;
  } cases[] = {
      {0, twice, FALSE, ERROR_INVALID_PARAMETER},
      {MAXIMUM_WAIT_OBJECTS + 1, twice, FALSE, ERROR_INVALID_PARAMETER},
      {1, nullptr, FALSE, ERROR_INVALID_PARAMETER},
      {2, twice, TRUE, ERROR_NOT_SUPPORTED},  // wait-all
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, c.all, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), c.error);
  }
  HANDLE stale = reinterpret_cast<HANDLE>(0x7FFFFFF0);
  EXPECT_EQ(WaitForSingleObject(stale, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);  // wait-any allows repeats
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

TEST(Thread, RefusedArguments) {
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateThread(nullptr, 0, SignalAfterGo, nullptr, CREATE_SUSPENDED, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
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

TEST(Module, FindsCoInitializeExInOle32) {
  for (const WCHAR* name : {u"ole32.dll", u"OLE32.DLL", u"ole32", u"C:\\Windows\\System32\\ole32.dll"}) {
    HMODULE module = GetModuleHandleW(name);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module, GetModuleHandleW(u"ole32.dll"));
  }
  FARPROC proc = GetProcAddress(GetModuleHandleW(u"ole32.dll"), "CoInitializeEx");
  EXPECT_EQ(reinterpret_cast<void*>(proc), reinterpret_cast<void*>(&CoInitializeEx));
}

TEST(Module, RefusedLookups) {
  EXPECT_EQ(GetModuleHandleW(u"nosuch.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetModuleHandleW(u"ole32."), nullptr);  // a trailing dot means no extension
  EXPECT_EQ(GetProcAddress(GetModuleHandleW(u"ole32.dll"), "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(GetModuleHandleW(u"ole32.dll"), reinterpret_cast<LPCSTR>(1)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  int not_a_module = 0;
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(&not_a_module), "CoInitializeEx"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace

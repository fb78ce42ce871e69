// The thread's queue: the posted-message limit, retrieval filters, dispatch
// and thread timers. The host's loop, its broadcasts and the keeper's ticks,
// as the application meets them, are in tests/python/test_callback.py and
// tests/python/test_power.py.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "host/host.h"
#include "recording_window.h"

namespace {

using w32_test::DispatchAll;
using w32_test::MakeRecordingWindow;

TEST(PostMessage, AQueueHoldsAtMostTheLimitOfPostedMessages) {
  HWND window = MakeRecordingWindow();
  constexpr int kLimit = 10000;
  for (int i = 0; i < kLimit; ++i) ASSERT_TRUE(PostMessageW(window, WM_NULL, 0, 0)) << i;
  SetLastError(0);
  EXPECT_FALSE(PostMessageW(window, WM_NULL, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
  EXPECT_EQ(DispatchAll(), kLimit);
  EXPECT_TRUE(PostMessageW(window, WM_NULL, 0, 0));
  DestroyWindow(window);
}

TEST(PeekMessage, RefusesBadArguments) {
  MSG message;
  std::atomic<HWND> foreign{nullptr};
  std::atomic<bool> checked{false};
  std::thread owner([&] {
    foreign = MakeRecordingWindow();
    while (!checked) std::this_thread::yield();
  });
  while (foreign == nullptr) std::this_thread::yield();
  struct Case {
    LPMSG message;
    HWND filter;
    DWORD error;
  };
  const Case cases[] = {
      {nullptr, nullptr, ERROR_INVALID_PARAMETER},
      {&message, reinterpret_cast<HWND>(0x42), ERROR_INVALID_WINDOW_HANDLE},
      {&message, foreign, ERROR_INVALID_WINDOW_HANDLE},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(PeekMessageW(c.message, c.filter, 0, 0, PM_REMOVE));
    EXPECT_EQ(GetLastError(), c.error);
  }
  checked = true;
  owner.join();
  SetLastError(0);
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, 0x00100000));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

TEST(PeekMessage, FiltersByWindowAndMessageRange) {
  HWND first = MakeRecordingWindow();
  HWND second = MakeRecordingWindow();
  PostMessageW(first, WM_APP, 1, 0);
  PostMessageW(second, WM_APP + 5, 2, 0);
  PostMessageW(nullptr, WM_APP + 9, 3, 0);
  struct Case {
    HWND hwnd;
    UINT first;
    UINT last;
    WPARAM expected;  // 0: none
  };
  const Case cases[] = {
      {second, 0, 0, 2},
      {reinterpret_cast<HWND>(-1), 0, 0, 3},
      {nullptr, WM_APP + 5, WM_APP + 9, 2},
      {nullptr, WM_APP + 6, WM_APP + 8, 0},
      {nullptr, 0, 0, 1},
  };
  for (const Case& c : cases) {
    MSG message{};
    const BOOL found = PeekMessageW(&message, c.hwnd, c.first, c.last, PM_NOREMOVE);
    EXPECT_EQ(found != FALSE, c.expected != 0);
    if (found) {
      EXPECT_EQ(message.wParam, c.expected);
    }
  }
  EXPECT_EQ(DispatchAll(), 3);  // nothing was taken by PM_NOREMOVE
  DestroyWindow(first);
  DestroyWindow(second);
}

TEST(DispatchMessage, ReachesOnlyWindowsOfTheCallingThread) {
  HWND window = MakeRecordingWindow();
  MSG message{window, WM_APP + 1, 1, 0, 0, {0, 0}};
  EXPECT_EQ(DispatchMessageW(&message), 2);
  LRESULT result = -1;
  DWORD error = 0;
  std::thread other([&] {
    result = DispatchMessageW(&message);
    error = GetLastError();
  });
  other.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_WINDOW_OF_OTHER_THREAD));
  MSG thread_message{nullptr, WM_APP, 0, 0, 0, {0, 0}};
  EXPECT_EQ(DispatchMessageW(&thread_message), 0);
  DestroyWindow(window);
}

std::vector<UINT_PTR> ticks;

void CALLBACK OnTick(HWND, UINT message, UINT_PTR id, DWORD) {
  EXPECT_EQ(message, static_cast<UINT>(WM_TIMER));
  ticks.push_back(id);
}

TEST(ThreadTimer, ATickOfAKilledTimerIsNotDispatched) {
  ticks.clear();
  const UINT_PTR id = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, OnTick);
  MSG message{};
  while (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) w32::host::WaitForMessages(INFINITE);
  ASSERT_EQ(message.message, static_cast<UINT>(WM_TIMER));
  EXPECT_TRUE(KillTimer(nullptr, id));
  DispatchMessageW(&message);
  EXPECT_TRUE(ticks.empty());
  SetLastError(0);
  EXPECT_FALSE(KillTimer(nullptr, id));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Nor is a forged tick naming a routine no timer has.
  MSG forged{nullptr, WM_TIMER, id, reinterpret_cast<LPARAM>(&OnTick), 0, {0, 0}};
  DispatchMessageW(&forged);
  EXPECT_TRUE(ticks.empty());
}

TEST(ThreadTimer, BelongsToItsThreadOnly) {
  ticks.clear();
  std::atomic<UINT_PTR> id{0};
  std::atomic<bool> checked{false};
  std::thread other([&] {
    id = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, OnTick);
    while (!checked) std::this_thread::yield();
    KillTimer(nullptr, id);
  });
  while (id == 0) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the other thread's timer is due
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_FALSE(KillTimer(nullptr, id));
  checked = true;
  other.join();
  EXPECT_TRUE(ticks.empty());
}

TEST(SetTimer, WindowTimersAndReplacingByIdAreNotSupported) {
  HWND window = w32_test::MakeRecordingWindow();
  const UINT_PTR id = SetTimer(nullptr, 0, 100000, OnTick);
  ASSERT_NE(id, 0u);
  SetLastError(0);
  EXPECT_EQ(SetTimer(window, 5, USER_TIMER_MINIMUM, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  SetLastError(0);
  EXPECT_EQ(SetTimer(nullptr, id, USER_TIMER_MINIMUM, OnTick), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  SetLastError(0);
  EXPECT_FALSE(KillTimer(window, 5));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_TRUE(KillTimer(nullptr, id));
  DestroyWindow(window);
}

}  // namespace

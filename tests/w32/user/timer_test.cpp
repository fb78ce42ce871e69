// Thread timers. Ticks made and dispatched only while the creating
// thread pumps, as the module's keeper meets them, are in tests/python/test_power.py.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "host/host.h"
#include "recording_window.h"

namespace {

std::vector<std::pair<UINT_PTR, std::thread::id>> ticks;

void CALLBACK OnTick(HWND, UINT message, UINT_PTR id, DWORD) {
  EXPECT_EQ(message, static_cast<UINT>(WM_TIMER));
  ticks.emplace_back(id, std::this_thread::get_id());
}

TEST(ThreadTimer, ATickOfAKilledTimerIsNotDispatched) {
  ticks.clear();
  const UINT_PTR id = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, OnTick);
  MSG message = w32_test::NextMessage();
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

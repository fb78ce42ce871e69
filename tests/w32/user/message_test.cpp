// The posted-message limit, retrieval filters and dispatch. The host's loop
// and its broadcasts, as the application meets them, are in
// tests/python/test_callback.py and tests/python/test_power.py.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

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

}  // namespace

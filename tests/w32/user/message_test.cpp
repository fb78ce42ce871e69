// Posted and sent messages across threads, retrieval filters and broadcasts.
// The host's message loop as the application runs it is in
// tests/python/test_callback_loop.py.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "host/host.h"
#include "recording_window.h"

namespace {

using w32_test::DispatchAll;
using w32_test::MakeRecordingWindow;
using w32_test::MakeWindow;
using w32_test::RegisterPlainClass;
using w32_test::Recorder;

std::vector<WPARAM> AppParameters(HWND window) {
  std::vector<WPARAM> values;
  for (const auto& r : Recorder::Instance().For(window)) {
    if (r.message == WM_APP) values.push_back(r.wparam);
  }
  return values;
}

// A window made by a thread of its own, which dispatches what comes until the helper ends.
class OtherThreadWindow {
 public:
  explicit OtherThreadWindow(const WCHAR* klass = w32_test::RecordingClass())
      : thread_([this, klass] {
          window_ = MakeWindow(klass);
          while (!done_) {
            if (w32::host::WaitForMessages(INFINITE) == w32::host::WaitResult::kReady) w32::host::DispatchQueued(false);
          }
          DestroyWindow(window_);
        }) {
    while (window_ == nullptr) std::this_thread::yield();
  }
  ~OtherThreadWindow() {
    done_ = true;
    PostMessageW(window_, WM_NULL, 0, 0);
    thread_.join();
  }
  HWND window() const { return window_; }

 private:
  std::atomic<bool> done_{false};
  std::atomic<HWND> window_{nullptr};
  std::thread thread_;
};

TEST(PostMessage, NothingQueuedForADestroyedWindowIsDeliveredAndNothingMoreReachesIt) {
  HWND window = MakeRecordingWindow();
  ASSERT_TRUE(PostMessageW(window, WM_APP, 1, 0));
  DestroyWindow(window);
  EXPECT_EQ(DispatchAll(), 0);
  EXPECT_TRUE(AppParameters(window).empty());
  SetLastError(0);
  EXPECT_FALSE(PostMessageW(window, WM_APP, 2, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  SetLastError(0);
  EXPECT_EQ(SendMessageW(window, WM_APP, 3, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_TRUE(AppParameters(window).empty());
}

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

TEST(SendMessage, ToAnotherThreadWaitsUntilThatThreadRetrievesMessages) {
  HWND window = MakeRecordingWindow();
  std::atomic<bool> answered{false};
  LRESULT answer = 0;
  std::thread sender([&] {
    answer = SendMessageW(window, WM_APP + 1, 41, 0);
    answered = true;
    PostMessageW(window, WM_NULL, 0, 0);  // the wait ends for posted messages only
  });
  while (!answered) {
    if (w32::host::WaitForMessages(INFINITE) == w32::host::WaitResult::kReady) w32::host::DispatchQueued(false);
  }
  sender.join();
  EXPECT_EQ(answer, 42);
  const auto received = Recorder::Instance().For(window);
  ASSERT_FALSE(received.empty());
  const auto sent = std::find_if(received.begin(), received.end(),
                                 [](const w32_test::Received& r) { return r.message == WM_APP + 1; });
  ASSERT_NE(sent, received.end());
  EXPECT_EQ(sent->thread, std::this_thread::get_id());
  DestroyWindow(window);
}

// A window whose procedure sends to another thread's window while it handles
// a message sent from that thread: both threads wait on each other's sends.
HWND partner = nullptr;

LRESULT CALLBACK ForwardingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP + 2) return SendMessageW(partner, WM_APP + 1, wparam, 0) * 10;
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

TEST(SendMessage, SendsBetweenTwoWaitingThreadsDoNotDeadlock) {
  ASSERT_NE(RegisterPlainClass(u"Forwarding Window", ForwardingProc), 0);
  partner = MakeRecordingWindow();
  {
    OtherThreadWindow forwarder(u"Forwarding Window");
    // This thread waits for the forwarder, which waits for this thread's window.
    EXPECT_EQ(SendMessageW(forwarder.window(), WM_APP + 2, 4, 0), 50);
  }
  DestroyWindow(partner);
}

TEST(SendMessage, ASenderIsReleasedWhenTheOwningThreadEndsWithoutAnswering) {
  std::atomic<HWND> window{nullptr};
  std::thread owner([&] {
    window = MakeRecordingWindow();
    w32::host::WaitForMessages(INFINITE);  // the sent message has arrived; the thread ends
  });
  while (window == nullptr) std::this_thread::yield();
  std::thread sender([&] { EXPECT_EQ(SendMessageW(window, WM_APP + 1, 1, 0), 0); });
  owner.join();
  sender.join();
  for (const auto& r : Recorder::Instance().For(window)) EXPECT_NE(r.message, static_cast<UINT>(WM_APP + 1));
}

TEST(PeekMessage, RefusesBadArguments) {
  MSG message;
  OtherThreadWindow foreign;
  struct Case {
    LPMSG message;
    HWND filter;
    DWORD error;
  };
  const Case cases[] = {
      {nullptr, nullptr, ERROR_INVALID_PARAMETER},
      {&message, reinterpret_cast<HWND>(0x42), ERROR_INVALID_WINDOW_HANDLE},
      {&message, foreign.window(), ERROR_INVALID_WINDOW_HANDLE},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(PeekMessageW(c.message, c.filter, 0, 0, PM_REMOVE));
    EXPECT_EQ(GetLastError(), c.error);
  }
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

TEST(HostLoop, ABroadcastReachesTheTopLevelWindowsOfEveryThread) {
  HWND mine = MakeRecordingWindow();
  HWND message_only = CreateWindowExW(0, w32_test::RecordingClass(), nullptr, 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
  ASSERT_NE(message_only, nullptr);
  OtherThreadWindow theirs;
  const std::vector<LRESULT> answers = w32::host::Broadcast(WM_APP + 1, 9, 0);
  EXPECT_EQ(std::count(answers.begin(), answers.end(), 10), 2);
  EXPECT_EQ(Recorder::Instance().For(theirs.window()).back().message, static_cast<UINT>(WM_APP + 1));
  EXPECT_EQ(Recorder::Instance().For(mine).back().message, static_cast<UINT>(WM_APP + 1));
  EXPECT_NE(Recorder::Instance().For(message_only).back().message, static_cast<UINT>(WM_APP + 1));
  DestroyWindow(message_only);
  DestroyWindow(mine);
}

// What the late window saw: the record a broadcast pointed to, and the
// wparam of one that pointed to nothing (as a power event does).
std::atomic<int> late_record_seen{0};
std::atomic<WPARAM> late_plain_seen{0};

LRESULT CALLBACK RecordReadingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP + 2 && lparam != 0) late_record_seen = *reinterpret_cast<const int*>(lparam);
  if (message == WM_APP + 2 && lparam == 0) late_plain_seen = wparam;
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// The sender's record dies when the broadcast returns; a window that answers
// only later must not find a message that points to it, but still gets one
// that points to nothing.
TEST(HostLoop, ABroadcastThatGivesUpOnAWindowLeavesNoMessagePointingAtTheSender) {
  ASSERT_NE(RegisterPlainClass(u"Record Reading Window", RecordReadingProc), 0);
  std::atomic<HWND> window{nullptr};
  std::atomic<bool> broadcast_over{false};
  std::thread late([&] {
    window = MakeWindow(u"Record Reading Window");
    while (!broadcast_over) std::this_thread::yield();
    DispatchAll();
    DestroyWindow(window);
  });
  while (window == nullptr) std::this_thread::yield();
  auto record = std::make_unique<int>(7);
  EXPECT_TRUE(w32::host::Broadcast(WM_APP + 2, 0, reinterpret_cast<LPARAM>(record.get())).empty());
  *record = -1;  // the sender moves on and reuses its memory
  EXPECT_TRUE(w32::host::Broadcast(WM_APP + 2, 9, 0).empty());
  broadcast_over = true;
  late.join();
  EXPECT_EQ(late_record_seen, 0);
  EXPECT_EQ(late_plain_seen, 9u);
}

}  // namespace

#include <poll.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "host/host.h"
#include "user/window_table.h"

namespace w32::user {
namespace {

// How long a broadcast waits for one window's thread: the platform's
// threshold for a thread that does not answer.
constexpr auto kBroadcastWait = std::chrono::seconds(5);

// The filter of a GetMessage or PeekMessage call; false when it names a
// window that is not the calling thread's.
bool MakeFilter(HWND hwnd, UINT first, UINT last, MessageFilter* filter) {
  if (hwnd != nullptr && hwnd != reinterpret_cast<HWND>(-1)) {
    const std::shared_ptr<Window> window = LookupWindow(hwnd);
    if (window == nullptr || !window->queue->IsCallerThread()) return false;
  }
  *filter = MessageFilter{hwnd, first, last};
  return true;
}

Clock::time_point DeadlineAfter(DWORD timeout_ms) {
  if (timeout_ms == INFINITE) return Clock::time_point::max();
  return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

}  // namespace

bool SendToWindow(const std::shared_ptr<Window>& window, UINT message, WPARAM wparam, LPARAM lparam,
                  Clock::time_point deadline, LRESULT* result, std::shared_ptr<const void> payload) {
  if (window->queue->IsCallerThread()) {
    if (window->destroyed) {  // written only by this thread
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    *result = window->proc(window->handle, message, wparam, lparam);
    return true;
  }
  const std::shared_ptr<ThreadQueue> self = ThreadQueue::Current();
  auto sent = std::make_shared<SentMessage>(SentMessage{window->handle, message, wparam, lparam, self});
  sent->payload = std::move(payload);
  if (!window->queue->Send(sent, window.get())) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (self->WaitForReply(*sent, true, deadline, result)) return true;
  // The message stays queued for a late dispatch, as the platform's does:
  // only broadcasts have a deadline, and what they point to, if anything,
  // the message owns.
  SetLastError(ERROR_TIMEOUT);
  return false;
}

std::vector<LRESULT> BroadcastRecord(UINT message, WPARAM wparam, const void* record, size_t size) {
  std::vector<LRESULT> answers;
  for (const auto& window : TopLevelWindows()) {
    std::shared_ptr<void> copy(std::malloc(size), &std::free);
    if (copy == nullptr) continue;
    std::memcpy(copy.get(), record, size);
    const auto lparam = reinterpret_cast<LPARAM>(copy.get());
    LRESULT answer = 0;
    if (SendToWindow(window, message, wparam, lparam, Clock::now() + kBroadcastWait, &answer, std::move(copy))) {
      answers.push_back(answer);
    }
  }
  return answers;
}

}  // namespace w32::user

using w32::user::ThreadQueue;
using w32::user::Window;

// PostMessageW: to the queue of the window's thread, from any thread, in
// order; a null window posts to the calling thread. A queue holds at most
// 10000 posted messages.
BOOL WINAPI PostMessageW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  const DWORD time = w32::user::TickNow();
  DWORD error = ERROR_SUCCESS;
  if (hwnd == nullptr) {
    error = ThreadQueue::Current()->Post(MSG{nullptr, message, wparam, lparam, time, POINT{0, 0}}, nullptr);
  } else if (const std::shared_ptr<Window> window = w32::user::LookupWindow(hwnd)) {
    error = window->queue->Post(MSG{hwnd, message, wparam, lparam, time, POINT{0, 0}}, window.get());
  } else {
    error = ERROR_INVALID_WINDOW_HANDLE;
  }
  if (error == ERROR_SUCCESS) return TRUE;
  SetLastError(error);
  return FALSE;
}

// PeekMessageW: takes (or looks at) the first message the filter takes, without waiting.
BOOL WINAPI PeekMessageW(LPMSG message, HWND hwnd, UINT first, UINT last, UINT remove) {
  w32::user::MessageFilter filter;
  if (message == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if ((remove & ~static_cast<UINT>(PM_REMOVE | PM_NOYIELD)) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);  // the PM_QS_ classes of messages are not modelled
    return FALSE;
  }
  if (!w32::user::MakeFilter(hwnd, first, last, &filter)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return ThreadQueue::Current()->Retrieve(filter, (remove & PM_REMOVE) != 0, message);
}

// DispatchMessageW: calls the procedure of a window of the calling thread, or
// the TIMERPROC of a WM_TIMER, only while that timer still exists.
LRESULT WINAPI DispatchMessageW(const MSG* message) {
  if (message == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (message->message == WM_TIMER && message->lParam != 0 && message->hwnd == nullptr) {
    const auto proc = reinterpret_cast<TIMERPROC>(message->lParam);
    const std::shared_ptr<ThreadQueue> queue = ThreadQueue::Current();
    if (!queue->HasTimer(message->wParam, proc)) return 0;
    proc(message->hwnd, WM_TIMER, message->wParam, w32::user::TickNow());
    return 0;
  }
  if (message->hwnd == nullptr) return 0;  // a thread message has no procedure
  const std::shared_ptr<Window> window = w32::user::LookupWindow(message->hwnd);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (!window->queue->IsCallerThread()) {
    SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
    return 0;
  }
  return window->proc(message->hwnd, message->message, message->wParam, message->lParam);
}

// PostQuitMessage: the calling thread's queue yields WM_QUIT once nothing
// posted before it remains.
VOID WINAPI PostQuitMessage(int code) { ThreadQueue::Current()->PostQuit(code); }

namespace w32::host {

// The wait is poll() on the queue's descriptors, so a signal ends it; without
// descriptors, the queue's condition variable.
WaitResult WaitForMessages(DWORD timeout_ms) {
  const std::shared_ptr<user::ThreadQueue> queue = user::ThreadQueue::Current();
  const user::Clock::time_point deadline = user::DeadlineAfter(timeout_ms);
  if (queue->fd() >= 0) {
    pollfd ready[2] = {{queue->message_fd(), POLLIN, 0}, {queue->timer_fd(), POLLIN, 0}};
    const int wait = timeout_ms == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(timeout_ms, INT_MAX));
    const int count = poll(ready, 2, wait);
    if (count > 0) return WaitResult::kReady;
    if (count == 0) return WaitResult::kTimeout;
    if (errno == EINTR) return WaitResult::kInterrupted;
  }
  return queue->WaitForMessage(deadline) ? WaitResult::kReady : WaitResult::kTimeout;
}

Dispatched DispatchQueued(bool keep_quit) {
  const std::shared_ptr<user::ThreadQueue> queue = user::ThreadQueue::Current();
  Dispatched done;
  size_t budget = queue->Pending();
  queue->RunSentMessages();
  MSG message;
  while (budget > 0 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    --budget;
    if (message.message == WM_QUIT) {
      done.quit = true;
      done.quit_code = static_cast<int>(message.wParam);
      if (keep_quit) queue->PostQuit(done.quit_code);
      break;
    }
    DispatchMessageW(&message);
    ++done.count;
  }
  return done;
}

int QueueFd() { return user::ThreadQueue::Current()->fd(); }

std::vector<LRESULT> BroadcastRecord(UINT message, WPARAM wparam, const void* record, size_t size) {
  return user::BroadcastRecord(message, wparam, record, size);
}

std::vector<LRESULT> Broadcast(UINT message, WPARAM wparam) {
  std::vector<LRESULT> answers;
  for (const auto& window : user::TopLevelWindows()) {
    LRESULT answer = 0;
    if (user::SendToWindow(window, message, wparam, 0, user::Clock::now() + user::kBroadcastWait, &answer)) {
      answers.push_back(answer);
    }
  }
  return answers;
}

}  // namespace w32::host

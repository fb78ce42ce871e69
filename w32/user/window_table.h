#pragma once
// The process's windows and window classes.
#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "user/thread_queue.h"

namespace w32::user {

struct WindowClass {
  WNDPROC proc;
};

// By name, ASCII case ignored, as the platform compares class names.
std::shared_ptr<const WindowClass> FindClass(LPCWSTR name);

struct Window {
  HWND handle = nullptr;
  WNDPROC proc = nullptr;
  std::shared_ptr<ThreadQueue> queue;  // of the thread that created the window
  std::atomic<LONG_PTR> style{0};
  std::atomic<LONG_PTR> ex_style{0};
  std::atomic<LONG_PTR> user_data{0};
  bool message_only = false;  // made under HWND_MESSAGE: no broadcast reaches it
  bool destroying = false;    // the owning thread's only
  bool destroyed = false;   // guarded by the queue
};

// Handles count up and are never reused, so a stale handle reaches no newer window.
HWND InsertWindow(std::shared_ptr<Window> window);
std::shared_ptr<Window> LookupWindow(HWND handle);
void RemoveWindow(HWND handle);
// The top-level windows, in creation order: every window but the message-only ones.
std::vector<std::shared_ptr<Window>> TopLevelWindows();
// The thread of the queue has ended: its windows go without messages.
void RemoveWindowsOf(const ThreadQueue* queue);

// A message to a window: a direct call on the window's own thread, otherwise
// queued for that thread and waited for until `deadline`. False (with the last
// error set) when the window is gone, or when the deadline passed before its
// thread took the message, which then stays queued: a call with a deadline
// passes a null lparam, or a payload that lparam points to, which goes with
// the message.
bool SendToWindow(const std::shared_ptr<Window>& window, UINT message, WPARAM wparam, LPARAM lparam,
                  Clock::time_point deadline, LRESULT* result, std::shared_ptr<const void> payload = nullptr);

// Sends to every top-level window, each with its own copy of the `size`
// bytes at `record` as lparam; a window whose thread does not answer within
// the platform's 5 seconds is skipped. The answers, in creation order.
std::vector<LRESULT> BroadcastRecord(UINT message, WPARAM wparam, const void* record, size_t size);

}  // namespace w32::user

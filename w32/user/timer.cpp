#include <windows.h>

#include "user/window_table.h"

// SetTimer: a timer of the queue of the window's thread, or without a window
// of the calling thread; WM_TIMER is made when the thread retrieves messages
// and nothing else is queued, and its TIMERPROC runs during dispatch.
UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  if (hwnd == nullptr) return w32::user::ThreadQueue::Current()->SetTimer(nullptr, id, elapse, proc);
  const std::shared_ptr<w32::user::Window> window = w32::user::LookupWindow(hwnd);
  const UINT_PTR made = window == nullptr ? 0 : window->queue->SetTimer(window.get(), id, elapse, proc);
  if (made == 0) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return made;
}

// KillTimer: removes the timer; a tick already retrieved is no longer dispatched.
BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
  std::shared_ptr<w32::user::ThreadQueue> queue;
  if (hwnd == nullptr) {
    queue = w32::user::ThreadQueue::Current();
  } else if (const std::shared_ptr<w32::user::Window> window = w32::user::LookupWindow(hwnd)) {
    queue = window->queue;
  } else {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!queue->KillTimer(hwnd, id)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

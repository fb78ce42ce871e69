#include <windows.h>

#include "user/window_table.h"

// SetTimer: a new timer of the calling thread's queue; WM_TIMER is made when
// the thread retrieves messages and nothing else is queued, and its TIMERPROC
// runs during dispatch. Window timers and replacing a timer by its id are not
// supported.
UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  if (hwnd != nullptr || id != 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  return w32::user::ThreadQueue::Current()->SetTimer(elapse, proc);
}

// KillTimer: removes a timer of the calling thread; a tick already retrieved
// is no longer dispatched.
BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
  if (hwnd != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (!w32::user::ThreadQueue::Current()->KillTimer(id)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

#pragma once
// Keeps the system from suspending while locked: its hidden top-level window
// answers the system's suspend query. It calls no Python.
#include <windows.h>

#include "callback/py_callback_wnd.h"

namespace device {

class SuspendBlocker : public PyCallbackWnd {
 public:
  // Locked from the start.
  SuspendBlocker();

  void Lock() { locked_ = true; }
  void UnLock() { locked_ = false; }

  // WM_POWERBROADCAST: PBT_APMQUERYSUSPEND is refused while locked and
  // granted otherwise; every power broadcast is noted in the debugger output.
  LRESULT WndProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  bool locked_;
};

}  // namespace device

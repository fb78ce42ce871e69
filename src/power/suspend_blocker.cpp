#include "power/suspend_blocker.h"

namespace device {

SuspendBlocker::SuspendBlocker() : locked_(true) {}

LRESULT SuspendBlocker::WndProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_POWERBROADCAST) return PyCallbackWnd::WndProc(message, wparam, lparam);
  // These lines go to the debugger whether or not tracing is on.
  OutputDebugStringW(u"Get WM_POWERBROADCAST\n");
  if (wparam != PBT_APMQUERYSUSPEND) return PyCallbackWnd::WndProc(message, wparam, lparam);
  if (!locked_) return TRUE;
  OutputDebugStringW(u"Block Suspend.\n");
  return BROADCAST_QUERY_DENY;
}

}  // namespace device

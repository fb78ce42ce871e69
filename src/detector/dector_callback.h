#pragma once
// Turns volume arrivals and removals, broadcast to every top-level window as
// WM_DEVICECHANGE, into calls of the Python callable with three str values:
// ("DISC_CHANGE" or "DRIVE_CHANGE", "ARRIVE" or "REMOVE", drive letter).
#include <windows.h>

#include "callback/py_callback_wnd.h"

namespace device {

class DectorCallback : public PyCallbackWnd {
 public:
  // For DBT_DEVICEARRIVAL and DBT_DEVICEREMOVECOMPLETE, lParam must point to a
  // real broadcast record (null is taken as no record). Network volumes make
  // no call. Every message also gets the default processing.
  LRESULT WndProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  friend class Detector;  // detaches the one it owns with itself
};

}  // namespace device

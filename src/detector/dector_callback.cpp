#include "detector/dector_callback.h"

#include <dbt.h>

namespace device {

LRESULT DectorCallback::WndProc(UINT message, WPARAM wparam, LPARAM lparam) {
  // The default goes first: the callable may destroy this object, after
  // which nothing of it may be touched.
  const LRESULT result = PyCallbackWnd::WndProc(message, wparam, lparam);
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lparam);
  if (message != WM_DEVICECHANGE || (wparam != DBT_DEVICEARRIVAL && wparam != DBT_DEVICEREMOVECOMPLETE) ||
      header == nullptr || header->dbch_devicetype != DBT_DEVTYP_VOLUME) {
    return result;
  }
  const auto* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(header);
  if ((volume->dbcv_flags & DBTF_NET) != 0) return result;
  const char* what = (volume->dbcv_flags & DBTF_MEDIA) != 0 ? "DISC_CHANGE" : "DRIVE_CHANGE";
  const char* direction = wparam == DBT_DEVICEARRIVAL ? "ARRIVE" : "REMOVE";
  // The lowest drive of the mask; none of A: to Z: gives the character after 'Z'.
  int bit = 0;
  while (bit < 26 && (volume->dbcv_unitmask & (1u << bit)) == 0) ++bit;
  const char letter[2] = {static_cast<char>('A' + bit), 0};
  Call("sss", what, direction, letter);
  return result;
}

}  // namespace device

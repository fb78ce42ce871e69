#include <windows.h>

#include <atomic>

#include "user/system_parameters.h"

namespace w32::user {
namespace {

// Kept for the process; nothing is written to a user profile.
std::atomic<bool> block_send_input_resets{false};

}  // namespace

bool SimulatedInputResetsIdle() { return !block_send_input_resets; }

}  // namespace w32::user

// SystemParametersInfoW: the parameters this system keeps, in process memory.
// SPI_SETBLOCKSENDINPUTRESETS takes its value in uiParam.
BOOL WINAPI SystemParametersInfoW(UINT action, UINT ui_param, PVOID pv_param, UINT) {
  switch (action) {
    case SPI_GETBLOCKSENDINPUTRESETS:
      if (pv_param == nullptr) break;
      *static_cast<BOOL*>(pv_param) = w32::user::block_send_input_resets ? TRUE : FALSE;
      return TRUE;
    case SPI_SETBLOCKSENDINPUTRESETS:
      w32::user::block_send_input_resets = ui_param != 0;
      return TRUE;
    default:
      break;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

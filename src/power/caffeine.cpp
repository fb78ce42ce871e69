#include "power/caffeine.h"

namespace device {
namespace {

constexpr UINT kInterval = 10000;  // ms

// The keeper most recently made; only its timer sends input. Cleared when it
// ends, so a tick can never reach a destroyed keeper.
Caffeine* current_keeper = nullptr;

void SendActivity() {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = MOUSEEVENTF_MOVE;  // no movement: it only counts as user activity
  SendInput(1, &input, sizeof input);
}

}  // namespace

Caffeine::Caffeine() : timer_id_(0) {
  current_keeper = this;
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
  UINT no_value = 0;  // simulated input resets the screen-saver timer
  SystemParametersInfoW(SPI_SETBLOCKSENDINPUTRESETS, FALSE, &no_value, 0);
  timer_id_ = SetTimer(nullptr, 0, kInterval, &Caffeine::OnTimer);
}

// The requirements are withdrawn for the thread, whichever keeper asked.
Caffeine::~Caffeine() {
  if (current_keeper == this) current_keeper = nullptr;
  if (timer_id_ != 0) {
    KillTimer(nullptr, timer_id_);
    timer_id_ = 0;
  }
  SetThreadExecutionState(ES_CONTINUOUS);
}

void CALLBACK Caffeine::OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  if (current_keeper != nullptr && id == current_keeper->timer_id_) SendActivity();
}

}  // namespace device

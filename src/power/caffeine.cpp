#include "power/caffeine.h"

#include <atomic>

namespace device {
namespace {

constexpr UINT kInterval = 10000;  // ms

// The keeper most recently made, named by its timer (timer ids are unique in
// the process); only its ticks send input. Cleared when it ends or is
// detached, so a tick never reaches a destroyed keeper. Keepers of several
// threads share it, hence atomic.
std::atomic<UINT_PTR> current_keeper_timer{0};

void SendActivity() {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = MOUSEEVENTF_MOVE;  // no movement: it only counts as user activity
  SendInput(1, &input, sizeof input);
}

}  // namespace

Caffeine::Caffeine() : timer_id_(0) {
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
  UINT no_value = 0;  // simulated input resets the screen-saver timer
  SystemParametersInfoW(SPI_SETBLOCKSENDINPUTRESETS, FALSE, &no_value, 0);
  timer_id_ = SetTimer(nullptr, 0, kInterval, &Caffeine::OnTimer);
  current_keeper_timer = timer_id_;
}

void Caffeine::Detach() {
  UINT_PTR mine = timer_id_;
  current_keeper_timer.compare_exchange_strong(mine, 0);
}

// The requirements are withdrawn for the thread, whichever keeper asked.
// Once the owner thread has ended, its timer and its requirements went with it.
Caffeine::~Caffeine() {
  Detach();
  if (!OnOwnerThread()) return;
  if (timer_id_ != 0) {
    KillTimer(nullptr, timer_id_);
    timer_id_ = 0;
  }
  SetThreadExecutionState(ES_CONTINUOUS);
}

void CALLBACK Caffeine::OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  if (id != 0 && id == current_keeper_timer) SendActivity();
}

}  // namespace device

#pragma once
// Keeps the system and the display awake and the screen saver away while it
// lives: an execution-state request, and a tiny simulated mouse movement
// every 10 seconds from a thread timer of the creating thread.
#include <windows.h>

namespace device {

class Caffeine {
 public:
  Caffeine();
  virtual ~Caffeine();
  Caffeine(const Caffeine&) = delete;
  Caffeine& operator=(const Caffeine&) = delete;

 private:
  // Sends the input when the tick is the current keeper's timer.
  static void CALLBACK OnTimer(HWND window, UINT message, UINT_PTR id, DWORD time);

  UINT_PTR timer_id_;  // 0 when no timer runs
};

}  // namespace device

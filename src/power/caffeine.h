#pragma once
// Keeps the system and the display awake and the screen saver away while it
// lives: an execution-state request, and a tiny simulated mouse movement
// every 10 seconds from a thread timer of the creating thread.
#include <windows.h>

#include "callback/thread_bound.h"

namespace device {

// The timer and the execution state are the creating thread's: a deletion
// elsewhere leaves them to that thread (ThreadBound).
class Caffeine : public ThreadBound {
 public:
  Caffeine();
  ~Caffeine() override;

 protected:
  // Gives up the keeper's slot: its ticks send nothing more.
  void Detach() override;

 private:
  // Sends the input when the tick is the current keeper's timer.
  static void CALLBACK OnTimer(HWND window, UINT message, UINT_PTR id, DWORD time);

  UINT_PTR timer_id_;  // 0 when no timer runs
};

}  // namespace device

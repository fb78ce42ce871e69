#pragma once
// Kernel objects a thread can wait on: events, threads and files.
#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "kernel/handle_table.h"

namespace w32 {

// One lock guards the signal state of every waitable object, so a wait on
// several objects sees them at one instant and a wait-all takes them together.
std::mutex& WaitLock();

class Waitable : public KernelObject {
 public:
  // Both are called with WaitLock held.
  virtual bool IsSignalled() const = 0;
  // What a satisfied wait does to the object (an auto-reset event goes down).
  virtual void Satisfy() {}

  // With WaitLock held: every thread waiting on this object looks again.
  void WakeWaiters();
  void AddWaiter(std::condition_variable* waiter);
  void RemoveWaiter(std::condition_variable* waiter);

 private:
  std::vector<std::condition_variable*> waiters_;
};

// Blocks until `done` (read with WaitLock held) is true, looking again each
// time `object` wakes its waiters.
void WaitUntil(Waitable& object, const std::function<bool()>& done);

}  // namespace w32

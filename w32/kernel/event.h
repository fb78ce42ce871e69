#pragma once
#include <memory>

#include "kernel/waitable.h"

namespace w32 {

class Event : public Waitable {
 public:
  Event(bool manual_reset, bool initial_state);

  void Set();
  void Reset();

  bool IsSignalled() const override { return signalled_; }
  void Satisfy() override;

 private:
  const bool manual_reset_;
  bool signalled_;  // guarded by WaitLock
};

}  // namespace w32

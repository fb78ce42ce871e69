#pragma once
#include <memory>

#include "kernel/named_objects.h"
#include "kernel/waitable.h"

namespace w32 {

class Event : public Waitable {
 public:
  Event(bool manual_reset, bool initial_state, std::unique_ptr<NamedObjectEntry> name);

  void Set();
  void Reset();

  bool IsSignalled() const override { return signalled_; }
  void Satisfy() override;

 private:
  const bool manual_reset_;
  bool signalled_;  // guarded by WaitLock
  std::unique_ptr<NamedObjectEntry> name_;
};

}  // namespace w32

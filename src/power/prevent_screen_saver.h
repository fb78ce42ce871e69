#pragma once
// The Python-visible face of Caffeine: prevention from creation to deletion.
#include "power/caffeine.h"

namespace device {

class PreventScreenSaver : private Caffeine {
 public:
  PreventScreenSaver() = default;
  ~PreventScreenSaver() override = default;

  using Caffeine::thread_bound;
};

}  // namespace device

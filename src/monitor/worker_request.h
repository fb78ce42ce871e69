#pragma once
// A request from the Python side to a MonitorFolder worker; it lives on the
// caller's stack for the one exchange.
#include <string>

namespace device {

struct WorkerRequest {
  enum Code : int { kExit = 0, kAdd = 1, kRemove = 2 };
  int code;
  std::u16string path;  // as Python gave it; empty for kExit
};

}  // namespace device

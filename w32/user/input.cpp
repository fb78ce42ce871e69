#include <windows.h>

#include <deque>
#include <mutex>

#include "host/host.h"
#include "kernel/session_bus.h"
#include "user/system_parameters.h"

namespace w32::user {
namespace {

// What SendInput was given, for the host; bounded, as nobody may take it.
struct InputLog {
  std::mutex lock;
  std::deque<INPUT> records;
};

constexpr size_t kMaxKept = 10000;

InputLog& Log() {
  static InputLog* log = new InputLog;
  return *log;
}

}  // namespace
}  // namespace w32::user

// SendInput: no input device is driven here. The records are kept for the
// host, and unless SPI_SETBLOCKSENDINPUTRESETS blocks it, the input counts as
// user activity for the desktop's screen saver (over the session bus).
UINT WINAPI SendInput(UINT count, LPINPUT inputs, int size) {
  if (size != static_cast<int>(sizeof(INPUT)) || (count > 0 && inputs == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  for (UINT i = 0; i < count; ++i) {
    if (inputs[i].type > INPUT_HARDWARE) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  w32::user::InputLog& log = w32::user::Log();
  {
    std::lock_guard<std::mutex> guard(log.lock);
    for (UINT i = 0; i < count; ++i) {
      if (log.records.size() >= w32::user::kMaxKept) log.records.pop_front();
      log.records.push_back(inputs[i]);
    }
  }
  if (count > 0 && w32::user::SimulatedInputResetsIdle()) w32::SimulateUserActivity();
  return count;
}

namespace w32::host {

std::vector<INPUT> TakeSentInput() {
  user::InputLog& log = user::Log();
  std::lock_guard<std::mutex> guard(log.lock);
  std::vector<INPUT> taken(log.records.begin(), log.records.end());
  log.records.clear();
  return taken;
}

}  // namespace w32::host

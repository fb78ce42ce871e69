#include <pthread.h>
#include <windows.h>

#include <mutex>
#include <set>

#include "host/host.h"
#include "kernel/session_bus.h"

namespace w32 {
namespace {

constexpr EXECUTION_STATE kRequirements = ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED | ES_AWAYMODE_REQUIRED;
constexpr EXECUTION_STATE kKeepsAwake = ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED;

// One thread's request; it ends with the thread, as on the platform.
struct ThreadRequest {
  EXECUTION_STATE state = ES_CONTINUOUS;
};

struct PowerState {
  std::mutex lock;
  std::set<ThreadRequest*> threads;
};

PowerState& Power() {
  static PowerState* power = new PowerState;
  return *power;
}

EXECUTION_STATE HeldLocked(const PowerState& power) {
  EXECUTION_STATE held = 0;
  for (const ThreadRequest* request : power.threads) held |= request->state & kRequirements;
  return held;
}

// The desktop's inhibit follows the requirements: held while any thread keeps
// the system or the display awake. The bus is asked on its own thread.
void FollowRequirementsLocked(PowerState& power) {
  WantScreenSaverInhibited((HeldLocked(power) & kKeepsAwake) != 0);
}

void EndThreadRequest(void* request) {
  PowerState& power = Power();
  std::lock_guard<std::mutex> guard(power.lock);
  power.threads.erase(static_cast<ThreadRequest*>(request));
  delete static_cast<ThreadRequest*>(request);
  FollowRequirementsLocked(power);
}

pthread_key_t RequestKey() {
  static const pthread_key_t key = [] {
    pthread_key_t made;
    pthread_key_create(&made, &EndThreadRequest);
    return made;
  }();
  return key;
}

ThreadRequest& CurrentRequestLocked(PowerState& power) {
  auto* request = static_cast<ThreadRequest*>(pthread_getspecific(RequestKey()));
  if (request == nullptr) {
    request = new ThreadRequest;
    pthread_setspecific(RequestKey(), request);
    power.threads.insert(request);
  }
  return *request;
}

}  // namespace

EXECUTION_STATE host::HeldExecutionState() {
  PowerState& power = Power();
  std::lock_guard<std::mutex> guard(power.lock);
  return HeldLocked(power);
}

}  // namespace w32

// SetThreadExecutionState: the calling thread's continuous requirements are
// kept until changed or the thread ends; while any thread keeps the system or
// the display awake, an inhibit of the desktop's screen saver is held over the
// session bus. Without ES_CONTINUOUS it restarts the idle timers once.
EXECUTION_STATE WINAPI SetThreadExecutionState(EXECUTION_STATE flags) {
  if ((flags & ~(w32::kRequirements | ES_CONTINUOUS)) != 0 ||
      ((flags & ES_AWAYMODE_REQUIRED) != 0 && (flags & ES_CONTINUOUS) == 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  EXECUTION_STATE previous = 0;
  {
    w32::PowerState& power = w32::Power();
    std::lock_guard<std::mutex> guard(power.lock);
    w32::ThreadRequest& request = w32::CurrentRequestLocked(power);
    previous = request.state;
    if ((flags & ES_CONTINUOUS) != 0) {
      request.state = flags;
      w32::FollowRequirementsLocked(power);
    }
  }
  if ((flags & ES_CONTINUOUS) == 0 && (flags & w32::kKeepsAwake) != 0) w32::SimulateUserActivity();
  return previous;
}

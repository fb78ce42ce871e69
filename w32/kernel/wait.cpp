#include <windows.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "kernel/handle_table.h"
#include "kernel/waitable.h"

namespace w32 {

std::mutex& WaitLock() {
  static std::mutex* lock = new std::mutex;  // outlives static destructors that close handles
  return *lock;
}

void Waitable::WakeWaiters() {
  for (std::condition_variable* waiter : waiters_) waiter->notify_one();
}

void Waitable::AddWaiter(std::condition_variable* waiter) { waiters_.push_back(waiter); }

void Waitable::RemoveWaiter(std::condition_variable* waiter) {
  auto it = std::find(waiters_.begin(), waiters_.end(), waiter);
  if (it != waiters_.end()) waiters_.erase(it);
}

void WaitUntil(Waitable& object, const std::function<bool()>& done) {
  std::unique_lock<std::mutex> lock(WaitLock());
  if (done()) return;
  std::condition_variable waiter;
  object.AddWaiter(&waiter);
  waiter.wait(lock, done);
  object.RemoveWaiter(&waiter);
}

namespace {

using Clock = std::chrono::steady_clock;

// The index of the object that satisfied the wait, WAIT_TIMEOUT, with WaitLock held.
DWORD TrySatisfy(const std::vector<std::shared_ptr<Waitable>>& objects) {
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects[i]->IsSignalled()) {
      objects[i]->Satisfy();
      return WAIT_OBJECT_0 + static_cast<DWORD>(i);
    }
  }
  return WAIT_TIMEOUT;
}

DWORD WaitForObjects(const std::vector<std::shared_ptr<Waitable>>& objects, DWORD milliseconds) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock<std::mutex> lock(WaitLock());
  DWORD result = TrySatisfy(objects);
  if (result != WAIT_TIMEOUT || milliseconds == 0) return result;
  std::condition_variable waiter;
  for (const auto& object : objects) object->AddWaiter(&waiter);
  while (result == WAIT_TIMEOUT) {
    if (milliseconds == INFINITE) {
      waiter.wait(lock);
    } else if (waiter.wait_until(lock, deadline) == std::cv_status::timeout) {
      result = TrySatisfy(objects);
      break;
    }
    result = TrySatisfy(objects);
  }
  for (const auto& object : objects) object->RemoveWaiter(&waiter);
  return result;
}

}  // namespace
}  // namespace w32

// WaitForSingleObject: a condition-variable wait on the object's signal state.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

// WaitForMultipleObjects: one condition variable registered with every object;
// any signal wakes the waiter, which looks at all of them under the wait lock.
// Waiting for all of them at once is not supported.
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD milliseconds) {
  if (wait_all) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<w32::Waitable>> objects;
  objects.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    std::shared_ptr<w32::Waitable> object = w32::LookupHandleAs<w32::Waitable>(handles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(object));
  }
  return w32::WaitForObjects(objects, milliseconds);
}

#include "kernel/event.h"

#include "kernel/handle_table.h"

namespace w32 {

Event::Event(bool manual_reset, bool initial_state) : manual_reset_(manual_reset), signalled_(initial_state) {}

void Event::Set() {
  std::lock_guard<std::mutex> guard(WaitLock());
  signalled_ = true;
  WakeWaiters();
}

void Event::Reset() {
  std::lock_guard<std::mutex> guard(WaitLock());
  signalled_ = false;
}

void Event::Satisfy() {
  if (!manual_reset_) signalled_ = false;
}

namespace {

std::shared_ptr<Event> LookupEvent(HANDLE handle) {
  std::shared_ptr<Event> event = LookupHandleAs<Event>(handle);
  if (!event) SetLastError(ERROR_INVALID_HANDLE);
  return event;
}

}  // namespace
}  // namespace w32

// CreateEventW: an unnamed event object in the handle table; named events are
// not supported.
HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCWSTR name) {
  if (name != nullptr && *name != 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  HANDLE handle = w32::InsertHandle(std::make_shared<w32::Event>(manual_reset, initial_state));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

// SetEvent: signals the event and wakes its waiters.
BOOL WINAPI SetEvent(HANDLE handle) {
  std::shared_ptr<w32::Event> event = w32::LookupEvent(handle);
  if (!event) return FALSE;
  event->Set();
  return TRUE;
}

// ResetEvent: clears the event's signal.
BOOL WINAPI ResetEvent(HANDLE handle) {
  std::shared_ptr<w32::Event> event = w32::LookupEvent(handle);
  if (!event) return FALSE;
  event->Reset();
  return TRUE;
}

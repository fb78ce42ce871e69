#include "kernel/event.h"

#include <iterator>
#include <map>
#include <string>

namespace w32 {

Event::Event(bool manual_reset, bool initial_state, std::unique_ptr<NamedObjectEntry> name)
    : manual_reset_(manual_reset), signalled_(initial_state), name_(std::move(name)) {}

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

// Named events of this process, so that opening a name twice reaches one event.
// Other processes see only that the name exists: signalling a named event
// across processes is not modelled, as nothing here needs it.
struct NamedEvents {
  std::mutex lock;
  std::map<std::u16string, std::weak_ptr<Event>> events;
};

NamedEvents& TheNamedEvents() {
  static NamedEvents* events = new NamedEvents;
  return *events;
}

std::shared_ptr<Event> LookupEvent(HANDLE handle) {
  std::shared_ptr<Event> event = LookupHandleAs<Event>(handle);
  if (!event) SetLastError(ERROR_INVALID_HANDLE);
  return event;
}

}  // namespace
}  // namespace w32

// CreateEventW: an event object in the handle table; a name also takes a place
// in the machine's named-object namespace.
HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCWSTR name) {
  if (name == nullptr || *name == 0) {
    HANDLE handle = w32::InsertHandle(std::make_shared<w32::Event>(manual_reset, initial_state, nullptr));
    SetLastError(ERROR_SUCCESS);
    return handle;
  }
  w32::NamedEvents& named = w32::TheNamedEvents();
  std::lock_guard<std::mutex> guard(named.lock);
  const std::u16string key(name);
  auto found = named.events.find(key);
  if (found != named.events.end()) {
    if (std::shared_ptr<w32::Event> existing = found->second.lock()) {
      HANDLE handle = w32::InsertHandle(existing);
      SetLastError(ERROR_ALREADY_EXISTS);
      return handle;
    }
  }
  std::unique_ptr<w32::NamedObjectEntry> entry = w32::CreateNamedObject(key, "Event");
  if (!entry) return nullptr;
  for (auto it = named.events.begin(); it != named.events.end();) {
    it = it->second.expired() ? named.events.erase(it) : std::next(it);
  }
  const bool created = entry->created();
  auto event = std::make_shared<w32::Event>(manual_reset, initial_state, std::move(entry));
  named.events[key] = event;
  HANDLE handle = w32::InsertHandle(event);
  SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
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

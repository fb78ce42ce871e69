// The process's windows by handle: the table that windows, messages and
// thread queues all look windows up in.
#include "user/window_table.h"

#include <algorithm>

#include "support/handle_map.h"

namespace w32::user {
namespace {

// Ordered by handle, which is creation order; values clear of HWND_BROADCAST and the small specials.
HandleMap<Window>& Windows() {
  static auto* windows = new HandleMap<Window>(0x10002, 2);
  return *windows;
}

}  // namespace

HWND InsertWindow(std::shared_ptr<Window> window) {
  const ULONG_PTR value = Windows().Insert(std::move(window), [](Window& named, ULONG_PTR handle) {
    named.handle = reinterpret_cast<HWND>(handle);
  });
  return reinterpret_cast<HWND>(value);
}

std::shared_ptr<Window> LookupWindow(HWND handle) { return Windows().Lookup(reinterpret_cast<ULONG_PTR>(handle)); }

void RemoveWindow(HWND handle) { Windows().Remove(reinterpret_cast<ULONG_PTR>(handle)); }

std::vector<std::shared_ptr<Window>> TopLevelWindows() {
  std::vector<std::shared_ptr<Window>> windows = Windows().All();
  windows.erase(std::remove_if(windows.begin(), windows.end(), [](const auto& window) { return window->message_only; }),
                windows.end());
  return windows;
}

void RemoveWindowsOf(const ThreadQueue* queue) {
  Windows().RemoveIf([queue](const Window& window) { return window.queue.get() == queue; });
}

}  // namespace w32::user

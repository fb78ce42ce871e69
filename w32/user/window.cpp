#include <windows.h>

#include "user/device_events.h"
#include "user/power_events.h"
#include "user/window_table.h"

namespace w32::user {
namespace {

LRESULT CallProc(Window& window, UINT message, WPARAM wparam, LPARAM lparam) {
  return window.proc(window.handle, message, wparam, lparam);
}

// The style as the platform keeps it for a top-level window: it clips its
// siblings, and an overlapped one (not a pop-up) always has a caption.
DWORD TopLevelStyle(DWORD style) {
  style |= WS_CLIPSIBLINGS;
  if ((style & WS_POPUP) == 0) style |= WS_CAPTION;
  return style;
}

// Styles are 32-bit values; the pointer-sized slots hold them sign-extended.
LONG_PTR StyleValue(DWORD style) { return static_cast<LONG>(style); }

// The end of a window on its own thread: its destruction messages (only
// WM_NCDESTROY when WM_NCCREATE refused the window), then it is forgotten.
void DestroyOwned(Window& window, bool created) {
  window.destroying = true;
  if (created) CallProc(window, WM_DESTROY, 0, 0);
  CallProc(window, WM_NCDESTROY, 0, 0);
  window.queue->ForgetWindow(window);
  RemoveWindow(window.handle);
}

std::atomic<LONG_PTR>* WindowField(Window& window, int index) {
  switch (index) {
    case GWL_STYLE:
      return &window.style;
    case GWL_EXSTYLE:
      return &window.ex_style;
    case GWLP_USERDATA:
      return &window.user_data;
    default:
      return nullptr;
  }
}

}  // namespace

}  // namespace w32::user

using w32::user::Window;

// CreateWindowExW: a top-level window of the calling thread's queue, or a
// message-only one under HWND_MESSAGE, which no broadcast reaches; the
// creation messages go to its procedure as the platform sends them.
HWND WINAPI CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR window_name, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  if (parent != nullptr && parent != HWND_MESSAGE) {
    SetLastError(ERROR_NOT_SUPPORTED);  // child and message-only windows are not modelled
    return nullptr;
  }
  if ((style & WS_CHILD) != 0) {
    SetLastError(ERROR_TLW_WITH_WSCHILD);
    return nullptr;
  }
  const std::shared_ptr<const w32::user::WindowClass> klass = w32::user::FindClass(class_name);
  if (klass == nullptr) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  auto window = std::make_shared<Window>();
  window->proc = klass->proc;
  window->message_only = parent == HWND_MESSAGE;
  window->queue = w32::user::ThreadQueue::Current();
  const DWORD full_style = w32::user::TopLevelStyle(style);
  window->style = w32::user::StyleValue(full_style);
  window->ex_style = w32::user::StyleValue(ex_style);
  const HWND handle = w32::user::InsertWindow(window);
  if (!window->message_only) {  // top-level windows receive the system's power and device changes
    w32::user::StartPowerEvents();
    w32::user::StartDeviceWatch();
  }

  CREATESTRUCTW create{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(full_style),
                       window_name, class_name, ex_style};
  MINMAXINFO limits{};
  w32::user::CallProc(*window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
  if (window->destroying) return nullptr;
  if (!w32::user::CallProc(*window, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
    if (!window->destroying) w32::user::DestroyOwned(*window, false);
    return nullptr;
  }
  RECT client{x, y, x + width, y + height};
  w32::user::CallProc(*window, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&client));
  if (window->destroying) return nullptr;
  if (w32::user::CallProc(*window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(handle);
    return nullptr;
  }
  if (window->destroying) return nullptr;
  w32::user::CallProc(*window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
  if (window->destroying) return nullptr;
  w32::user::CallProc(*window, WM_MOVE, 0, MAKELPARAM(x, y));
  return window->destroying ? nullptr : handle;
}

// DestroyWindow: only the creating thread may; WM_DESTROY and WM_NCDESTROY go
// to the procedure, then whatever is queued for the window is dropped.
BOOL WINAPI DestroyWindow(HWND handle) {
  const std::shared_ptr<Window> window = w32::user::LookupWindow(handle);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!window->queue->IsCallerThread()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (window->destroying) return TRUE;  // called again from its own destruction messages
  w32::user::DestroyOwned(*window, true);
  return TRUE;
}

namespace w32::user {
namespace {

// The window and its field at `index`; a null field with the last error set
// when the window or the index does not exist.
std::pair<std::shared_ptr<Window>, std::atomic<LONG_PTR>*> FieldOfWindow(HWND handle, int index) {
  std::shared_ptr<Window> window = LookupWindow(handle);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return {nullptr, nullptr};
  }
  std::atomic<LONG_PTR>* field = WindowField(*window, index);
  if (field == nullptr) SetLastError(ERROR_INVALID_INDEX);
  return {std::move(window), field};
}

}  // namespace
}  // namespace w32::user

// GetWindowLongPtrW: the style, extended style or user data of the window.
LONG_PTR WINAPI GetWindowLongPtrW(HWND handle, int index) {
  const auto [window, field] = w32::user::FieldOfWindow(handle, index);
  return field != nullptr ? field->load() : 0;
}

// SetWindowLongPtrW: sets one of them and returns the previous value; a style
// change is announced to the window with WM_STYLECHANGING and WM_STYLECHANGED.
// As on the platform, success leaves the last error alone.
LONG_PTR WINAPI SetWindowLongPtrW(HWND handle, int index, LONG_PTR value) {
  const auto [window, field] = w32::user::FieldOfWindow(handle, index);
  if (field == nullptr) return 0;
  if (index != GWL_STYLE && index != GWL_EXSTYLE) return field->exchange(value);
  STYLESTRUCT styles{static_cast<DWORD>(field->load()), static_cast<DWORD>(value)};
  const auto forever = w32::user::Clock::time_point::max();
  LRESULT ignored = 0;
  w32::user::SendToWindow(window, WM_STYLECHANGING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&styles),
                          forever, &ignored);
  const LONG_PTR previous = field->exchange(w32::user::StyleValue(styles.styleNew));
  w32::user::SendToWindow(window, WM_STYLECHANGED, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&styles),
                          forever, &ignored);
  return previous;
}

// DefWindowProcW: the default answers; device and power queries are granted.
LRESULT WINAPI DefWindowProcW(HWND handle, UINT message, WPARAM, LPARAM) {
  if (w32::user::LookupWindow(handle) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (message) {
    case WM_NCCREATE:
    case WM_DEVICECHANGE:
    case WM_POWERBROADCAST:
      return TRUE;
    default:
      return 0;
  }
}

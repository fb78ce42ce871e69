#include "callback/py_callback_wnd.h"

namespace device {
namespace {

constexpr WCHAR kClassName[] = u"Callback Window";

}  // namespace

PyCallbackWnd::PyCallbackWnd() : marker_(kMarker), window_(nullptr) {
  WNDCLASSEXW klass{};
  klass.cbSize = sizeof klass;
  klass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  klass.lpfnWndProc = CallbackWndProc;
  klass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  klass.lpszClassName = kClassName;
  RegisterClassExW(&klass);  // after the first object this fails: the class exists, which is all we need

  // A top-level window, not a message-only one: broadcasts reach only those.
  // Until the user data names this object, its messages get the default.
  window_ = CreateWindowExW(0, kClassName, kClassName, WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 10, 10, nullptr,
                            nullptr, nullptr, nullptr);
  SetWindowLongPtrW(window_, GWL_STYLE, GetWindowLongPtrW(window_, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_CAPTION));
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

// The window is unrouted before it is destroyed, so its destruction messages,
// and anything that still reaches it, get the default.
PyCallbackWnd::~PyCallbackWnd() {
  SetCallback(nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  marker_ = 0;
  DestroyWindow(window_);
}

void PyCallbackWnd::Detach() {
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  SetCallback(nullptr);
}

LRESULT PyCallbackWnd::WndProc(UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window_, message, wparam, lparam);
}

LRESULT CALLBACK CallbackWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* object = reinterpret_cast<PyCallbackWnd*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (object != nullptr && object->marker_ == PyCallbackWnd::kMarker) return object->WndProc(message, wparam, lparam);
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace device

#pragma once
// A PyCallback with a hidden top-level window on the thread that makes it:
// the window's messages (posted by other threads, broadcast by the system)
// reach the virtual WndProc on that thread whenever it dispatches messages.
#include <windows.h>

#include "callback/py_callback.h"
#include "callback/thread_bound.h"

namespace device {

class PyCallbackWnd : public PyCallback, public ThreadBound {
 public:
  PyCallbackWnd();
  ~PyCallbackWnd() override;

  // Derived classes handle their messages and pass the rest here: the
  // default window procedure. A WndProc that calls Python must not touch the
  // object after Call: the callable may have destroyed it.
  virtual LRESULT WndProc(UINT message, WPARAM wparam, LPARAM lparam);

  HWND window() const { return window_; }

 protected:
  // The window routes nothing more to this object, and the callable is dropped.
  void Detach() override;

 private:
  friend LRESULT CALLBACK CallbackWndProc(HWND, UINT, WPARAM, LPARAM);

  static constexpr DWORD kMarker = 0x12345678;

  DWORD marker_;  // kMarker from construction until destruction begins
  HWND window_;
};

// The procedure of the class "Callback Window": routes to the object named by
// the window's user data while that object lives.
LRESULT CALLBACK CallbackWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace device

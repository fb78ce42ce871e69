#pragma once
// A window class whose procedure records what it receives, for the tests.
#include <windows.h>

#include <mutex>
#include <vector>

namespace w32_test {

struct Received {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

// What every recording window received, from every thread.
inline std::mutex received_lock;
inline std::vector<Received> received;

inline std::vector<Received> ReceivedBy(HWND hwnd) {
  std::lock_guard<std::mutex> guard(received_lock);
  std::vector<Received> mine;
  for (const Received& r : received) {
    if (r.hwnd == hwnd) mine.push_back(r);
  }
  return mine;
}

inline std::vector<UINT> MessagesOf(HWND hwnd) {
  std::vector<UINT> messages;
  for (const Received& r : ReceivedBy(hwnd)) messages.push_back(r.message);
  return messages;
}

// Records every message and answers like the default procedure, except that
// WM_APP + 1 answers its wParam plus one.
inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  {
    std::lock_guard<std::mutex> guard(received_lock);
    received.push_back({hwnd, message, wparam, lparam});
  }
  if (message == WM_APP + 1) return static_cast<LRESULT>(wparam + 1);
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// Registers a class with nothing but its name and procedure.
inline ATOM RegisterPlainClass(const WCHAR* name, WNDPROC procedure) {
  WNDCLASSEXW klass{};
  klass.cbSize = sizeof klass;
  klass.lpfnWndProc = procedure;
  klass.lpszClassName = name;
  return RegisterClassExW(&klass);
}

// A top-level window of the class, of the plainest kind.
inline HWND MakeWindow(const WCHAR* klass) {
  return CreateWindowExW(0, klass, nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
}

inline const WCHAR* RecordingClass() {
  static const WCHAR* const name = [] {
    RegisterPlainClass(u"Recording Window", RecordingProc);
    return u"Recording Window";
  }();
  return name;
}

inline HWND MakeRecordingWindow() { return MakeWindow(RecordingClass()); }

// Dispatches what the calling thread's queue holds now.
inline int DispatchAll() {
  int count = 0;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageW(&message);
    ++count;
  }
  return count;
}

}  // namespace w32_test

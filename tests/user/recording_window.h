#pragma once
// A window class whose procedure records what it receives, for the tests.
#include <windows.h>

#include <mutex>
#include <thread>
#include <vector>

namespace w32_test {

struct Received {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  std::thread::id thread;
};

class Recorder {
 public:
  static Recorder& Instance() {
    static Recorder recorder;
    return recorder;
  }
  void Add(const Received& received) {
    std::lock_guard<std::mutex> guard(lock_);
    received_.push_back(received);
  }
  std::vector<Received> For(HWND hwnd) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Received> mine;
    for (const Received& r : received_) {
      if (r.hwnd == hwnd) mine.push_back(r);
    }
    return mine;
  }
  std::vector<UINT> MessagesFor(HWND hwnd) {
    std::vector<UINT> messages;
    for (const Received& r : For(hwnd)) messages.push_back(r.message);
    return messages;
  }

 private:
  std::mutex lock_;
  std::vector<Received> received_;
};

// Records every message and answers like the default procedure, except that
// WM_APP + 1 answers its wParam plus one.
inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Recorder::Instance().Add({hwnd, message, wparam, lparam, std::this_thread::get_id()});
  if (message == WM_APP + 1) return static_cast<LRESULT>(wparam + 1);
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

inline const WCHAR* RecordingClass() {
  static const WCHAR* const name = [] {
    WNDCLASSEXW klass{};
    klass.cbSize = sizeof klass;
    klass.lpfnWndProc = RecordingProc;
    klass.lpszClassName = u"Recording Window";
    RegisterClassExW(&klass);
    return klass.lpszClassName;
  }();
  return name;
}

inline HWND MakeRecordingWindow() {
  return CreateWindowExW(0, RecordingClass(), u"test", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

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

#pragma once
// A worker thread with a one-slot request/reply handshake: a caller stores a
// parameter and raises the request event, the worker answers and raises the
// reply event. The access lock makes each exchange whole.
#include <windows.h>

namespace device {

class CAMThread {
 public:
  // AskWorker's answer when no worker runs.
  static constexpr DWORD kNoWorker = static_cast<DWORD>(E_FAIL);

  CAMThread();
  virtual ~CAMThread();
  CAMThread(const CAMThread&) = delete;
  CAMThread& operator=(const CAMThread&) = delete;

  // Launches the worker; false when one runs already or none could be made.
  bool StartThread();
  // Caller side: hands the parameter to the worker and waits for its answer.
  DWORD AskWorker(UINT_PTR parameter);
  // Waits for the worker to end and lets its handle go; only one caller does.
  void JoinThread();

 protected:
  // The worker's work; its result is the thread's exit code.
  virtual DWORD ThreadBody() = 0;

  // Worker side. A request stays announced until it is answered.
  bool PeekRequest();
  UINT_PTR TakeRequest();
  void Answer(DWORD value);
  HANDLE request_event() const { return request_event_; }

 private:
  static DWORD WINAPI ThreadEntry(LPVOID object);

  HANDLE request_event_;  // manual reset: down only once answered
  HANDLE reply_event_;    // auto reset
  UINT_PTR request_parameter_ = 0;
  DWORD reply_value_ = 0;
  HANDLE thread_ = nullptr;
  CRITICAL_SECTION access_lock_;
};

}  // namespace device

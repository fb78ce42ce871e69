#include "monitor/cam_thread.h"

#include <objbase.h>

namespace device {

CAMThread::CAMThread()
    : request_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      reply_event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  InitializeCriticalSection(&access_lock_);
}

CAMThread::~CAMThread() {
  JoinThread();
  DeleteCriticalSection(&access_lock_);
  CloseHandle(request_event_);
  CloseHandle(reply_event_);
}

bool CAMThread::StartThread() {
  EnterCriticalSection(&access_lock_);
  bool started = false;
  if (thread_ == nullptr) {
    thread_ = CreateThread(nullptr, 0, ThreadEntry, this, 0, nullptr);
    started = thread_ != nullptr;
  }
  LeaveCriticalSection(&access_lock_);
  return started;
}

DWORD CAMThread::AskWorker(UINT_PTR parameter) {
  EnterCriticalSection(&access_lock_);
  if (thread_ == nullptr) {
    LeaveCriticalSection(&access_lock_);
    return kNoWorker;
  }
  request_parameter_ = parameter;
  SetEvent(request_event_);
  WaitForSingleObject(reply_event_, INFINITE);
  const DWORD reply = reply_value_;
  LeaveCriticalSection(&access_lock_);
  return reply;
}

void CAMThread::JoinThread() {
  HANDLE thread = InterlockedExchangePointer(&thread_, nullptr);
  if (thread == nullptr) return;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

bool CAMThread::PeekRequest() { return WaitForSingleObject(request_event_, 0) == WAIT_OBJECT_0; }

UINT_PTR CAMThread::TakeRequest() {
  WaitForSingleObject(request_event_, INFINITE);
  return request_parameter_;
}

// The request event goes down before the caller is released, so the caller's
// next request cannot be mistaken for this one.
void CAMThread::Answer(DWORD value) {
  reply_value_ = value;
  ResetEvent(request_event_);
  SetEvent(reply_event_);
}

DWORD WINAPI CAMThread::ThreadEntry(LPVOID object) {
  auto* self = static_cast<CAMThread*>(object);
  using CoInitializeExProc = HRESULT(WINAPI*)(LPVOID, DWORD);
  HRESULT initialised = E_FAIL;
  // Only a COM library loaded already is used: nothing is loaded here.
  if (HMODULE ole32 = GetModuleHandleW(u"ole32.dll")) {
    // Through void (*)(), the one function type that converts to any other without complaint.
    auto found = reinterpret_cast<void (*)()>(GetProcAddress(ole32, "CoInitializeEx"));
    if (auto initialise = reinterpret_cast<CoInitializeExProc>(found)) {
      initialised = initialise(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    }
  }
  const DWORD result = self->ThreadBody();
  if (SUCCEEDED(initialised)) CoUninitialize();
  return result;
}

}  // namespace device

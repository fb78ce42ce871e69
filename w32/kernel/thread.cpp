#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <future>
#include <memory>

#include "kernel/handle_table.h"
#include "kernel/waitable.h"

namespace w32 {
namespace {

// A thread object: signalled once its start routine has returned.
class Thread : public Waitable {
 public:
  bool IsSignalled() const override { return finished_; }

  // With WaitLock held.
  void Finish() {
    finished_ = true;
    WakeWaiters();
  }

 private:
  bool finished_ = false;  // guarded by WaitLock
};

struct ThreadStart {
  std::shared_ptr<Thread> thread;
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
  std::promise<DWORD> id;
};

void* RunThread(void* argument) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
  start->id.set_value(GetCurrentThreadId());
  start->routine(start->parameter);
  std::lock_guard<std::mutex> guard(WaitLock());
  start->thread->Finish();
  return nullptr;
}

}  // namespace
}  // namespace w32

// GetCurrentThreadId: the kernel's thread id.
DWORD WINAPI GetCurrentThreadId(void) {
  static thread_local const DWORD id = static_cast<DWORD>(::syscall(SYS_gettid));
  return id;
}

// CreateThread: a detached pthread that shares a thread object with the handle;
// the object is signalled when the start routine returns. Threads start at once
// (CREATE_SUSPENDED is not supported).
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stack_size, LPTHREAD_START_ROUTINE routine,
                           LPVOID parameter, DWORD flags, LPDWORD thread_id) {
  if (routine == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if ((flags & ~static_cast<DWORD>(STACK_SIZE_PARAM_IS_A_RESERVATION)) != 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stack_size != 0) {
    const SIZE_T minimum = PTHREAD_STACK_MIN;
    pthread_attr_setstacksize(&attributes, stack_size < minimum ? minimum : stack_size);
  }
  auto thread = std::make_shared<w32::Thread>();
  auto start = std::make_unique<w32::ThreadStart>(w32::ThreadStart{thread, routine, parameter, {}});
  std::future<DWORD> id = start->id.get_future();
  pthread_t native;
  const int error = pthread_create(&native, &attributes, w32::RunThread, start.get());
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    SetLastError(error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  start.release();  // the thread owns it now
  HANDLE handle = w32::InsertHandle(thread);
  const DWORD new_id = id.get();
  if (thread_id != nullptr) *thread_id = new_id;
  return handle;
}

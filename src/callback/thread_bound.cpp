#include "callback/thread_bound.h"

#include <pthread.h>
#include <windows.h>

#include <mutex>
#include <vector>

namespace device {

// One per thread that made a thread-bound object: the objects other threads
// deleted, waiting for it, and a message-only window that wakes it for them.
struct OwnerThread {
  std::mutex lock;
  bool ended = false;                // guarded by lock
  std::vector<ThreadBound*> doomed;  // guarded by lock
  HWND wake = nullptr;               // the owner's own; no broadcast reaches it
};

namespace {

constexpr WCHAR kWakeClass[] = u"Thread Teardown Window";
constexpr UINT kTearDown = WM_APP;  // to the wake window: delete what waits

void TearDown(OwnerThread& owner) {
  std::vector<ThreadBound*> doomed;
  {
    std::lock_guard<std::mutex> guard(owner.lock);
    doomed.swap(owner.doomed);
  }
  for (ThreadBound* object : doomed) delete object;
}

void EndOwner(void* holder);

pthread_key_t OwnerKey() {
  static const pthread_key_t key = [] {
    pthread_key_t made;
    pthread_key_create(&made, &EndOwner);
    return made;
  }();
  return key;
}

OwnerThread* CurrentOwnerIfAny() {
  auto* holder = static_cast<std::shared_ptr<OwnerThread>*>(pthread_getspecific(OwnerKey()));
  return holder == nullptr ? nullptr : holder->get();
}

LRESULT CALLBACK WakeProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kTearDown) return DefWindowProcW(window, message, wparam, lparam);
  if (OwnerThread* owner = CurrentOwnerIfAny()) TearDown(*owner);
  return 0;
}

std::shared_ptr<OwnerThread> CurrentOwner() {
  auto* holder = static_cast<std::shared_ptr<OwnerThread>*>(pthread_getspecific(OwnerKey()));
  if (holder != nullptr) return *holder;
  WNDCLASSEXW klass{};
  klass.cbSize = sizeof klass;
  klass.lpfnWndProc = WakeProc;
  klass.lpszClassName = kWakeClass;
  RegisterClassExW(&klass);  // fails once the class exists, which is all we need
  auto owner = std::make_shared<OwnerThread>();
  owner->wake = CreateWindowExW(0, kWakeClass, kWakeClass, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  pthread_setspecific(OwnerKey(), new std::shared_ptr<OwnerThread>(owner));
  return owner;
}

// The owner thread ends: what waits for it is deleted now, and later
// deletions are done by the deleting thread.
void EndOwner(void* holder) {
  auto* owner = static_cast<std::shared_ptr<OwnerThread>*>(holder);
  {
    std::lock_guard<std::mutex> guard((*owner)->lock);
    (*owner)->ended = true;
  }
  TearDown(**owner);
  DestroyWindow((*owner)->wake);
  delete owner;
}

}  // namespace

ThreadBound::ThreadBound() : owner_(CurrentOwner()) {}

ThreadBound::~ThreadBound() = default;

bool ThreadBound::OnOwnerThread() const { return CurrentOwnerIfAny() == owner_.get(); }

bool ThreadBound::OwnerLives() const {
  std::lock_guard<std::mutex> guard(owner_->lock);
  return !owner_->ended;
}

void ThreadBound::Delete(ThreadBound* object) {
  const std::shared_ptr<OwnerThread> owner = object->owner_;
  if (object->OnOwnerThread()) {
    delete object;
    return;
  }
  object->Detach();
  {
    std::lock_guard<std::mutex> guard(owner->lock);
    if (!owner->ended) {
      owner->doomed.push_back(object);
      object = nullptr;
    }
  }
  if (object != nullptr) {
    delete object;
    return;
  }
  // A post fails only on a full queue or an ending thread; the object waits
  // in the list either way, for the next wake or for the thread's end.
  PostMessageW(owner->wake, kTearDown, 0, 0);
}

}  // namespace device

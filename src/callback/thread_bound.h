#pragma once
// Objects that belong to the thread that made them: a window, its timers, the
// thread's execution state. This is the one place that says which thread may
// tear them down.
//
// The owner thread deletes at once. Any other thread detaches the object at
// once (it calls no Python and no message reaches it from then on) and hands
// the rest to the owner thread with a posted message, which that thread runs
// the next time it dispatches messages; an owner thread that has ended no
// longer needs it, so the deletion is then done at once.
#include <memory>

namespace device {

struct OwnerThread;

class ThreadBound {
 public:
  // Records the calling thread as the owner.
  ThreadBound();
  virtual ~ThreadBound();
  ThreadBound(const ThreadBound&) = delete;
  ThreadBound& operator=(const ThreadBound&) = delete;

  // delete_X of every thread-bound class, from any thread, with the
  // interpreter lock held. The object may still be in use on its owner
  // thread (a window procedure waiting for the interpreter lock): its memory
  // lives until that thread lets it go.
  static void Delete(ThreadBound* object);

  // The base, also for classes that derive from a thread-bound class privately.
  ThreadBound* thread_bound() { return this; }

 protected:
  // The calling thread is the owner, and has not begun to end.
  bool OnOwnerThread() const;

  // The owner thread has not begun to end. A destructor that finds it so
  // runs on the owner thread: from elsewhere the object is deleted only once
  // the owner has ended.
  bool OwnerLives() const;

  // On the deleting thread, under the interpreter lock: drops the callable
  // and the routing of messages, and what else any thread may stop.
  virtual void Detach() = 0;

 private:
  std::shared_ptr<OwnerThread> owner_;
};

}  // namespace device

#pragma once
// A thread's message queue: posted messages, messages sent by other threads,
// the quit request and the thread's timers. Every window belongs to the queue
// of the thread that created it.
#include <pthread.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace w32::user {

using Clock = std::chrono::steady_clock;

struct Window;
class ThreadQueue;

// Milliseconds of the monotonic clock, as message times carry them.
DWORD TickNow();

// A message another thread sent: its sender waits until `done`.
struct SentMessage {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  std::shared_ptr<ThreadQueue> sender;
  LRESULT result = 0;
  bool done = false;  // guarded by the sender's queue
  // What lparam points to when the message owns it: it lives while either
  // the sender or the receiving queue still holds the message.
  std::shared_ptr<const void> payload = nullptr;
};

// Which messages a GetMessage or PeekMessage call takes.
struct MessageFilter {
  HWND hwnd = nullptr;  // null: every message of the thread; (HWND)-1: thread messages only
  UINT first = 0;       // 0 and 0: every message number
  UINT last = 0;
  bool Matches(HWND window, UINT message) const;
};

class ThreadQueue {
 public:
  ThreadQueue();
  ~ThreadQueue();
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  // The calling thread's queue, made on first use and retired when the thread ends.
  static std::shared_ptr<ThreadQueue> Current();
  // The calling thread's queue, or null when it has made none.
  static ThreadQueue* CurrentIfAny();
  bool IsCallerThread() const { return CurrentIfAny() == this; }

  // From any thread: ERROR_SUCCESS, ERROR_INVALID_WINDOW_HANDLE when the window
  // is destroyed or the thread has ended, ERROR_NOT_ENOUGH_QUOTA when the
  // queue holds the platform's limit of posted messages.
  DWORD Post(const MSG& message, const Window* window);
  // False when the window is destroyed or the thread has ended.
  bool Send(std::shared_ptr<SentMessage> message, const Window* window);
  void PostQuit(int code);

  // On the owning thread: runs what other threads sent, in order.
  void RunSentMessages();
  // On the owning thread: the next message the filter takes, sent messages
  // run first; posted messages, then WM_QUIT, then a due timer.
  bool Retrieve(const MessageFilter& filter, bool remove, MSG* message);
  // Blocks until Retrieve may find any message or the deadline passes.
  // Returns false on the deadline.
  bool WaitForMessage(Clock::time_point deadline);
  // Posted messages, due timers and a quit request: what one dispatch run takes.
  size_t Pending();

  // On the sender's queue: blocks until `sent` has its reply, running messages
  // other threads send to this one meanwhile when `run_sent` is set. False
  // when the deadline passes first.
  bool WaitForReply(const SentMessage& sent, bool run_sent, Clock::time_point deadline, LRESULT* result);
  void Complete(SentMessage& sent, LRESULT result);

  // A new thread timer; its id, 0 once the queue is retired.
  UINT_PTR SetTimer(UINT elapse, TIMERPROC proc);
  bool KillTimer(UINT_PTR id);
  bool HasTimer(UINT_PTR id, TIMERPROC proc);

  // The window is being destroyed: nothing more is queued for it.
  void ForgetWindow(Window& window);

  // Readable while the queue holds messages or a timer is due; -1 when the
  // descriptors could not be made.
  int fd() const { return epoll_fd_; }
  // The two descriptors fd() gathers: readable while messages are queued, and
  // while a timer is due. Polled directly they wake faster than through fd().
  int message_fd() const { return event_fd_; }
  int timer_fd() const { return timer_fd_; }

 private:
  struct Timer {
    UINT_PTR id;
    Clock::duration interval;
    TIMERPROC proc;
    Clock::time_point due;
  };

  static pthread_key_t Key();
  static void Retire(void* holder);
  void RetireQueue();
  bool HasMessageLocked(const MessageFilter& filter, Clock::time_point now);
  Timer* NextTimerLocked(const MessageFilter& filter);
  void SignalLocked();
  void ArmTimerLocked();

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<MSG> posted_;
  std::deque<std::shared_ptr<SentMessage>> sent_;
  std::vector<Timer> timers_;
  bool quit_ = false;
  int quit_code_ = 0;
  bool retired_ = false;
  bool signalled_ = false;
  int event_fd_ = -1;
  int timer_fd_ = -1;
  int epoll_fd_ = -1;
};

}  // namespace w32::user

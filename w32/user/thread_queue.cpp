#include "user/thread_queue.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "user/window_table.h"

namespace w32::user {
namespace {

// The platform's limit of posted messages per queue.
constexpr size_t kMaxPosted = 10000;

// Thread timer ids are unique in the process, so one thread's id never names
// another thread's timer.
std::atomic<UINT_PTR> next_thread_timer{0x7F01};

timespec ToTimespec(Clock::time_point when) {
  const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
  timespec out{};
  out.tv_sec = static_cast<time_t>(since / 1000000000);
  out.tv_nsec = static_cast<long>(since % 1000000000);
  if (out.tv_sec == 0 && out.tv_nsec == 0) out.tv_nsec = 1;  // zero would disarm
  return out;
}

}  // namespace

DWORD TickNow() {
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

bool MessageFilter::Matches(HWND window, UINT message) const {
  if (hwnd == reinterpret_cast<HWND>(-1)) {
    if (window != nullptr) return false;
  } else if (hwnd != nullptr && window != hwnd) {
    return false;
  }
  if (first == 0 && last == 0) return true;
  return message >= first && message <= last;
}

ThreadQueue::ThreadQueue() {
  // The descriptors serve QueueFd and the host's wait; the queue works without them.
  event_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  timer_fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  bool joined = event_fd_ >= 0 && timer_fd_ >= 0 && epoll_fd_ >= 0;
  for (int fd : {event_fd_, timer_fd_}) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    joined = joined && epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event) == 0;
  }
  if (!joined && epoll_fd_ >= 0) {
    close(epoll_fd_);
    epoll_fd_ = -1;
  }
}

ThreadQueue::~ThreadQueue() {
  for (int fd : {epoll_fd_, timer_fd_, event_fd_}) {
    if (fd >= 0) close(fd);
  }
}

// The key's destructor retires the queue when its thread ends.
pthread_key_t ThreadQueue::Key() {
  static const pthread_key_t key = [] {
    pthread_key_t made;
    pthread_key_create(&made, &ThreadQueue::Retire);
    return made;
  }();
  return key;
}

std::shared_ptr<ThreadQueue> ThreadQueue::Current() {
  auto* holder = static_cast<std::shared_ptr<ThreadQueue>*>(pthread_getspecific(Key()));
  if (holder == nullptr) {
    holder = new std::shared_ptr<ThreadQueue>(std::make_shared<ThreadQueue>());
    pthread_setspecific(Key(), holder);
  }
  return *holder;
}

ThreadQueue* ThreadQueue::CurrentIfAny() {
  auto* holder = static_cast<std::shared_ptr<ThreadQueue>*>(pthread_getspecific(Key()));
  return holder == nullptr ? nullptr : holder->get();
}

void ThreadQueue::Retire(void* holder) {
  auto* queue = static_cast<std::shared_ptr<ThreadQueue>*>(holder);
  (*queue)->RetireQueue();
  delete queue;
}

// The thread has ended: senders get 0, its windows and timers go.
void ThreadQueue::RetireQueue() {
  std::deque<std::shared_ptr<SentMessage>> unanswered;
  {
    std::lock_guard<std::mutex> guard(lock_);
    retired_ = true;
    unanswered.swap(sent_);
    posted_.clear();
    timers_.clear();
    quit_ = false;
    SignalLocked();
    ArmTimerLocked();
  }
  for (const auto& sent : unanswered) sent->sender->Complete(*sent, 0);
  RemoveWindowsOf(this);
}

DWORD ThreadQueue::Post(const MSG& message, const Window* window) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (retired_ || (window != nullptr && window->destroyed)) return ERROR_INVALID_WINDOW_HANDLE;
    if (posted_.size() >= kMaxPosted) return ERROR_NOT_ENOUGH_QUOTA;
    posted_.push_back(message);
    SignalLocked();
  }
  changed_.notify_all();
  return ERROR_SUCCESS;
}

bool ThreadQueue::Send(std::shared_ptr<SentMessage> message, const Window* window) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (retired_ || (window != nullptr && window->destroyed)) return false;
    sent_.push_back(std::move(message));
    SignalLocked();
  }
  changed_.notify_all();
  return true;
}

void ThreadQueue::PostQuit(int code) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    quit_ = true;
    quit_code_ = code;
    SignalLocked();
  }
  changed_.notify_all();
}

void ThreadQueue::RunSentMessages() {
  while (true) {
    std::shared_ptr<SentMessage> sent;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (sent_.empty()) return;
      sent = std::move(sent_.front());
      sent_.pop_front();
      SignalLocked();
    }
    LRESULT result = 0;
    const std::shared_ptr<Window> window = LookupWindow(sent->hwnd);
    if (window != nullptr && window->queue.get() == this) {
      result = window->proc(sent->hwnd, sent->message, sent->wparam, sent->lparam);
    }
    sent->sender->Complete(*sent, result);
  }
}

bool ThreadQueue::Retrieve(const MessageFilter& filter, bool remove, MSG* message) {
  RunSentMessages();
  std::lock_guard<std::mutex> guard(lock_);
  for (auto it = posted_.begin(); it != posted_.end(); ++it) {
    if (!filter.Matches(it->hwnd, it->message)) continue;
    *message = *it;
    if (remove) {
      posted_.erase(it);
      SignalLocked();
    }
    return true;
  }
  if (quit_) {  // taken whatever the filter, as the platform does
    *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quit_code_), 0, TickNow(), POINT{0, 0}};
    if (remove) {
      quit_ = false;
      SignalLocked();
    }
    return true;
  }
  Timer* next = NextTimerLocked(filter);
  const Clock::time_point now = Clock::now();
  if (next == nullptr || next->due > now) return false;
  *message = MSG{nullptr, WM_TIMER, next->id, reinterpret_cast<LPARAM>(next->proc), TickNow(), POINT{0, 0}};
  if (remove) {
    // The platform makes one WM_TIMER per tick taken: the next is an interval away.
    next->due = now + next->interval;
    ArmTimerLocked();
  }
  return true;
}

bool ThreadQueue::HasMessageLocked(const MessageFilter& filter, Clock::time_point now) {
  if (!sent_.empty() || quit_) return true;
  for (const MSG& posted : posted_) {
    if (filter.Matches(posted.hwnd, posted.message)) return true;
  }
  const Timer* next = NextTimerLocked(filter);
  return next != nullptr && next->due <= now;
}

bool ThreadQueue::WaitForMessage(Clock::time_point deadline) {
  const MessageFilter filter{};
  std::unique_lock<std::mutex> guard(lock_);
  while (true) {
    const Clock::time_point now = Clock::now();
    if (HasMessageLocked(filter, now)) return true;
    if (now >= deadline) return false;
    const Timer* next = NextTimerLocked(filter);
    const Clock::time_point until = next != nullptr ? std::min(next->due, deadline) : deadline;
    if (until == Clock::time_point::max()) {
      changed_.wait(guard);
    } else {
      changed_.wait_until(guard, until);
    }
  }
}

size_t ThreadQueue::Pending() {
  std::lock_guard<std::mutex> guard(lock_);
  const Clock::time_point now = Clock::now();
  size_t count = posted_.size() + (quit_ ? 1 : 0);
  for (const Timer& timer : timers_) count += timer.due <= now ? 1 : 0;
  return count;
}

bool ThreadQueue::WaitForReply(const SentMessage& sent, bool run_sent, Clock::time_point deadline,
                               LRESULT* result) {
  while (true) {
    if (run_sent) RunSentMessages();
    std::unique_lock<std::mutex> guard(lock_);
    const auto ready = [&] { return sent.done || (run_sent && !sent_.empty()); };
    if (deadline == Clock::time_point::max()) {
      changed_.wait(guard, ready);
    } else if (!changed_.wait_until(guard, deadline, ready)) {
      return false;
    }
    if (sent.done) {
      *result = sent.result;
      return true;
    }
  }
}

void ThreadQueue::Complete(SentMessage& sent, LRESULT result) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    sent.result = result;
    sent.done = true;
  }
  changed_.notify_all();
}

UINT_PTR ThreadQueue::SetTimer(UINT elapse, TIMERPROC proc) {
  const UINT clamped = std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  const Clock::duration interval = std::chrono::milliseconds(clamped);
  const UINT_PTR id = next_thread_timer.fetch_add(1);
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (retired_) return 0;
    timers_.push_back(Timer{id, interval, proc, Clock::now() + interval});
    ArmTimerLocked();
  }
  changed_.notify_all();
  return id;
}

bool ThreadQueue::KillTimer(UINT_PTR id) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& timer) { return timer.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  ArmTimerLocked();
  return true;
}

bool ThreadQueue::HasTimer(UINT_PTR id, TIMERPROC proc) {
  std::lock_guard<std::mutex> guard(lock_);
  return std::any_of(timers_.begin(), timers_.end(),
                     [&](const Timer& timer) { return timer.id == id && timer.proc == proc; });
}

void ThreadQueue::ForgetWindow(Window& window) {
  std::deque<std::shared_ptr<SentMessage>> unanswered;
  {
    std::lock_guard<std::mutex> guard(lock_);
    window.destroyed = true;
    const HWND handle = window.handle;
    posted_.erase(std::remove_if(posted_.begin(), posted_.end(), [&](const MSG& m) { return m.hwnd == handle; }),
                  posted_.end());
    for (auto it = sent_.begin(); it != sent_.end();) {
      if ((*it)->hwnd == handle) {
        unanswered.push_back(std::move(*it));
        it = sent_.erase(it);
      } else {
        ++it;
      }
    }
    SignalLocked();
  }
  for (const auto& sent : unanswered) sent->sender->Complete(*sent, 0);
}

ThreadQueue::Timer* ThreadQueue::NextTimerLocked(const MessageFilter& filter) {
  Timer* next = nullptr;
  for (Timer& timer : timers_) {
    if (!filter.Matches(nullptr, WM_TIMER)) continue;
    if (next == nullptr || timer.due < next->due) next = &timer;
  }
  return next;
}

// The event descriptor is readable exactly while something is queued.
void ThreadQueue::SignalLocked() {
  const bool wanted = !posted_.empty() || !sent_.empty() || quit_;
  if (wanted == signalled_ || event_fd_ < 0) return;
  uint64_t value = 1;
  const ssize_t done = wanted ? write(event_fd_, &value, sizeof value) : read(event_fd_, &value, sizeof value);
  if (done == static_cast<ssize_t>(sizeof value)) signalled_ = wanted;
}

// The timer descriptor expires when the earliest timer is due.
void ThreadQueue::ArmTimerLocked() {
  if (timer_fd_ < 0) return;
  itimerspec when{};
  const Timer* next = NextTimerLocked(MessageFilter{});
  if (next != nullptr) when.it_value = ToTimespec(next->due);
  timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

}  // namespace w32::user

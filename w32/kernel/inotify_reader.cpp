// The reader of the inotify instance. Both the thread and the service read
// with the lock held, so the events keep the kernel's order. The thread wakes
// with the first event, then leaves it a moment to the service, which reads
// at once when it is idle (no hop between threads, no lock taken twice); what
// is still there then, it reads. So it wakes at most every kPause while
// events come, and the kernel's queue is emptied that often while the thread
// gets a processor: 16,384 events in 2 ms is far more than any burst. A burst
// is read in chunks of 64 KiB, which the kernel fills with whole events.
#include "kernel/inotify_reader.h"

#include <limits.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace w32 {
namespace {

constexpr size_t kChunk = 65536;
constexpr size_t kLargestEvent = sizeof(inotify_event) + NAME_MAX + 1;
constexpr auto kPause = std::chrono::milliseconds(2);

}  // namespace

InotifyReader::InotifyReader(size_t limit_bytes)
    : limit_bytes_(limit_bytes),
      ready_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      wake_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      chunk_(std::make_unique<char[]>(kChunk)) {}

void InotifyReader::SetInstance(int fd) {
  std::lock_guard<std::mutex> guard(lock_);
  fd_ = fd;
  ++instance_;
  error_ = 0;
  queue_.clear();  // events of the old instance: their watches are gone
  queued_bytes_ = 0;
  if (!started_) {
    started_ = true;
    std::thread([this] { Run(); }).detach();  // lives as long as the service: the process
  }
  room_.notify_one();
  ::eventfd_write(wake_fd_, 1);  // out of a wait on the old instance
}

// inotify gives whole events, as many as fit: one that leaves room for the
// largest took all there was.
bool InotifyReader::ReadLocked(std::vector<char>* to) {
  const ssize_t read = ::read(fd_, chunk_.get(), kChunk);
  if (read < 0 && errno != EAGAIN && errno != EINTR) error_ = errno;
  if (read <= 0) return false;
  to->insert(to->end(), chunk_.get(), chunk_.get() + read);
  return static_cast<size_t>(read) + kLargestEvent > kChunk;
}

void InotifyReader::ReadAheadLocked() {
  for (bool more = true; more && queued_bytes_ < limit_bytes_;) {
    std::vector<char> chunk;
    more = ReadLocked(&chunk);
    if (chunk.empty()) break;
    queued_bytes_ += chunk.size();
    queue_.push_back(std::move(chunk));
  }
}

void InotifyReader::ClearReadyLocked() {
  if (!ready_) return;
  eventfd_t count = 0;
  ::eventfd_read(ready_fd_, &count);
  ready_ = false;
}

int InotifyReader::Take(std::vector<char>* events, size_t most, bool* caught_up) {
  std::lock_guard<std::mutex> guard(lock_);
  while (!queue_.empty() && events->size() < most) {
    events->insert(events->end(), queue_.front().begin(), queue_.front().end());
    queued_bytes_ -= queue_.front().size();
    queue_.pop_front();
  }
  if (queue_.empty()) ClearReadyLocked();  // else it stays readable, for the next batch
  room_.notify_one();
  *caught_up = false;
  while (queue_.empty() && fd_ >= 0 && error_ == 0 && events->size() < most) {
    if (!ReadLocked(events)) {
      *caught_up = true;
      break;
    }
  }
  return error_;
}

// The thread never ends: after a failure it waits for the service's new instance.
void InotifyReader::Run() {
  for (;;) {
    int fd = -1;
    uint64_t instance = 0;
    {
      std::unique_lock<std::mutex> guard(lock_);
      room_.wait(guard, [this] { return fd_ >= 0 && error_ == 0 && queued_bytes_ < limit_bytes_; });
      fd = fd_;
      instance = instance_;
    }
    pollfd ready[2] = {{fd, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    const int count = ::poll(ready, 2, -1);
    const int poll_error = count < 0 ? errno : 0;
    if (ready[1].revents & POLLIN) {
      eventfd_t woken = 0;
      ::eventfd_read(wake_fd_, &woken);
    }
    if (count > 0 && (ready[0].revents & POLLIN)) std::this_thread::sleep_for(kPause);
    std::lock_guard<std::mutex> guard(lock_);
    // A new instance came meanwhile (perhaps under the same number), or the service saw a failure.
    if (instance != instance_ || error_ != 0) continue;
    if (poll_error != 0) {
      if (poll_error != EINTR) error_ = poll_error;
    } else if (ready[0].revents & POLLNVAL) {
      error_ = EBADF;  // closed under us: the number is not ours any more
    } else if (ready[0].revents & POLLERR) {
      error_ = EIO;
    } else if (ready[0].revents & POLLIN) {
      ReadAheadLocked();
    }
    if ((!queue_.empty() || error_ != 0) && !ready_) {
      ::eventfd_write(ready_fd_, 1);
      ready_ = true;
    }
  }
}

}  // namespace w32

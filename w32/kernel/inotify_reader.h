#pragma once
// The reader of the inotify instance: a thread that does nothing but move
// the kernel's queue of events into a queue in this process, so that the
// kernel's (16,384 events by default) does not overflow while the change
// service is busy or waits for a processor. The service takes what was read
// and reads the rest itself, in the kernel's order.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace w32 {

class InotifyReader {
 public:
  // Past `limit_bytes` of events waiting here the thread stops reading: the
  // kernel's queue fills, and its overflow says that changes were lost.
  explicit InotifyReader(size_t limit_bytes);
  InotifyReader(const InotifyReader&) = delete;
  InotifyReader& operator=(const InotifyReader&) = delete;

  // The instance to read, or -1; the thread starts with the first.
  void SetInstance(int fd);
  // A descriptor that is readable while events wait here.
  int ready_fd() const { return ready_fd_; }
  // Appends about `most` bytes of events to `events`: the oldest read so far,
  // then what the kernel holds now; `*caught_up` tells whether nothing more
  // waits here or in the kernel. The errno of a failed wait or read (EBADF
  // when the descriptor was closed under us), else 0.
  int Take(std::vector<char>* events, size_t most, bool* caught_up);

 private:
  void Run();
  // Reads once from the kernel to the end of `to`; false when the kernel
  // held nothing more (a read that left room for the largest event took all
  // there was) or the read failed (then kept in error_).
  bool ReadLocked(std::vector<char>* to);
  // Takes the signal of ready_fd_, when it has one.
  void ClearReadyLocked();
  // Reads what the kernel holds into the queue, in chunks as read.
  void ReadAheadLocked();

  const size_t limit_bytes_;
  const int ready_fd_;  // an eventfd, counting nothing: readable while queue_ holds events
  const int wake_fd_;   // an eventfd that wakes the thread for a new instance or for room
  std::mutex lock_;
  std::condition_variable room_;  // for the thread: an instance to read, and room for what it reads
  int fd_ = -1;
  uint64_t instance_ = 0;  // counts the instances given: a new one may have the old one's number
  int error_ = 0;  // of the last failed wait or read of fd_
  std::deque<std::vector<char>> queue_;  // whole inotify events, as each read gave them
  size_t queued_bytes_ = 0;
  bool ready_ = false;  // ready_fd_ was written and not read since
  std::unique_ptr<char[]> chunk_;  // what a read gives, before it is appended
  bool started_ = false;
};

}  // namespace w32

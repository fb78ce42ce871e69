#pragma once
// The notices of one MonitorFolder not yet delivered, oldest first. A notice
// waits here, not in the message that announces it, so a full message queue
// loses none: each notice gets one announcing message, posted when the notice
// arrives or, while the window's queue is full, when a delivery makes room.
// Every message takes the oldest notice, so notices arrive once each and in
// order, however late the window's thread dispatches.
//
// Memory is bounded: a pending notice costs its record (sizeof(ChangeNotice),
// 104 bytes here) and 2 bytes per UTF-16 unit of its three texts and their
// terminators; past `limit_bytes` of those, notices are refused, and the
// watch then queues one lost-changes notice instead (PostAlways).
#include <windows.h>

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

#include "monitor/change_notice.h"

namespace device {

class NoticeBacklog {
 public:
  static constexpr size_t kDefaultLimitBytes = size_t{64} << 20;

  explicit NoticeBacklog(size_t limit_bytes = kDefaultLimitBytes) : limit_bytes_(limit_bytes) {}
  NoticeBacklog(const NoticeBacklog&) = delete;
  NoticeBacklog& operator=(const NoticeBacklog&) = delete;

  static size_t Cost(const ChangeNotice& notice);

  // From the worker: keeps the notice and announces it to the window; false,
  // keeping nothing, when it would pass the limit.
  bool Post(HWND window, ChangeNotice notice);
  // The same past the limit, for the one notice that says changes were lost.
  void PostAlways(HWND window, ChangeNotice notice);
  // On the window's thread, for one announcing message: the oldest notice,
  // if any; announces a notice that waited for room in the queue.
  std::optional<ChangeNotice> Take(HWND window);

 private:
  void KeepLocked(HWND window, ChangeNotice notice);
  void AnnounceLocked(HWND window);

  const size_t limit_bytes_;
  std::mutex lock_;
  std::deque<ChangeNotice> notices_;  // guarded by lock_, as the rest
  size_t bytes_ = 0;
  size_t unannounced_ = 0;  // the newest notices, which no message announces yet
};

}  // namespace device

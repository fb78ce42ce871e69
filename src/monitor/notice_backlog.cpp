#include "monitor/notice_backlog.h"

#include <utility>

namespace device {

size_t NoticeBacklog::Cost(const ChangeNotice& notice) {
  const size_t units = notice.folder_path.size() + notice.name.size() + notice.second_name.size() + 3;
  return sizeof(ChangeNotice) + units * sizeof(char16_t);
}

bool NoticeBacklog::Post(HWND window, ChangeNotice notice) {
  std::lock_guard<std::mutex> guard(lock_);
  if (bytes_ + Cost(notice) > limit_bytes_) return false;
  KeepLocked(window, std::move(notice));
  return true;
}

void NoticeBacklog::PostAlways(HWND window, ChangeNotice notice) {
  std::lock_guard<std::mutex> guard(lock_);
  KeepLocked(window, std::move(notice));
}

std::optional<ChangeNotice> NoticeBacklog::Take(HWND window) {
  std::lock_guard<std::mutex> guard(lock_);
  if (notices_.empty()) return std::nullopt;
  ChangeNotice notice = std::move(notices_.front());
  notices_.pop_front();
  bytes_ -= Cost(notice);
  if (unannounced_ > notices_.size()) unannounced_ = notices_.size();
  AnnounceLocked(window);
  return notice;
}

void NoticeBacklog::KeepLocked(HWND window, ChangeNotice notice) {
  bytes_ += Cost(notice);
  notices_.push_back(std::move(notice));
  ++unannounced_;
  AnnounceLocked(window);
}

// The messages carry nothing: each one takes whatever notice is oldest.
void NoticeBacklog::AnnounceLocked(HWND window) {
  while (unannounced_ > 0 && PostMessageW(window, kNoticeMessage, 0, 0)) --unannounced_;
}

}  // namespace device

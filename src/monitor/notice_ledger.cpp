#include "monitor/notice_ledger.h"

namespace device {

NoticeLedger::~NoticeLedger() {
  for (ChangeNotice* notice : held_) delete notice;
}

void NoticeLedger::Post(HWND window, std::unique_ptr<ChangeNotice> notice) {
  ChangeNotice* raw = notice.release();
  {
    std::lock_guard<std::mutex> guard(lock_);
    held_.insert(raw);
  }
  if (PostMessageW(window, kNoticeMessage, reinterpret_cast<WPARAM>(raw), 0)) return;
  // No message carries it: nothing else can take it.
  std::lock_guard<std::mutex> guard(lock_);
  held_.erase(raw);
  delete raw;
}

std::unique_ptr<ChangeNotice> NoticeLedger::Take(WPARAM wparam) {
  auto* notice = reinterpret_cast<ChangeNotice*>(wparam);
  std::lock_guard<std::mutex> guard(lock_);
  if (held_.erase(notice) == 0) return nullptr;
  return std::unique_ptr<ChangeNotice>(notice);
}

}  // namespace device

#pragma once
// The notices posted to a MonitorFolder's window and not yet delivered. A
// notice is delivered only while the ledger holds it; what is left when the
// object ends is freed with the ledger, never delivered to a dead object.
#include <windows.h>

#include <memory>
#include <mutex>
#include <unordered_set>

#include "monitor/change_notice.h"

namespace device {

class NoticeLedger {
 public:
  NoticeLedger() = default;
  ~NoticeLedger();
  NoticeLedger(const NoticeLedger&) = delete;
  NoticeLedger& operator=(const NoticeLedger&) = delete;

  // Posts the notice to the window; when the post fails it is freed at once.
  void Post(HWND window, std::unique_ptr<ChangeNotice> notice);
  // The notice a posted message carries, taken out of the ledger; null when
  // the ledger does not hold it.
  std::unique_ptr<ChangeNotice> Take(WPARAM wparam);

 private:
  std::mutex lock_;
  std::unordered_set<ChangeNotice*> held_;
};

}  // namespace device

// One folder watch on a real folder, where only a unit reaches it: its end
// while a read is pending, and a backlog too small to hold its notices.
#include <gtest/gtest.h>
#include <windows.h>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "../w32/temp_folder.h"
#include "monitor/folder_watch.h"

namespace device {
namespace {

constexpr DWORD kHangGuard = 20000;  // milliseconds

struct Notice {
  std::u16string kind, folder, name, second;
  bool operator==(const Notice& other) const {
    return kind == other.kind && folder == other.folder && name == other.name && second == other.second;
  }
};

std::ostream& operator<<(std::ostream& out, const Notice& notice) {
  auto narrow = [](const std::u16string& text) { return std::string(text.begin(), text.end()); };
  return out << narrow(notice.kind) << "(" << narrow(notice.folder) << ", " << narrow(notice.name) << ", "
             << narrow(notice.second) << ")";
}

void Touch(const std::string& path) { ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644)); }

class FolderWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXW klass{};
    klass.cbSize = sizeof klass;
    klass.lpfnWndProc = DefWindowProcW;
    klass.lpszClassName = u"FolderWatchTest";
    RegisterClassExW(&klass);
    window_ = CreateWindowExW(0, u"FolderWatchTest", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    watch_.reset();
    CloseHandle(event_);
    DestroyWindow(window_);
  }

  // Opens the watch over `backlog` and arms its first read.
  void Start(NoticeBacklog& backlog) {
    watch_ = std::make_unique<FolderWatch>(window_, event_, backlog);
    ASSERT_TRUE(watch_->OpenWatch(path_));
    watch_->ServiceWatch();
  }

  // The notices posted so far, taken as the window procedure takes them.
  std::vector<Notice> TakeNotices(NoticeBacklog& backlog) {
    std::vector<Notice> notices;
    MSG message;
    while (PeekMessageW(&message, window_, kNoticeMessage, kNoticeMessage, PM_REMOVE)) {
      std::optional<ChangeNotice> notice = backlog.Take(window_);
      if (notice) notices.push_back({notice->kind, notice->folder_path, notice->name, notice->second_name});
    }
    return notices;
  }

  // Services the watch as the worker does, for as long as its reads keep finishing.
  void ServiceWhileFinishing() {
    ASSERT_EQ(WaitForSingleObject(event_, kHangGuard), WAIT_OBJECT_0);
    do {
      ResetEvent(event_);
      watch_->ServiceWatch();
    } while (WaitForSingleObject(event_, 200) == WAIT_OBJECT_0);
  }

  TempFolder folder_;
  const std::u16string path_{folder_.path().begin(), folder_.path().end()};
  HWND window_ = nullptr;
  HANDLE event_ = nullptr;
  std::unique_ptr<FolderWatch> watch_;
};

TEST_F(FolderWatchTest, DestroyingAWatchEndsItsReadFirst) {
  NoticeBacklog backlog;
  Start(backlog);
  watch_.reset();  // the buffer goes with the watch: w32 must be done with it
  Touch(folder_ / "after");
  EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_OBJECT_0);  // the cancelled read signalled
  EXPECT_TRUE(TakeNotices(backlog).empty());
}

// Past its limit the backlog keeps, for everything it refused, one notice
// that changes were lost; once it has room again, notices flow as before.
TEST_F(FolderWatchTest, PastItsLimitTheBacklogKeepsOneLostChangesNotice) {
  NoticeBacklog small(2 * NoticeBacklog::Cost(ChangeNotice{kNoticeAdd, path_, u"a", u""}));
  Start(small);
  for (const char* name : {"a", "b", "c", "d", "e"}) Touch(folder_ / name);
  ServiceWhileFinishing();
  std::vector<Notice> notices = TakeNotices(small);
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0], (Notice{u"Add", path_, u"a", u""}));
  EXPECT_EQ(notices[2], (Notice{u"Modify", path_, u"", u""}));
  Touch(folder_ / "f");
  ServiceWhileFinishing();
  notices = TakeNotices(small);
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices[0], (Notice{u"Add", path_, u"f", u""}));
}

}  // namespace
}  // namespace device

// One folder watch on a real folder: its reads, their outcomes and its notices.
#include <gtest/gtest.h>
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

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

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

void Touch(const std::string& path) { ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644)); }

class FolderWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/watch-XXXXXX";
    folder_ = ::mkdtemp(pattern.data());
    WNDCLASSEXW klass{};
    klass.cbSize = sizeof klass;
    klass.lpfnWndProc = DefWindowProcW;
    klass.lpszClassName = u"FolderWatchTest";
    RegisterClassExW(&klass);
    window_ = CreateWindowExW(0, u"FolderWatchTest", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watch_ = std::make_unique<FolderWatch>(window_, event_, backlog_);
  }
  void TearDown() override {
    watch_.reset();
    CloseHandle(event_);
    DestroyWindow(window_);
    std::system(("rm -rf " + folder_).c_str());  // also below the depth a path can name
  }

  // The notices posted so far, taken as the window procedure takes them.
  std::vector<Notice> TakeNotices() { return TakeNotices(backlog_); }
  std::vector<Notice> TakeNotices(NoticeBacklog& backlog) {
    std::vector<Notice> notices;
    MSG message;
    while (PeekMessageW(&message, window_, kNoticeMessage, kNoticeMessage, PM_REMOVE)) {
      std::optional<ChangeNotice> notice = backlog.Take(window_);
      if (notice) notices.push_back({notice->kind, notice->folder_path, notice->name, notice->second_name});
    }
    return notices;
  }

  // Waits for the armed read to finish, then services the watch as the worker does.
  void ServiceWhenFinished() {
    ASSERT_EQ(WaitForSingleObject(event_, kHangGuard), WAIT_OBJECT_0);
    ResetEvent(event_);
    watch_->ServiceWatch();
  }

  std::string folder_;
  HWND window_ = nullptr;
  HANDLE event_ = nullptr;
  NoticeBacklog backlog_;
  std::unique_ptr<FolderWatch> watch_;
};

// A chain of folders deeper than a path may name, made outside the watched
// folder; its name at every level is `kLink`.
const std::string kLink(250, 'd');

void MakeChain(const std::string& parent, int levels) {
  int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < levels && fd >= 0; ++i) {
    ::mkdirat(fd, kLink.c_str(), 0755);
    const int next = ::openat(fd, kLink.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
  }
  if (fd >= 0) ::close(fd);
}

TEST_F(FolderWatchTest, AReadOfZeroBytesGivesOneModifyOfTheFolder) {
  const std::string watched = folder_ + "/w";
  const std::string outside = folder_ + "/outside";
  ::mkdir(watched.c_str(), 0755);
  ::mkdir(outside.c_str(), 0755);
  MakeChain(outside, 20);
  const std::u16string path = Wide(watched);
  ASSERT_TRUE(watch_->OpenWatch(path));
  watch_->ServiceWatch();
  Touch(watched + "/first");
  ServiceWhenFinished();  // decodes "first": the buffer keeps it
  // Below the depth a path can name, folders cannot be watched: changes are lost.
  ASSERT_EQ(::rename((outside + "/" + kLink).c_str(), (watched + "/" + kLink).c_str()), 0);
  const Notice lost{u"Modify", path, u"", u""};
  std::vector<Notice> notices = TakeNotices();
  for (int reads = 0; reads < 10 && (notices.empty() || !(notices.back() == lost)); ++reads) {
    ASSERT_NO_FATAL_FAILURE(ServiceWhenFinished());
    for (const Notice& notice : TakeNotices()) notices.push_back(notice);
  }
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices.front(), (Notice{u"Add", path, u"first", u""}));
  EXPECT_EQ(notices.back(), lost);
  for (size_t i = 1; i < notices.size(); ++i) {
    EXPECT_FALSE(notices[i] == notices[i - 1]) << notices[i];  // the old buffer is not decoded again
  }
}

TEST_F(FolderWatchTest, DestroyingAWatchEndsItsReadFirst) {
  ASSERT_TRUE(watch_->OpenWatch(Wide(folder_)));
  watch_->ServiceWatch();
  watch_.reset();  // the buffer goes with the watch: w32 must be done with it
  Touch(folder_ + "/after");
  EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_OBJECT_0);  // the cancelled read signalled
  EXPECT_TRUE(TakeNotices().empty());
}

// Past its limit the backlog keeps, for everything it refused, one notice
// that changes were lost; once it has room again, notices flow as before.
TEST_F(FolderWatchTest, PastItsLimitTheBacklogKeepsOneLostChangesNotice) {
  NoticeBacklog small(2 * NoticeBacklog::Cost(ChangeNotice{kNoticeAdd, Wide(folder_), u"a", u""}));
  watch_ = std::make_unique<FolderWatch>(window_, event_, small);
  ASSERT_TRUE(watch_->OpenWatch(Wide(folder_)));
  watch_->ServiceWatch();
  for (const char* name : {"a", "b", "c", "d", "e"}) Touch(folder_ + "/" + name);
  ServiceWhenFinished();
  while (WaitForSingleObject(event_, 200) == WAIT_OBJECT_0) {  // the changes may take more than one read
    ResetEvent(event_);
    watch_->ServiceWatch();
  }
  std::vector<Notice> notices = TakeNotices(small);
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0], (Notice{u"Add", Wide(folder_), u"a", u""}));
  EXPECT_EQ(notices[2], (Notice{u"Modify", Wide(folder_), u"", u""}));
  Touch(folder_ + "/f");
  ServiceWhenFinished();
  notices = TakeNotices(small);
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices[0], (Notice{u"Add", Wide(folder_), u"f", u""}));
}

}  // namespace
}  // namespace device

// One folder watch over a backlog too small to hold its notices, which only a
// unit reaches: the module's backlog holds 64 MiB.
#include <gtest/gtest.h>
#include <windows.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../w32/temp_folder.h"
#include "monitor/folder_watch.h"

namespace device {
namespace {

constexpr DWORD kHangGuard = 20000;  // milliseconds

void Touch(const std::string& path) { ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644)); }

// Past its limit the backlog keeps, for everything it refused, one notice
// that changes were lost; once it has room again, notices flow as before.
TEST(FolderWatch, PastItsLimitTheBacklogKeepsOneLostChangesNotice) {
  TempFolder folder;
  const std::u16string path(folder.path().begin(), folder.path().end());
  WNDCLASSEXW klass{};
  klass.cbSize = sizeof klass;
  klass.lpfnWndProc = DefWindowProcW;
  klass.lpszClassName = u"FolderWatchTest";
  RegisterClassExW(&klass);
  const HWND window = CreateWindowExW(0, u"FolderWatchTest", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  NoticeBacklog small(2 * NoticeBacklog::Cost(ChangeNotice{kNoticeAdd, path, u"a", u""}));
  FolderWatch watch(window, event, small);
  ASSERT_TRUE(watch.OpenWatch(path));
  watch.ServiceWatch();
  // Services the watch as the worker does while its reads keep finishing; the
  // names of the notices posted, taken as the window procedure takes them.
  auto serve_and_take = [&] {
    EXPECT_EQ(WaitForSingleObject(event, kHangGuard), WAIT_OBJECT_0);
    do {
      ResetEvent(event);
      watch.ServiceWatch();
    } while (WaitForSingleObject(event, 200) == WAIT_OBJECT_0);
    std::vector<std::u16string> names;
    MSG message;
    while (PeekMessageW(&message, window, kNoticeMessage, kNoticeMessage, PM_REMOVE)) {
      std::optional<ChangeNotice> notice = small.Take(window);
      if (!notice || notice->folder_path != path) return std::vector<std::u16string>{u"a stray message"};
      names.push_back(notice->kind + (u":" + notice->name));
    }
    return names;
  };
  for (const char* name : {"a", "b", "c", "d", "e"}) Touch(folder / name);
  EXPECT_EQ(serve_and_take(), (std::vector<std::u16string>{u"Add:a", u"Add:b", u"Modify:"}));
  Touch(folder / "f");
  EXPECT_EQ(serve_and_take(), (std::vector<std::u16string>{u"Add:f"}));
  watch.CancelRead();
  CloseHandle(event);
  DestroyWindow(window);
}

}  // namespace
}  // namespace device

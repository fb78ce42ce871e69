#include "monitor/folder_watch.h"

#include "common/trace.h"
#include "monitor/change_notice.h"

namespace device {

FolderWatch::FolderWatch(HWND target_window, HANDLE completion_event, NoticeBacklog& backlog)
    : target_window_(target_window), completion_event_(completion_event), backlog_(backlog) {}

FolderWatch::~FolderWatch() {
  CancelRead();
  if (directory_ != nullptr && directory_ != INVALID_HANDLE_VALUE) CloseHandle(directory_);
}

bool FolderWatch::OpenWatch(const std::u16string& path) {
  overlapped_ = OVERLAPPED{};
  overlapped_.hEvent = completion_event_;
  folder_path_ = path;
  directory_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  // Backup semantics open files too: a path that is no folder fails at arming.
  return directory_ != INVALID_HANDLE_VALUE;
}

void FolderWatch::ServiceWatch() {
  if (read_pending_) {
    DWORD bytes = 0;
    if (GetOverlappedResult(directory_, &overlapped_, &bytes, FALSE)) {
      if (bytes == 0) {
        // The platform lost changes and kept none: the application must read
        // the folder again. The old buffer is never decoded a second time.
        halves_ = RenameHalves{};
        PostNotice(kNoticeModify, u"", u"");
      } else {
        DecodeChanges(bytes);
      }
    } else if (GetLastError() == ERROR_IO_INCOMPLETE) {
      return;
    }
    // A read that failed gave nothing; the arming below tells why.
    read_pending_ = false;
  }
  if (ReadDirectoryChangesW(directory_, change_buffer_, kChangeBufferSize, TRUE, kChangeFilter, &bytes_returned_,
                            &overlapped_, nullptr)) {
    read_pending_ = true;
    return;
  }
  const DWORD error = GetLastError();
  TraceA("ReadDirectoryChangesW fail, last error: %d\n", static_cast<int>(error));
  if (error == ERROR_NETNAME_DELETED || error == ERROR_PATH_NOT_FOUND) PostNotice(kNoticeMonitorBreak, folder_path_, u"");
}

void FolderWatch::CancelRead() {
  if (!read_pending_) return;
  CancelIo(directory_);
  // The buffer and the overlapped block are ours again only once the read has
  // finished. The event is shared with other reads, so its signal proves nothing.
  DWORD bytes = 0;
  while (!HasOverlappedIoCompleted(&overlapped_)) GetOverlappedResult(directory_, &overlapped_, &bytes, TRUE);
  read_pending_ = false;
}

void FolderWatch::DecodeChanges(DWORD bytes) {
  const bool decoded = device::DecodeChanges(
      change_buffer_, bytes, halves_,
      [this](const WCHAR* kind, const std::u16string& name, const std::u16string& second_name) {
        PostNotice(kind, name, second_name);
      });
  if (!decoded) TraceA("[Monitor] Windows send mass buffer to AP, damm!!\n");
}

// A notice the full backlog refuses is lost: the application learns it as
// from a read that lost changes, by one (folder, "Modify", "", "").
void FolderWatch::PostNotice(const WCHAR* kind, const std::u16string& name, const std::u16string& second_name) {
  if (backlog_.Post(target_window_, ChangeNotice{kind, folder_path_, name, second_name})) {
    lost_notices_ = false;
    return;
  }
  if (lost_notices_) return;
  lost_notices_ = true;
  backlog_.PostAlways(target_window_, ChangeNotice{kNoticeModify, folder_path_, u"", u""});
}

}  // namespace device

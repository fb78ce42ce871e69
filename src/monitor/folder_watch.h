#pragma once
// One watched folder of a MonitorFolder: its directory handle and the one
// change read kept outstanding on it. Touched by the worker thread only.
#include <windows.h>

#include <string>

#include "monitor/decode_changes.h"
#include "monitor/notice_backlog.h"

namespace device {

// File and folder names, attributes, last write and creation time; not size,
// last access or security.
constexpr DWORD kChangeFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                FILE_NOTIFY_CHANGE_CREATION;
constexpr DWORD kChangeBufferSize = 0x10000;

class FolderWatch {
 public:
  // Notices go to `target_window` through `backlog`; every read of the object
  // signals the one `completion_event`, which the worker owns.
  FolderWatch(HWND target_window, HANDLE completion_event, NoticeBacklog& backlog);
  // Cancels a pending read and waits until the platform has let go of the buffer.
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Opens the folder for change reads; false when it cannot be opened. A file
  // opens too, and its reads fail with ERROR_INVALID_PARAMETER.
  bool OpenWatch(const std::u16string& path);
  // Takes a finished read (decoding it) and arms the next one.
  void ServiceWatch();
  void CancelRead();
  // A read has finished and waits for ServiceWatch.
  bool ReadFinished() const { return read_pending_ && HasOverlappedIoCompleted(&overlapped_); }

 private:
  void DecodeChanges(DWORD bytes);
  void PostNotice(const WCHAR* kind, const std::u16string& name, const std::u16string& second_name);

  std::u16string folder_path_;  // as AddFolder received it
  HWND target_window_;
  alignas(DWORD) BYTE change_buffer_[kChangeBufferSize];
  DWORD bytes_returned_ = 0;  // handed to the read; an overlapped read leaves it alone
  RenameHalves halves_;
  HANDLE completion_event_;
  OVERLAPPED overlapped_{};
  HANDLE directory_ = nullptr;
  bool read_pending_ = false;
  bool lost_notices_ = false;  // the backlog refused a notice since the last one it took
  NoticeBacklog& backlog_;
};

}  // namespace device

// Directory change reads, the API family: ReadDirectoryChangesW over the
// change service (change_service.cpp: the inotify instance and its thread;
// change_watch.cpp: each handle's watch tree; change_records.cpp: the records
// and the overlapped result), GetOverlappedResult and CancelIo.
#include <windows.h>

#include <memory>
#include <mutex>

#include "kernel/change_records.h"
#include "kernel/change_service.h"
#include "kernel/change_watch.h"
#include "kernel/event.h"
#include "kernel/file.h"

namespace w32 {
namespace {

constexpr DWORD kKnownFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                               FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                               FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_LAST_ACCESS |
                               FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY;

// The handle's watch tree; made by its first read, so null before.
ChangeWatch* WatchOf(const File& file) { return static_cast<ChangeWatch*>(file.change_watch.get()); }

}  // namespace
}  // namespace w32

// ReadDirectoryChangesW: the handle's ChangeWatch gives the records queued
// since the last read, at once when there are some, else when the next change
// arrives. The first read's filter holds for the handle's life. Only
// overlapped subtree reads are supported: synchronous
// reads, single-folder reads and completion routines are not.
BOOL WINAPI ReadDirectoryChangesW(HANDLE directory, LPVOID buffer, DWORD length, BOOL watch_subtree, DWORD filter,
                                  LPDWORD /*bytes_returned: overlapped reads only*/, LPOVERLAPPED overlapped,
                                  LPOVERLAPPED_COMPLETION_ROUTINE completion_routine) {
  std::shared_ptr<w32::File> file = w32::LookupHandleAs<w32::File>(directory);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (completion_routine != nullptr || !watch_subtree || !file->overlapped()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (!file->directory() || filter == 0 || (filter & ~w32::kKnownFilter) != 0 || overlapped == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if ((file->access() & FILE_LIST_DIRECTORY) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if ((buffer == nullptr && length != 0) || (reinterpret_cast<ULONG_PTR>(buffer) & 3) != 0) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  std::shared_ptr<w32::Event> event;
  if (overlapped->hEvent != nullptr) {
    event = w32::LookupHandleAs<w32::Event>(overlapped->hEvent);
    if (!event) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  w32::ChangeService* service = w32::ChangeService::Get();
  if (service == nullptr) return FALSE;
  std::shared_ptr<w32::ChangeWatch> failed;  // ends after the lock is let go, as its end takes the lock
  std::lock_guard<std::mutex> guard(service->Lock());
  if (!file->change_watch) {
    auto watch = std::make_shared<w32::ChangeWatch>(*service, *file, filter);
    const DWORD error = watch->Start();
    if (error != ERROR_SUCCESS) {
      failed = std::move(watch);
      SetLastError(error);
      return FALSE;
    }
    file->change_watch = std::move(watch);
  }
  const DWORD error = w32::WatchOf(*file)->records().Arm(
      w32::PendingRead{static_cast<BYTE*>(buffer), length, overlapped, std::move(event), GetCurrentThreadId()});
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

// GetOverlappedResult: the status and byte count that the finished I/O left in
// the OVERLAPPED; a wait waits for the file's I/O to finish.
BOOL WINAPI GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD bytes, BOOL wait) {
  std::shared_ptr<w32::File> file = w32::LookupHandleAs<w32::File>(handle);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (overlapped == nullptr || bytes == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (w32::OverlappedStatus(overlapped) == STATUS_PENDING) {
    if (!wait) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    w32::WaitUntil(*file, [&] { return w32::OverlappedStatus(overlapped) != STATUS_PENDING; });
  }
  const ULONG_PTR status = w32::OverlappedStatus(overlapped);
  *bytes = static_cast<DWORD>(overlapped->InternalHigh);
  const DWORD error = w32::ErrorFromStatus(status);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  if (status == w32::kStatusNotifyEnumDir) SetLastError(ERROR_NOTIFY_ENUM_DIR);
  return TRUE;
}

// CancelIo: the only asynchronous I/O of w32 is the change read; the calling
// thread's pending read on the handle finishes at once as cancelled, so its
// buffer is free again when CancelIo returns.
BOOL WINAPI CancelIo(HANDLE handle) {
  std::shared_ptr<w32::File> file = w32::LookupHandleAs<w32::File>(handle);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  w32::ChangeService* service = w32::ChangeService::Peek();
  if (service == nullptr) return TRUE;
  std::lock_guard<std::mutex> guard(service->Lock());
  if (w32::ChangeWatch* watch = w32::WatchOf(*file)) watch->records().Cancel(GetCurrentThreadId());
  return TRUE;
}

// Directory change reads, the API family: ReadDirectoryChangesW over the
// change service (change_service.cpp: the inotify instance and its thread;
// change_watch.cpp: each handle's watch tree; change_records.cpp: the records
// and the overlapped result), GetOverlappedResult and CancelIo.
#include <windows.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "kernel/change_records.h"
#include "kernel/change_service.h"
#include "kernel/change_watch.h"
#include "kernel/event.h"
#include "kernel/file.h"
#include "support/debug_channel.h"

namespace w32 {
namespace {

constexpr DWORD kKnownFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                               FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                               FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_LAST_ACCESS |
                               FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY;

// The handle's watch tree; made by its first read, so null before.
ChangeWatch* WatchOf(const File& file) { return static_cast<ChangeWatch*>(file.change_watch.get()); }

// The path the handle's descriptor names now, for failure lines.
std::string PathOf(const File& file) {
  char path[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(file.fd())).c_str(), path, sizeof path);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : "fd " + std::to_string(file.fd());
}

// Why arming a read failed: the reasons ChangeRecords::Arm and ChangeWatch::Start give.
const char* ArmFailure(DWORD error) {
  switch (error) {
    case ERROR_PATH_NOT_FOUND: return "the folder was deleted";
    case ERROR_NETNAME_DELETED: return "its file system was unmounted, or the inotify instance is lost";
    case ERROR_INVALID_PARAMETER: return "a read is already pending";
    case ERROR_NOT_ENOUGH_QUOTA: return "no inotify watch left (fs.inotify.max_user_watches)";
    default: return std::strerror(errno);
  }
}

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
    W32_DEBUG(w32::kDebugWatch, "ReadDirectoryChangesW %p: no file handle", directory);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (completion_routine != nullptr || !watch_subtree || !file->overlapped()) {
    W32_DEBUG(w32::kDebugWatch, "ReadDirectoryChangesW %s: only overlapped subtree reads", w32::PathOf(*file).c_str());
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (!file->directory() || filter == 0 || (filter & ~w32::kKnownFilter) != 0 || overlapped == nullptr) {
    W32_DEBUG(w32::kDebugWatch, "ReadDirectoryChangesW %s: %s", w32::PathOf(*file).c_str(),
              !file->directory() ? "not a folder" : overlapped == nullptr ? "no OVERLAPPED" : "unknown filter bits");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if ((file->access() & FILE_LIST_DIRECTORY) == 0) {
    W32_DEBUG(w32::kDebugWatch, "ReadDirectoryChangesW %s: opened without FILE_LIST_DIRECTORY",
              w32::PathOf(*file).c_str());
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if ((buffer == nullptr && length != 0) || (reinterpret_cast<ULONG_PTR>(buffer) & 3) != 0) {
    W32_DEBUG(w32::kDebugWatch, "ReadDirectoryChangesW %s: buffer not DWORD-aligned", w32::PathOf(*file).c_str());
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  std::shared_ptr<w32::Event> event;
  if (overlapped->hEvent != nullptr) {
    event = w32::LookupHandleAs<w32::Event>(overlapped->hEvent);
    if (!event) {
      W32_DEBUG(w32::kDebugWatch, "ReadDirectoryChangesW %s: hEvent is no event", w32::PathOf(*file).c_str());
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  w32::ChangeService* service = w32::ChangeService::Get();
  if (service == nullptr) {
    W32_DEBUG(w32::kDebugWatch, "ReadDirectoryChangesW %s: inotify_init1: %s",
              w32::PathOf(*file).c_str(), std::strerror(errno));
    return FALSE;
  }
  std::shared_ptr<w32::ChangeWatch> failed;  // ends after the lock is let go, as its end takes the lock
  std::lock_guard<std::mutex> guard(service->Lock());
  if (!file->change_watch) {
    auto watch = std::make_shared<w32::ChangeWatch>(*service, *file, filter);
    const DWORD error = watch->Start();
    if (error != ERROR_SUCCESS) {
      W32_DEBUG(w32::kDebugWatch, "ReadDirectoryChangesW %s: %s", w32::PathOf(*file).c_str(), w32::ArmFailure(error));
      failed = std::move(watch);
      SetLastError(error);
      return FALSE;
    }
    file->change_watch = std::move(watch);
  }
  const DWORD error = w32::WatchOf(*file)->records().Arm(
      w32::PendingRead{static_cast<BYTE*>(buffer), length, overlapped, std::move(event), GetCurrentThreadId()});
  if (error != ERROR_SUCCESS) {
    W32_DEBUG(w32::kDebugWatch, "ReadDirectoryChangesW %s: %s", w32::PathOf(*file).c_str(), w32::ArmFailure(error));
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

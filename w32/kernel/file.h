#pragma once
// File and folder handles: a descriptor and the access it was opened for.
#include <sys/types.h>
#include <windows.h>

#include <memory>
#include <string>

#include "kernel/waitable.h"

namespace w32 {

// The last error the platform gives for a failed Linux call with `error`.
DWORD ErrorFromErrno(int error);

// open(2) of a file's data, for a regular file only (or one that O_CREAT
// makes): a FIFO, socket or device is refused with EACCES before any open,
// which could wait for another process or act on the device, and a folder
// with EISDIR. Close-on-exec; -1 with errno on failure.
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0);

// The last error for a native path that does not exist: ERROR_FILE_NOT_FOUND
// when its folder exists, ERROR_PATH_NOT_FOUND otherwise.
DWORD MissingError(const std::string& path);

// What the directory change service keeps for a handle. The file only holds
// it, and ends it before its descriptor closes; its end cancels a pending read.
class FileChangeState {
 public:
  virtual ~FileChangeState() = default;
};

class File : public Waitable {
 public:
  File(int fd, bool directory, DWORD access, DWORD flags);
  ~File() override;

  int fd() const { return fd_; }
  bool directory() const { return directory_; }
  DWORD access() const { return access_; }
  bool overlapped() const { return (flags_ & FILE_FLAG_OVERLAPPED) != 0; }

  // The platform signals a file handle when an I/O on it completes and clears
  // the signal when one starts. Both called with WaitLock held.
  bool IsSignalled() const override { return signalled_; }
  void SetSignalled(bool signalled);

  // The directory change state, made by the first ReadDirectoryChangesW;
  // guarded by the change service's lock.
  std::shared_ptr<FileChangeState> change_watch;

 private:
  const int fd_;
  const bool directory_;
  const DWORD access_;  // generic rights mapped to specific ones
  const DWORD flags_;
  bool signalled_ = true;
};

}  // namespace w32

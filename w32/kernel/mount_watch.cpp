#include "kernel/mount_watch.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <utility>

namespace w32 {

MountTableWatch::MountTableWatch(std::string path) : path_(std::move(path)) { Open(); }

MountTableWatch::~MountTableWatch() {
  if (fd_ >= 0 && Ours()) ::close(fd_);
}

bool MountTableWatch::Open() {
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct statfs fs {};
  struct stat status {};
  if (::fstatfs(fd_, &fs) != 0 || fs.f_type != PROC_SUPER_MAGIC || ::fstat(fd_, &status) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  device_ = status.st_dev;
  inode_ = status.st_ino;
  return true;
}

bool MountTableWatch::Ours() const {
  struct stat status {};
  return ::fstat(fd_, &status) == 0 && status.st_dev == device_ && status.st_ino == inode_;
}

bool MountTableWatch::Changed(short revents) {
  if (fd_ >= 0 && Ours()) return (revents & (POLLPRI | POLLERR)) != 0;
  // Closed under us, its number perhaps another file's now: not ours to close.
  return Open();
}

std::string MountTableWatch::Read() const {
  std::string table;
  char chunk[4096];
  for (off_t offset = 0;;) {
    const ssize_t size = ::pread(fd_, chunk, sizeof chunk, offset);
    if (size <= 0) break;
    table.append(chunk, static_cast<size_t>(size));
    offset += size;
  }
  return table;
}

}  // namespace w32

#include "kernel/mount_watch.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/kcmp.h>
#include <linux/magic.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

namespace w32 {

MountTableWatch::MountTableWatch(std::string path) : path_(std::move(path)) { Open(); }

MountTableWatch::~MountTableWatch() {
  if (fd_ >= 0 && Ours()) ::close(fd_);
  if (epoll_ >= 0) ::close(epoll_);
}

bool MountTableWatch::Open() {
  if (epoll_ < 0) epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct statfs fs {};
  struct stat status {};
  epoll_event interest{};
  interest.events = EPOLLPRI;
  if (::fstatfs(fd_, &fs) != 0 || fs.f_type != PROC_SUPER_MAGIC || ::fstat(fd_, &status) != 0 || epoll_ < 0 ||
      ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd_, &interest) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  device_ = status.st_dev;
  inode_ = status.st_ino;
  return true;
}

bool MountTableWatch::Ours() const {
  // Asks without polling the description, which would take its signal.
  kcmp_epoll_slot slot{static_cast<uint32_t>(epoll_), static_cast<uint32_t>(fd_), 0};
  const pid_t self = ::getpid();
  if (::syscall(SYS_kcmp, self, self, KCMP_EPOLL_TFD, fd_, &slot) == 0) return true;
  if (errno != ENOSYS && errno != EPERM) return false;
  // Without kcmp (a kernel built without it, a seccomp filter): the number
  // names the table still, which is what can be told.
  struct stat status {};
  return ::fstat(fd_, &status) == 0 && status.st_dev == device_ && status.st_ino == inode_;
}

pollfd MountTableWatch::PollEntry() {
  // Closed under us, its number perhaps another file's now: not ours to close.
  if (fd_ < 0 || !Ours()) reopened_ = Open() || reopened_;
  return {fd_ >= 0 ? epoll_ : -1, POLLIN, 0};
}

bool MountTableWatch::Changed(short revents) {
  const bool reopened = std::exchange(reopened_, false);
  if (fd_ >= 0 && Ours()) return reopened || (revents & (POLLIN | POLLERR)) != 0;
  return Open() || reopened;
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

#pragma once
// A watch on the kernel's mount table: a descriptor of a mountinfo file, which
// signals POLLPRI when a mount comes or goes. A descriptor that fails (closed
// by someone else, its number perhaps reused) is opened again instead of being
// polled for ever. Every descriptor of the table has the same inode, and a
// poll looks its numbers up again at each wake, so a number is never polled
// itself: its description is entered in a private epoll instance, which is
// polled, and kcmp tells whether the number still names it. Polling another
// watcher's description would take its signal.
#include <poll.h>
#include <sys/types.h>

#include <string>

namespace w32 {

class MountTableWatch {
 public:
  // Opens `path`: only the kernel's table signals, so a plain file is not watched.
  explicit MountTableWatch(std::string path);
  ~MountTableWatch();
  MountTableWatch(const MountTableWatch&) = delete;
  MountTableWatch& operator=(const MountTableWatch&) = delete;

  // What to poll: the epoll instance, or -1 (which poll skips) while there is
  // no descriptor. A number that is not ours any more is dropped first.
  pollfd PollEntry();
  // At each wake, with what poll reported for PollEntry() (0 when nothing):
  // whether the table may have changed since the last call. It did when it
  // signalled, or when its descriptor had failed and a new one replaced it,
  // since what changed meanwhile is not known.
  bool Changed(short revents);
  // The table's text; empty when it cannot be read.
  std::string Read() const;

 private:
  // Opens the table; true when a descriptor of the kernel's table was had.
  bool Open();
  // The descriptor still names the file that was opened.
  bool Ours() const;

  const std::string path_;
  int fd_ = -1;
  int epoll_ = -1;  // holds fd_'s description while it is ours
  dev_t device_ = 0;  // fd_'s file, for a kernel without kcmp
  ino_t inode_ = 0;
  bool reopened_ = false;  // by PollEntry: what changed meanwhile is not known
};

}  // namespace w32

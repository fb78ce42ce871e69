#pragma once
// A dbus-daemon of our own for the bus tests, stopped at the end.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace w32_test {

// A dbus-daemon of our own, stopped at the end.
class PrivateBus {
 public:
  PrivateBus() {
    int out[2];
    if (access("/usr/bin/dbus-daemon", X_OK) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test that dies takes its bus with it
      dup2(out[1], 1);
      execl("/usr/bin/dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr);
      _exit(127);
    }
    close(out[1]);
    char line[512] = {};
    size_t used = 0;
    while (used + 1 < sizeof line) {
      const ssize_t got = read(out[0], line + used, 1);
      if (got <= 0 || line[used] == '\n') break;
      used += static_cast<size_t>(got);
    }
    close(out[0]);
    line[used] = 0;
    address_ = line;
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

}  // namespace w32_test

#pragma once
// A dbus-daemon of our own for the bus tests, and stand-in services on it.
#include <dbus/dbus.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <thread>

namespace w32_test {

// A dbus-daemon of our own, stopped at the end: a session bus, or one with
// the distribution's system bus policy at an address every user may reach.
class PrivateBus {
 public:
  enum Policy { kSession, kSystem };

  explicit PrivateBus(Policy policy = kSession) {
    std::string config = "--session";
    if (policy == kSystem && !SystemConfig(&config)) return;
    int out[2];
    if (access("/usr/bin/dbus-daemon", X_OK) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test that dies takes its bus with it
      dup2(out[1], 1);
      execl("/usr/bin/dbus-daemon", "dbus-daemon", config.c_str(), "--nofork", "--print-address=1", nullptr);
      _exit(127);
    }
    close(out[1]);
    FILE* printed = fdopen(out[0], "r");
    char line[512] = {};
    if (fgets(line, sizeof line, printed) != nullptr) address_.assign(line, std::strcspn(line, "\n"));
    fclose(printed);
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (!folder_.empty()) std::system(("rm -rf '" + folder_ + "'").c_str());
  }
  const std::string& address() const { return address_; }

 private:
  // The distribution's system.conf with its policy whole, and without what
  // makes it the machine's one bus: its socket, user, pid file and log.
  bool SystemConfig(std::string* option) {
    std::ifstream distributed("/usr/share/dbus-1/system.conf");
    std::string text((std::istreambuf_iterator<char>(distributed)), std::istreambuf_iterator<char>());
    char folder[] = "/tmp/w32-system-bus-XXXXXX";
    if (text.empty() || mkdtemp(folder) == nullptr) return false;
    folder_ = folder;
    chmod(folder, 0755);
    text = std::regex_replace(text, std::regex("<listen>[^<]*</listen>"),
                              "<listen>unix:path=" + folder_ + "/socket</listen>");
    text = std::regex_replace(text, std::regex("<(user|pidfile|servicehelper)>[^<]*</\\1>|<(fork|syslog|"
                                               "standard_system_servicedirs)/>"), "");
    text = std::regex_replace(text, std::regex("<includedir>system.d</includedir>"),
                              "<includedir>/usr/share/dbus-1/system.d</includedir>");
    std::ofstream(folder_ + "/system.conf") << text;
    *option = "--config-file=" + folder_ + "/system.conf";
    return true;
  }

  pid_t pid_ = -1;
  std::string address_;
  std::string folder_;
};

// Owns `name` on the bus at `address` and hands every message that comes to
// `answer`, on a thread of its own, until it ends.
class BusService {
 public:
  using Answer = std::function<void(DBusConnection*, DBusMessage*)>;
  BusService(const std::string& address, const char* name, Answer answer) : answer_(std::move(answer)) {
    dbus_threads_init_default();
    DBusError error;
    dbus_error_init(&error);
    connection_ = dbus_connection_open_private(address.c_str(), &error);
    if (connection_ == nullptr || !dbus_bus_register(connection_, &error) ||
        dbus_bus_request_name(connection_, name, DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) !=
            DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
      dbus_error_free(&error);
      return;
    }
    serving_ = std::thread([this] {
      while (!stop_ && dbus_connection_read_write(connection_, 50)) {
        while (DBusMessage* message = dbus_connection_pop_message(connection_)) {
          answer_(connection_, message);
          dbus_message_unref(message);
        }
      }
    });
  }
  ~BusService() {
    stop_ = true;
    if (serving_.joinable()) serving_.join();
    if (connection_ != nullptr) {
      dbus_connection_close(connection_);
      dbus_connection_unref(connection_);
    }
  }
  bool serving() const { return serving_.joinable(); }
  DBusConnection* connection() const { return connection_; }

 private:
  Answer answer_;
  DBusConnection* connection_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread serving_;
};

}  // namespace w32_test

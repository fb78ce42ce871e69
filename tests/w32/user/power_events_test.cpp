// Sleep and resume from a stand-in login manager on a private bus, given to
// w32 as the system bus, become WM_POWERBROADCAST under a delay inhibitor.
#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "../private_bus.h"
#include "recording_window.h"

namespace {

// Owns org.freedesktop.login1 and hands out delay inhibitors: the read end
// of a pipe stays here, so the inhibitor is held while a write end lives.
class StandInLogin {
 public:
  explicit StandInLogin(const std::string& address)
      : service_(address, "org.freedesktop.login1", [this](DBusConnection* connection, DBusMessage* message) {
          if (dbus_message_is_method_call(message, "org.freedesktop.login1.Manager", "Inhibit")) {
            Inhibit(connection, message);
          }
        }) {}
  bool serving() const { return service_.serving(); }

  std::vector<std::string> Inhibits() {
    std::lock_guard<std::mutex> guard(lock_);
    return inhibits_;
  }
  // Some inhibitor handed out is still held by its taker.
  bool Held() {
    std::lock_guard<std::mutex> guard(lock_);
    for (int fd : held_) {
      pollfd end{fd, POLLIN, 0};
      if (poll(&end, 1, 0) == 0) return true;  // no hang-up: a write end lives
    }
    return false;
  }
  void PrepareForSleep(bool sleeping) {
    DBusMessage* signal =
        dbus_message_new_signal("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
    dbus_bool_t value = sleeping;
    dbus_message_append_args(signal, DBUS_TYPE_BOOLEAN, &value, DBUS_TYPE_INVALID);
    dbus_connection_send(service_.connection(), signal, nullptr);
    dbus_connection_flush(service_.connection());
    dbus_message_unref(signal);
  }

 private:
  void Inhibit(DBusConnection* connection, DBusMessage* message) {
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &what, DBUS_TYPE_STRING, &who, DBUS_TYPE_STRING, &why,
                          DBUS_TYPE_STRING, &mode, DBUS_TYPE_INVALID);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    DBusMessage* reply = dbus_message_new_method_return(message);
    dbus_message_append_args(reply, DBUS_TYPE_UNIX_FD, &ends[1], DBUS_TYPE_INVALID);
    close(ends[1]);  // the message holds its own copy
    {
      std::lock_guard<std::mutex> guard(lock_);
      inhibits_.push_back(std::string(what) + " " + mode);
      held_.push_back(ends[0]);
    }
    dbus_connection_send(connection, reply, nullptr);
    dbus_message_unref(reply);
  }

  std::mutex lock_;
  std::vector<std::string> inhibits_;
  struct ReadEnds : std::vector<int> {
    ~ReadEnds() {
      for (int fd : *this) close(fd);
    }
  } held_;
  w32_test::BusService service_;  // last: it ends first, before what it answers with
};

// Runs this thread's loop until `done` holds; false after 20 s.
template <class Condition>
bool PumpUntil(Condition done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    w32::host::WaitForMessages(20);
    w32::host::DispatchQueued(false);
  }
  return true;
}

std::vector<WPARAM> PowerEvents(HWND window) {
  std::vector<WPARAM> events;
  for (const auto& r : w32_test::Recorder::Instance().For(window)) {
    if (r.message == WM_POWERBROADCAST) events.push_back(r.wparam);
  }
  return events;
}

TEST(PowerEvents, SleepAndResumeReachEveryWindowUnderADelayInhibitor) {
  w32_test::PrivateBus bus;
  if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon here";
  StandInLogin login(bus.address());
  ASSERT_TRUE(login.serving());
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
  HWND window = w32_test::MakeRecordingWindow();  // the first window starts the watch
  ASSERT_TRUE(PumpUntil([&] { return login.Held(); }));
  EXPECT_EQ(login.Inhibits(), std::vector<std::string>{"sleep delay"});

  login.PrepareForSleep(true);
  ASSERT_TRUE(PumpUntil([&] { return !PowerEvents(window).empty(); }));
  EXPECT_TRUE(PumpUntil([&] { return !login.Held(); }));  // let go once the window answered

  login.PrepareForSleep(false);
  ASSERT_TRUE(PumpUntil([&] { return PowerEvents(window).size() >= 3 && login.Held(); }));
  EXPECT_EQ(PowerEvents(window),
            (std::vector<WPARAM>{PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND}));
  EXPECT_EQ(login.Inhibits(), (std::vector<std::string>{"sleep delay", "sleep delay"}));
  DestroyWindow(window);
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace

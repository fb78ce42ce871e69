// The execution state, simulated input, and sleep and resume, against
// private buses on which stand-ins for the desktop's screen saver and the
// login manager record what they are asked.
#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host/host.h"
#include "../private_bus.h"
#include "recording_window.h"

namespace {

using w32_test::PrivateBus;

// Owns `name` on the bus and answers each method call with `answer`, which
// fills the reply and gives the line the call is recorded as.
class StandIn {
 public:
  using Answer = std::function<std::string(DBusMessage* call, DBusMessage* reply)>;
  StandIn(const std::string& address, const char* name, Answer answer)
      : answer_(std::move(answer)),
        service_(address, name, [this](DBusConnection* connection, DBusMessage* message) { Take(connection, message); }) {}
  bool serving() const { return service_.serving(); }
  DBusConnection* connection() const { return service_.connection(); }

  // Waits for the n-th call: the fire-and-forget ones arrive on their own time.
  std::vector<std::string> WaitForCalls(size_t n) {
    std::unique_lock<std::mutex> guard(lock_);
    arrived_.wait_for(guard, std::chrono::seconds(20), [&] { return calls_.size() >= n; });
    return calls_;
  }

 private:
  void Take(DBusConnection* connection, DBusMessage* message) {
    if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL) return;
    DBusMessage* reply = dbus_message_new_method_return(message);
    const std::string call = answer_(message, reply);
    {
      std::lock_guard<std::mutex> guard(lock_);
      calls_.push_back(call);  // before the reply: the caller looks once it has its answer
    }
    arrived_.notify_all();
    if (!dbus_message_get_no_reply(message)) dbus_connection_send(connection, reply, nullptr);
    dbus_message_unref(reply);
  }

  Answer answer_;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<std::string> calls_;
  w32_test::BusService service_;  // last: it ends first, before what it answers with
};

// The desktop's screen saver: an inhibit gets cookie 77.
std::string AnswerAsScreenSaver(DBusMessage* call, DBusMessage* reply) {
  std::string line = dbus_message_get_member(call);
  if (line == "Inhibit") {
    const char* application = nullptr;
    const char* reason = nullptr;
    dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &application, DBUS_TYPE_STRING, &reason, DBUS_TYPE_INVALID);
    line += std::string(" ") + (application != nullptr ? application : "?");
    const dbus_uint32_t cookie = 77;
    dbus_message_append_args(reply, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID);
  } else if (line == "UnInhibit") {
    dbus_uint32_t cookie = 0;
    dbus_message_get_args(call, nullptr, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID);
    line += " " + std::to_string(cookie);
  }
  return line;
}

void MoveMouse() {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = MOUSEEVENTF_MOVE;
  ASSERT_EQ(SendInput(1, &input, sizeof input), 1u);
}

// In order: no bus at all, a bus without the service, then the service.
TEST(SessionBus, NothingFailsWithoutABusOrService) {
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  EXPECT_NE(SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED), 0u);
  MoveMouse();
  EXPECT_NE(SetThreadExecutionState(ES_CONTINUOUS), 0u);
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_NE(SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED), 0u);
  EXPECT_NE(SetThreadExecutionState(ES_CONTINUOUS), 0u);
}

TEST(SessionBus, TheExecutionStateHoldsAnInhibitWhileItIsAskedFor) {
  PrivateBus bus;
  if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon here";
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);

  // Asked for, perhaps before the desktop offers the service: refused then,
  // and asked again later. The calls reach the bus on its own thread.
  EXPECT_NE(SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), 0u);
  StandIn screen_saver(bus.address(), "org.freedesktop.ScreenSaver", AnswerAsScreenSaver);
  ASSERT_TRUE(screen_saver.serving());

  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
  EXPECT_EQ(screen_saver.WaitForCalls(1), std::vector<std::string>{"Inhibit w32_bus_test"});
  SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED);  // still held: no second inhibit
  SetThreadExecutionState(ES_CONTINUOUS);
  EXPECT_EQ(screen_saver.WaitForCalls(2),
            (std::vector<std::string>{"Inhibit w32_bus_test", "UnInhibit 77"}));

  // Simulated input counts as activity unless that is blocked.
  SystemParametersInfoW(SPI_SETBLOCKSENDINPUTRESETS, TRUE, nullptr, 0);
  MoveMouse();
  SystemParametersInfoW(SPI_SETBLOCKSENDINPUTRESETS, FALSE, nullptr, 0);
  MoveMouse();
  EXPECT_EQ(screen_saver.WaitForCalls(3),
            (std::vector<std::string>{"Inhibit w32_bus_test", "UnInhibit 77", "SimulateUserActivity"}));
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// The login manager hands out delay inhibitors: the read end of a pipe stays
// here, so the inhibitor is held while a write end lives.
class StandInLogin {
 public:
  explicit StandInLogin(const std::string& address)
      : service_(address, "org.freedesktop.login1",
                 [this](DBusMessage* call, DBusMessage* reply) { return Inhibit(call, reply); }) {}
  bool serving() const { return service_.serving(); }
  std::vector<std::string> Inhibits(size_t n) { return service_.WaitForCalls(n); }

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
  std::string Inhibit(DBusMessage* call, DBusMessage* reply) {
    const char *what = "?", *who = nullptr, *why = nullptr, *mode = "?";
    dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &what, DBUS_TYPE_STRING, &who, DBUS_TYPE_STRING, &why,
                          DBUS_TYPE_STRING, &mode, DBUS_TYPE_INVALID);
    int ends[2];
    if (pipe(ends) != 0) return "no pipe";
    dbus_message_append_args(reply, DBUS_TYPE_UNIX_FD, &ends[1], DBUS_TYPE_INVALID);
    close(ends[1]);  // the message holds its own copy
    std::lock_guard<std::mutex> guard(lock_);
    held_.push_back(ends[0]);
    return std::string(dbus_message_get_member(call)) + " " + what + " " + mode;
  }

  std::mutex lock_;
  struct ReadEnds : std::vector<int> {
    ~ReadEnds() {
      for (int fd : *this) close(fd);
    }
  } held_;
  StandIn service_;  // last: it ends first, before what it answers with
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
  for (const auto& r : w32_test::ReceivedBy(window)) {
    if (r.message == WM_POWERBROADCAST) events.push_back(r.wparam);
  }
  return events;
}

// On a bus with the distribution's system policy, under which only root may
// own login1 and any user may address signals to us: only those of login1's
// owner count.
TEST(PowerEvents, SleepAndResumeReachEveryWindowUnderADelayInhibitor) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to own login1 and to act as another user";
  PrivateBus bus(PrivateBus::kSystem);
  if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon here";
  StandInLogin login(bus.address());
  ASSERT_TRUE(login.serving());
  setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
  HWND window = w32_test::MakeRecordingWindow();  // the first window starts the watch
  ASSERT_TRUE(PumpUntil([&] { return login.Held(); }));
  EXPECT_EQ(login.Inhibits(1), std::vector<std::string>{"Inhibit sleep delay"});

  login.PrepareForSleep(true);
  ASSERT_TRUE(PumpUntil([&] { return !PowerEvents(window).empty(); }));
  EXPECT_TRUE(PumpUntil([&] { return !login.Held(); }));  // let go once the window answered

  login.PrepareForSleep(false);
  ASSERT_TRUE(PumpUntil([&] { return PowerEvents(window).size() >= 3 && login.Held(); }));
  EXPECT_EQ(PowerEvents(window),
            (std::vector<WPARAM>{PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND}));
  EXPECT_EQ(login.Inhibits(2), (std::vector<std::string>{"Inhibit sleep delay", "Inhibit sleep delay"}));

  const pid_t forger = fork();
  if (forger == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    execl(FORGE_SLEEP_SIGNALS, FORGE_SLEEP_SIGNALS, bus.address().c_str(), nullptr);
    _exit(4);
  }
  int status = -1;
  waitpid(forger, &status, 0);
  ASSERT_EQ(status, 0);
  login.PrepareForSleep(false);  // what was forged reached us before this, in order
  ASSERT_TRUE(PumpUntil([&] { return PowerEvents(window).size() >= 5; }));
  EXPECT_EQ(PowerEvents(window), (std::vector<WPARAM>{PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND,
                                                      PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND}));
  EXPECT_TRUE(login.Held());
  DestroyWindow(window);
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace

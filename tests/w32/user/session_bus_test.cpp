// The execution state and simulated input against a private session bus, on
// which a stand-in for the desktop's screen saver records what it is asked.
#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../private_bus.h"

namespace {

using w32_test::PrivateBus;

constexpr dbus_uint32_t kCookie = 77;

// Owns org.freedesktop.ScreenSaver on the bus and records the calls.
class StandInScreenSaver {
 public:
  explicit StandInScreenSaver(const std::string& address)
      : service_(address, "org.freedesktop.ScreenSaver",
                 [this](DBusConnection* connection, DBusMessage* message) { Answer(connection, message); }) {}
  bool serving() const { return service_.serving(); }

  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }
  // Waits for the n-th call: the fire-and-forget ones arrive on their own time.
  std::vector<std::string> WaitForCalls(size_t n) {
    std::unique_lock<std::mutex> guard(lock_);
    arrived_.wait_for(guard, std::chrono::seconds(20), [&] { return calls_.size() >= n; });
    return calls_;
  }

 private:
  void Answer(DBusConnection* connection, DBusMessage* message) {
    if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL) return;
    const std::string member = dbus_message_get_member(message);
    std::string call = member;
    DBusMessage* reply = dbus_message_new_method_return(message);
    if (member == "Inhibit") {
      const char* application = nullptr;
      const char* reason = nullptr;
      dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &application, DBUS_TYPE_STRING, &reason,
                            DBUS_TYPE_INVALID);
      call += std::string(" ") + (application != nullptr ? application : "?");
      dbus_message_append_args(reply, DBUS_TYPE_UINT32, &kCookie, DBUS_TYPE_INVALID);
    } else if (member == "UnInhibit") {
      dbus_uint32_t cookie = 0;
      dbus_message_get_args(message, nullptr, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID);
      call += " " + std::to_string(cookie);
    }
    {
      std::lock_guard<std::mutex> guard(lock_);
      calls_.push_back(call);  // before the reply: the caller looks once it has its answer
    }
    arrived_.notify_all();
    if (!dbus_message_get_no_reply(message)) dbus_connection_send(connection, reply, nullptr);
    dbus_message_unref(reply);
  }

  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<std::string> calls_;
  w32_test::BusService service_;  // last: it ends first, before what it answers with
};

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
  StandInScreenSaver screen_saver(bus.address());
  ASSERT_TRUE(screen_saver.serving());

  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
  EXPECT_EQ(screen_saver.WaitForCalls(1), std::vector<std::string>{"Inhibit w32_session_bus_test"});
  SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED);  // still held: no second inhibit
  SetThreadExecutionState(ES_CONTINUOUS);
  EXPECT_EQ(screen_saver.WaitForCalls(2),
            (std::vector<std::string>{"Inhibit w32_session_bus_test", "UnInhibit 77"}));

  // Simulated input counts as activity unless that is blocked.
  SystemParametersInfoW(SPI_SETBLOCKSENDINPUTRESETS, TRUE, nullptr, 0);
  MoveMouse();
  SystemParametersInfoW(SPI_SETBLOCKSENDINPUTRESETS, FALSE, nullptr, 0);
  MoveMouse();
  EXPECT_EQ(screen_saver.WaitForCalls(3),
            (std::vector<std::string>{"Inhibit w32_session_bus_test", "UnInhibit 77", "SimulateUserActivity"}));
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace

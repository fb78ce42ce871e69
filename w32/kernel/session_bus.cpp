#include "kernel/session_bus.h"

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "kernel/dbus_api.h"

namespace w32 {
namespace {

constexpr char kService[] = "org.freedesktop.ScreenSaver";
constexpr char kPath[] = "/org/freedesktop/ScreenSaver";
constexpr char kInterface[] = "org.freedesktop.ScreenSaver";
constexpr int kReplyTimeoutMs = 2000;

// One private connection, opened when first needed and again after the bus
// went away or the address changed. Only the address in the environment when
// a call is made is used: no bus is launched.
struct Bus {
  std::mutex lock;
  const BusApi* api = nullptr;
  DBusConnection* connection = nullptr;
  std::string address;  // the connection's
};

Bus& TheBus() {
  static Bus* bus = new Bus;
  return *bus;
}

// The session bus as the environment names it now, on the calling thread.
std::string SessionBusAddress() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return address != nullptr ? address : "";
}

DBusConnection* ConnectLocked(Bus& bus, const std::string& address) {
  const BusApi* api = bus.api;
  if (bus.connection != nullptr) {
    if (bus.address == address && api->dbus_connection_get_is_connected(bus.connection)) return bus.connection;
    api->dbus_connection_close(bus.connection);
    api->dbus_connection_unref(bus.connection);
    bus.connection = nullptr;
  }
  if (address.empty()) return nullptr;
  if (api == nullptr) api = bus.api = LoadBusApi();
  if (api == nullptr) return nullptr;
  DBusConnection* connection = OpenBus(*api, address.c_str());
  if (connection == nullptr) return nullptr;
  bus.connection = connection;
  bus.address = address;
  return connection;
}

// Calls `method` of the screen saver with the arguments `append` adds (false
// when they could not be added). With `wait`, gives the reply; without, sends
// and gives null. Null too when there is no bus or no answer came.
template <class Append>
Message CallScreenSaver(const std::string& address, const char* method, bool wait, Append append) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> guard(bus.lock);
  DBusConnection* connection = ConnectLocked(bus, address);
  if (connection == nullptr) return nullptr;
  const BusApi* api = bus.api;  // loaded: the connection is live
  Message call(api->dbus_message_new_method_call(kService, kPath, kInterface, method), MessageUnref{api});
  if (call == nullptr) return nullptr;
  api->dbus_message_set_auto_start(call.get(), FALSE);  // never start a service for this
  if (!append(*api, call.get())) return nullptr;
  if (!wait) {
    api->dbus_message_set_no_reply(call.get(), TRUE);
    api->dbus_connection_send(connection, call.get(), nullptr);
    api->dbus_connection_flush(connection);
    return nullptr;
  }
  DBusError error;
  api->dbus_error_init(&error);
  Message reply(api->dbus_connection_send_with_reply_and_block(connection, call.get(), kReplyTimeoutMs, &error),
                MessageUnref{api});
  api->dbus_error_free(&error);
  return reply;
}

std::optional<uint32_t> InhibitScreenSaver(const std::string& address, const char* reason) {
  const std::string application = BusApplicationName();
  const char* application_text = application.c_str();
  Message reply = CallScreenSaver(address, "Inhibit", true, [&](const BusApi& api, DBusMessage* call) {
    return api.dbus_message_append_args(call, DBUS_TYPE_STRING, &application_text, DBUS_TYPE_STRING, &reason,
                                        DBUS_TYPE_INVALID) != 0;
  });
  if (reply == nullptr) return std::nullopt;
  const BusApi* api = reply.get_deleter().api;
  DBusError error;
  api->dbus_error_init(&error);
  dbus_uint32_t cookie = 0;
  const bool read = api->dbus_message_get_args(reply.get(), &error, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID);
  api->dbus_error_free(&error);
  if (!read) return std::nullopt;
  return cookie;
}

void UnInhibitScreenSaver(const std::string& address, uint32_t cookie) {
  dbus_uint32_t value = cookie;
  CallScreenSaver(address, "UnInhibit", true, [&](const BusApi& api, DBusMessage* call) {
    return api.dbus_message_append_args(call, DBUS_TYPE_UINT32, &value, DBUS_TYPE_INVALID) != 0;
  });
}

// The bus's own thread, started on first use and kept for the process.
class BusThread {
 public:
  void Post(std::function<void()> job) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      jobs_.push_back(std::move(job));
      if (!started_) {
        started_ = true;
        std::thread([this] { Run(); }).detach();
      }
    }
    ready_.notify_one();
  }

 private:
  void Run() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> guard(lock_);
        ready_.wait(guard, [&] { return !jobs_.empty(); });
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }

  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;  // guarded by lock_
  bool started_ = false;                    // guarded by lock_
};

BusThread& TheBusThread() {
  static auto* thread = new BusThread;
  return *thread;
}

// The inhibit as wanted (any thread, with the lock) and as held (the bus thread's own).
struct Inhibit {
  std::mutex lock;
  bool wanted = false;
  std::string address;  // of the bus when it was last wanted or not
  std::optional<uint32_t> cookie;
  std::string cookie_address;  // the bus the cookie is from
};

Inhibit& TheInhibit() {
  static auto* inhibit = new Inhibit;
  return *inhibit;
}

// On the bus thread: what is held follows what is wanted now.
void FollowWanted() {
  Inhibit& inhibit = TheInhibit();
  bool wanted;
  std::string address;
  {
    std::lock_guard<std::mutex> guard(inhibit.lock);
    wanted = inhibit.wanted;
    address = inhibit.address;
  }
  if (wanted && !inhibit.cookie) {
    inhibit.cookie = InhibitScreenSaver(address, "The application keeps the system and display awake");
    inhibit.cookie_address = address;
  } else if (!wanted && inhibit.cookie) {
    UnInhibitScreenSaver(inhibit.cookie_address, *inhibit.cookie);
    inhibit.cookie.reset();
  }
}

}  // namespace

void WantScreenSaverInhibited(bool wanted) {
  Inhibit& inhibit = TheInhibit();
  {
    std::lock_guard<std::mutex> guard(inhibit.lock);
    inhibit.wanted = wanted;
    inhibit.address = SessionBusAddress();
  }
  TheBusThread().Post(FollowWanted);
}

void SimulateUserActivity() {
  TheBusThread().Post([address = SessionBusAddress()] {
    CallScreenSaver(address, "SimulateUserActivity", false, [](const BusApi&, DBusMessage*) { return true; });
  });
}

}  // namespace w32

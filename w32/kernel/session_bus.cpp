#include "kernel/session_bus.h"

#include <dbus/dbus.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

namespace w32 {
namespace {

constexpr char kService[] = "org.freedesktop.ScreenSaver";
constexpr char kPath[] = "/org/freedesktop/ScreenSaver";
constexpr char kInterface[] = "org.freedesktop.ScreenSaver";
constexpr int kReplyTimeoutMs = 2000;

struct MessageUnref {
  void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// One private connection, opened when first needed and again after the bus
// went away. Only the address in the environment is used: no bus is launched.
struct Bus {
  std::mutex lock;
  DBusConnection* connection = nullptr;
};

Bus& TheBus() {
  static Bus* bus = new Bus;
  return *bus;
}

DBusConnection* ConnectLocked(Bus& bus) {
  if (bus.connection != nullptr) {
    if (dbus_connection_get_is_connected(bus.connection)) return bus.connection;
    dbus_connection_unref(bus.connection);
    bus.connection = nullptr;
  }
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || *address == 0) return nullptr;
  dbus_threads_init_default();
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* connection = dbus_connection_open_private(address, &error);
  if (connection == nullptr) {
    dbus_error_free(&error);
    return nullptr;
  }
  dbus_connection_set_exit_on_disconnect(connection, FALSE);
  if (!dbus_bus_register(connection, &error)) {
    dbus_error_free(&error);
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    return nullptr;
  }
  bus.connection = connection;
  return connection;
}

Message MethodCall(const char* method) {
  Message call(dbus_message_new_method_call(kService, kPath, kInterface, method));
  if (call != nullptr) dbus_message_set_auto_start(call.get(), FALSE);  // never start a service for this
  return call;
}

// The bus takes only valid UTF-8: the program's name, kept to printable ASCII.
std::string ApplicationName() {
  std::string name;
  for (const char* c = program_invocation_short_name; *c != 0; ++c) {
    if (*c > 0x20 && *c < 0x7F) name += *c;
  }
  return name.empty() ? "w32" : name;
}

}  // namespace

std::optional<uint32_t> InhibitScreenSaver(const char* reason) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> guard(bus.lock);
  DBusConnection* connection = ConnectLocked(bus);
  Message call = MethodCall("Inhibit");
  if (connection == nullptr || call == nullptr) return std::nullopt;
  const std::string application = ApplicationName();
  const char* application_text = application.c_str();
  if (!dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &application_text, DBUS_TYPE_STRING, &reason,
                                DBUS_TYPE_INVALID)) {
    return std::nullopt;
  }
  DBusError error;
  dbus_error_init(&error);
  Message reply(dbus_connection_send_with_reply_and_block(connection, call.get(), kReplyTimeoutMs, &error));
  dbus_uint32_t cookie = 0;
  if (reply == nullptr || !dbus_message_get_args(reply.get(), &error, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID)) {
    dbus_error_free(&error);
    return std::nullopt;
  }
  return cookie;
}

void UnInhibitScreenSaver(uint32_t cookie) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> guard(bus.lock);
  DBusConnection* connection = ConnectLocked(bus);
  Message call = MethodCall("UnInhibit");
  if (connection == nullptr || call == nullptr) return;
  dbus_uint32_t value = cookie;
  if (!dbus_message_append_args(call.get(), DBUS_TYPE_UINT32, &value, DBUS_TYPE_INVALID)) return;
  DBusError error;
  dbus_error_init(&error);
  Message reply(dbus_connection_send_with_reply_and_block(connection, call.get(), kReplyTimeoutMs, &error));
  dbus_error_free(&error);
}

void SimulateUserActivity() {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> guard(bus.lock);
  DBusConnection* connection = ConnectLocked(bus);
  Message call = MethodCall("SimulateUserActivity");
  if (connection == nullptr || call == nullptr) return;
  dbus_message_set_no_reply(call.get(), TRUE);
  dbus_connection_send(connection, call.get(), nullptr);
  dbus_connection_flush(connection);
}

}  // namespace w32

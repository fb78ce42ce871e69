#include "kernel/session_bus.h"

#include <dbus/dbus.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/delay_load.h"

namespace w32 {
namespace {

// A service of the session bus: where its object lives, and whether the bus
// may start it to answer.
struct Service {
  const char* name;
  const char* path;
  const char* interface;
  bool auto_start;
  int reply_timeout_ms;
};

// Never started for this: without a running screen saver there is nothing to hold off.
constexpr Service kScreenSaver = {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                  "org.freedesktop.ScreenSaver", false, 2000};
// The desktop's file manager may be started by the bus, which takes longer.
constexpr Service kFileManager = {"org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                  "org.freedesktop.FileManager1", true, 10000};

// libdbus is opened when a bus address is first used; without it there is no bus.
struct BusApi {
  decltype(&::dbus_bus_register) dbus_bus_register;
  decltype(&::dbus_connection_close) dbus_connection_close;
  decltype(&::dbus_connection_flush) dbus_connection_flush;
  decltype(&::dbus_connection_get_is_connected) dbus_connection_get_is_connected;
  decltype(&::dbus_connection_open_private) dbus_connection_open_private;
  decltype(&::dbus_connection_send) dbus_connection_send;
  decltype(&::dbus_connection_send_with_reply_and_block) dbus_connection_send_with_reply_and_block;
  decltype(&::dbus_connection_set_exit_on_disconnect) dbus_connection_set_exit_on_disconnect;
  decltype(&::dbus_connection_unref) dbus_connection_unref;
  decltype(&::dbus_error_free) dbus_error_free;
  decltype(&::dbus_error_init) dbus_error_init;
  decltype(&::dbus_message_append_args) dbus_message_append_args;
  decltype(&::dbus_message_get_args) dbus_message_get_args;
  decltype(&::dbus_message_new_method_call) dbus_message_new_method_call;
  decltype(&::dbus_message_set_auto_start) dbus_message_set_auto_start;
  decltype(&::dbus_message_set_no_reply) dbus_message_set_no_reply;
  decltype(&::dbus_message_unref) dbus_message_unref;
  decltype(&::dbus_threads_init_default) dbus_threads_init_default;
};

bool BindBus(const LibrarySymbols& symbols, BusApi& api) {
  return symbols.Resolve("dbus_bus_register", api.dbus_bus_register) &&
         symbols.Resolve("dbus_connection_close", api.dbus_connection_close) &&
         symbols.Resolve("dbus_connection_flush", api.dbus_connection_flush) &&
         symbols.Resolve("dbus_connection_get_is_connected", api.dbus_connection_get_is_connected) &&
         symbols.Resolve("dbus_connection_open_private", api.dbus_connection_open_private) &&
         symbols.Resolve("dbus_connection_send", api.dbus_connection_send) &&
         symbols.Resolve("dbus_connection_send_with_reply_and_block", api.dbus_connection_send_with_reply_and_block) &&
         symbols.Resolve("dbus_connection_set_exit_on_disconnect", api.dbus_connection_set_exit_on_disconnect) &&
         symbols.Resolve("dbus_connection_unref", api.dbus_connection_unref) &&
         symbols.Resolve("dbus_error_free", api.dbus_error_free) &&
         symbols.Resolve("dbus_error_init", api.dbus_error_init) &&
         symbols.Resolve("dbus_message_append_args", api.dbus_message_append_args) &&
         symbols.Resolve("dbus_message_get_args", api.dbus_message_get_args) &&
         symbols.Resolve("dbus_message_new_method_call", api.dbus_message_new_method_call) &&
         symbols.Resolve("dbus_message_set_auto_start", api.dbus_message_set_auto_start) &&
         symbols.Resolve("dbus_message_set_no_reply", api.dbus_message_set_no_reply) &&
         symbols.Resolve("dbus_message_unref", api.dbus_message_unref) &&
         symbols.Resolve("dbus_threads_init_default", api.dbus_threads_init_default);
}

DelayLoaded<BusApi> libdbus("libdbus-1.so.3", BindBus);

struct MessageUnref {
  const BusApi* api;
  void operator()(DBusMessage* message) const { api->dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// One private connection, opened when first needed and again after the bus
// went away. Only the address in the environment is used: no bus is launched.
struct Bus {
  std::mutex lock;
  const BusApi* api = nullptr;
  DBusConnection* connection = nullptr;
};

Bus& TheBus() {
  static Bus* bus = new Bus;
  return *bus;
}

DBusConnection* ConnectLocked(Bus& bus) {
  const BusApi* api = bus.api;
  if (bus.connection != nullptr) {
    if (api->dbus_connection_get_is_connected(bus.connection)) return bus.connection;
    api->dbus_connection_unref(bus.connection);
    bus.connection = nullptr;
  }
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || *address == 0) return nullptr;
  if (api == nullptr) api = bus.api = libdbus.Get();
  if (api == nullptr) return nullptr;
  api->dbus_threads_init_default();
  DBusError error;
  api->dbus_error_init(&error);
  DBusConnection* connection = api->dbus_connection_open_private(address, &error);
  if (connection == nullptr) {
    api->dbus_error_free(&error);
    return nullptr;
  }
  api->dbus_connection_set_exit_on_disconnect(connection, FALSE);
  if (!api->dbus_bus_register(connection, &error)) {
    api->dbus_error_free(&error);
    api->dbus_connection_close(connection);
    api->dbus_connection_unref(connection);
    return nullptr;
  }
  bus.connection = connection;
  return connection;
}

// Calls `method` of `service` with the arguments `append` adds (false when
// they could not be added). With `wait`, gives the reply; without, sends and
// gives null. Null too when there is no bus or no answer came.
template <class Append>
Message CallService(const Service& service, const char* method, bool wait, Append append) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> guard(bus.lock);
  DBusConnection* connection = ConnectLocked(bus);
  if (connection == nullptr) return nullptr;
  const BusApi* api = bus.api;  // loaded: the connection is live
  Message call(api->dbus_message_new_method_call(service.name, service.path, service.interface, method),
               MessageUnref{api});
  if (call == nullptr) return nullptr;
  api->dbus_message_set_auto_start(call.get(), service.auto_start ? TRUE : FALSE);
  if (!append(*api, call.get())) return nullptr;
  if (!wait) {
    api->dbus_message_set_no_reply(call.get(), TRUE);
    api->dbus_connection_send(connection, call.get(), nullptr);
    api->dbus_connection_flush(connection);
    return nullptr;
  }
  DBusError error;
  api->dbus_error_init(&error);
  Message reply(api->dbus_connection_send_with_reply_and_block(connection, call.get(), service.reply_timeout_ms, &error),
                MessageUnref{api});
  api->dbus_error_free(&error);
  return reply;
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
  const std::string application = ApplicationName();
  const char* application_text = application.c_str();
  Message reply = CallService(kScreenSaver, "Inhibit", true, [&](const BusApi& api, DBusMessage* call) {
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

void UnInhibitScreenSaver(uint32_t cookie) {
  dbus_uint32_t value = cookie;
  CallService(kScreenSaver, "UnInhibit", true, [&](const BusApi& api, DBusMessage* call) {
    return api.dbus_message_append_args(call, DBUS_TYPE_UINT32, &value, DBUS_TYPE_INVALID) != 0;
  });
}

void SimulateUserActivity() {
  CallService(kScreenSaver, "SimulateUserActivity", false, [](const BusApi&, DBusMessage*) { return true; });
}

bool ShowItemsInFileManager(const std::vector<std::string>& uris) {
  std::vector<const char*> texts;
  for (const std::string& uri : uris) texts.push_back(uri.c_str());
  const char** items = texts.data();
  const char* startup_id = "";
  Message reply = CallService(kFileManager, "ShowItems", true, [&](const BusApi& api, DBusMessage* call) {
    return api.dbus_message_append_args(call, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &items,
                                        static_cast<int>(texts.size()), DBUS_TYPE_STRING, &startup_id,
                                        DBUS_TYPE_INVALID) != 0;
  });
  return reply != nullptr;
}

}  // namespace w32

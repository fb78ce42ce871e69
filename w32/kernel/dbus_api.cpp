#include "kernel/dbus_api.h"

#include <cerrno>

#include "support/debug_channel.h"
#include "support/delay_load.h"

namespace w32 {
namespace {

bool BindBus(const LibrarySymbols& symbols, BusApi& api) {
  return symbols.Resolve("dbus_bus_add_match", api.dbus_bus_add_match) &&
         symbols.Resolve("dbus_bus_register", api.dbus_bus_register) &&
         symbols.Resolve("dbus_connection_can_send_type", api.dbus_connection_can_send_type) &&
         symbols.Resolve("dbus_connection_close", api.dbus_connection_close) &&
         symbols.Resolve("dbus_connection_flush", api.dbus_connection_flush) &&
         symbols.Resolve("dbus_connection_get_is_connected", api.dbus_connection_get_is_connected) &&
         symbols.Resolve("dbus_connection_open_private", api.dbus_connection_open_private) &&
         symbols.Resolve("dbus_connection_pop_message", api.dbus_connection_pop_message) &&
         symbols.Resolve("dbus_connection_read_write", api.dbus_connection_read_write) &&
         symbols.Resolve("dbus_connection_send", api.dbus_connection_send) &&
         symbols.Resolve("dbus_connection_send_with_reply_and_block", api.dbus_connection_send_with_reply_and_block) &&
         symbols.Resolve("dbus_connection_set_exit_on_disconnect", api.dbus_connection_set_exit_on_disconnect) &&
         symbols.Resolve("dbus_connection_unref", api.dbus_connection_unref) &&
         symbols.Resolve("dbus_error_free", api.dbus_error_free) &&
         symbols.Resolve("dbus_error_is_set", api.dbus_error_is_set) &&
         symbols.Resolve("dbus_error_init", api.dbus_error_init) &&
         symbols.Resolve("dbus_message_append_args", api.dbus_message_append_args) &&
         symbols.Resolve("dbus_message_get_args", api.dbus_message_get_args) &&
         symbols.Resolve("dbus_message_get_sender", api.dbus_message_get_sender) &&
         symbols.Resolve("dbus_message_is_signal", api.dbus_message_is_signal) &&
         symbols.Resolve("dbus_message_new_method_call", api.dbus_message_new_method_call) &&
         symbols.Resolve("dbus_message_set_auto_start", api.dbus_message_set_auto_start) &&
         symbols.Resolve("dbus_message_set_no_reply", api.dbus_message_set_no_reply) &&
         symbols.Resolve("dbus_message_unref", api.dbus_message_unref) &&
         symbols.Resolve("dbus_threads_init_default", api.dbus_threads_init_default);
}

DelayLoaded<BusApi> libdbus("libdbus-1.so.3", BindBus);

}  // namespace

const BusApi* LoadBusApi() { return libdbus.Get(); }

DBusConnection* OpenBus(const BusApi& api, const char* address) {
  api.dbus_threads_init_default();
  DBusError error;
  api.dbus_error_init(&error);
  DBusConnection* connection = api.dbus_connection_open_private(address, &error);
  if (connection == nullptr) {
    W32_DEBUG(kDebugBus, "dbus_connection_open_private %s: %s: %s", address, error.name, error.message);
    api.dbus_error_free(&error);
    return nullptr;
  }
  api.dbus_connection_set_exit_on_disconnect(connection, FALSE);
  if (!api.dbus_bus_register(connection, &error)) {
    W32_DEBUG(kDebugBus, "dbus_bus_register %s: %s: %s", address, error.name, error.message);
    api.dbus_error_free(&error);
    api.dbus_connection_close(connection);
    api.dbus_connection_unref(connection);
    return nullptr;
  }
  return connection;
}

std::string BusApplicationName() {
  std::string name;
  for (const char* c = program_invocation_short_name; *c != 0; ++c) {
    if (*c > 0x20 && *c < 0x7F) name += *c;
  }
  return name.empty() ? "w32" : name;
}

}  // namespace w32

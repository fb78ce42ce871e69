#pragma once
// libdbus, opened when a bus is first used (support/delay_load.h): the calls
// w32 makes on the session and system buses. Without it there is no bus.
#include <dbus/dbus.h>

#include <memory>
#include <string>

namespace w32 {

struct BusApi {
  decltype(&::dbus_bus_add_match) dbus_bus_add_match;
  decltype(&::dbus_bus_register) dbus_bus_register;
  decltype(&::dbus_connection_can_send_type) dbus_connection_can_send_type;
  decltype(&::dbus_connection_close) dbus_connection_close;
  decltype(&::dbus_connection_flush) dbus_connection_flush;
  decltype(&::dbus_connection_get_is_connected) dbus_connection_get_is_connected;
  decltype(&::dbus_connection_open_private) dbus_connection_open_private;
  decltype(&::dbus_connection_pop_message) dbus_connection_pop_message;
  decltype(&::dbus_connection_read_write) dbus_connection_read_write;
  decltype(&::dbus_connection_send) dbus_connection_send;
  decltype(&::dbus_connection_send_with_reply_and_block) dbus_connection_send_with_reply_and_block;
  decltype(&::dbus_connection_set_exit_on_disconnect) dbus_connection_set_exit_on_disconnect;
  decltype(&::dbus_connection_unref) dbus_connection_unref;
  decltype(&::dbus_error_free) dbus_error_free;
  decltype(&::dbus_error_is_set) dbus_error_is_set;
  decltype(&::dbus_error_init) dbus_error_init;
  decltype(&::dbus_message_append_args) dbus_message_append_args;
  decltype(&::dbus_message_get_args) dbus_message_get_args;
  decltype(&::dbus_message_get_sender) dbus_message_get_sender;
  decltype(&::dbus_message_is_signal) dbus_message_is_signal;
  decltype(&::dbus_message_new_method_call) dbus_message_new_method_call;
  decltype(&::dbus_message_set_auto_start) dbus_message_set_auto_start;
  decltype(&::dbus_message_set_no_reply) dbus_message_set_no_reply;
  decltype(&::dbus_message_unref) dbus_message_unref;
  decltype(&::dbus_threads_init_default) dbus_threads_init_default;
};

// Null when libdbus is not there.
const BusApi* LoadBusApi();

struct MessageUnref {
  const BusApi* api;
  void operator()(DBusMessage* message) const { api->dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// A private connection to the bus at `address`, registered on it and not
// ending the process when the bus goes away; null when that fails.
DBusConnection* OpenBus(const BusApi& api, const char* address);

// The program's name as the bus takes it (valid UTF-8: printable ASCII only).
std::string BusApplicationName();

}  // namespace w32

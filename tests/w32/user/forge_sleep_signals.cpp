// What any user of the system bus may send: to every other connection,
// PrepareForSleep(true), a NameOwnerChanged that hands org.freedesktop.login1
// to us, and PrepareForSleep(true) again; ends once the bus has routed it all.
// Usage: forge_sleep_signals BUS_ADDRESS
#include <dbus/dbus.h>

#include <string>

int main(int argc, char** argv) {
  DBusConnection* bus = argc == 2 ? dbus_connection_open_private(argv[1], nullptr) : nullptr;
  if (bus == nullptr || !dbus_bus_register(bus, nullptr)) return 1;
  const char* self = dbus_bus_get_unique_name(bus);
  const char* login = "org.freedesktop.login1";
  const char* none = "";
  const dbus_bool_t sleeping = TRUE;
  DBusMessage* sleep = dbus_message_new_signal("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                               "PrepareForSleep");
  dbus_message_append_args(sleep, DBUS_TYPE_BOOLEAN, &sleeping, DBUS_TYPE_INVALID);
  DBusMessage* moved = dbus_message_new_signal("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged");
  dbus_message_append_args(moved, DBUS_TYPE_STRING, &login, DBUS_TYPE_STRING, &none, DBUS_TYPE_STRING, &self,
                           DBUS_TYPE_INVALID);
  // The bus numbers its connections :1.0, :1.1 ...; ours is the newest.
  for (int n = 0; ":1." + std::to_string(n) != self; ++n) {
    for (DBusMessage* message : {sleep, moved, sleep}) {
      DBusMessage* copy = dbus_message_copy(message);
      dbus_message_set_destination(copy, (":1." + std::to_string(n)).c_str());
      dbus_connection_send(bus, copy, nullptr);
      dbus_message_unref(copy);
    }
  }
  // The bus answers in order: once this is answered, all of the above is on its way.
  DBusMessage* call = dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                   "org.freedesktop.DBus", "GetId");
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, 5000, nullptr);
  const int status = reply != nullptr ? 0 : 1;
  for (DBusMessage* message : {sleep, moved, call, reply}) {
    if (message != nullptr) dbus_message_unref(message);
  }
  dbus_connection_close(bus);
  dbus_connection_unref(bus);
  return status;
}

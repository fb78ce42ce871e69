// What any user of the system bus can send: to every other connection,
// PrepareForSleep(true), then a NameOwnerChanged that hands
// org.freedesktop.login1 to us and PrepareForSleep(true) again. Ends once the
// bus has routed all of it. Usage: forge_sleep_signals BUS_ADDRESS
#include <dbus/dbus.h>

#include <cstring>

namespace {

void SendTo(DBusConnection* bus, DBusMessage* signal, const char* destination) {
  dbus_message_set_destination(signal, destination);
  dbus_connection_send(bus, signal, nullptr);
  dbus_message_unref(signal);
}

DBusMessage* PrepareForSleep() {
  DBusMessage* signal =
      dbus_message_new_signal("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
  dbus_bool_t sleeping = TRUE;
  dbus_message_append_args(signal, DBUS_TYPE_BOOLEAN, &sleeping, DBUS_TYPE_INVALID);
  return signal;
}

DBusMessage* CallBus(DBusConnection* bus, const char* method) {
  DBusMessage* call = dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                   "org.freedesktop.DBus", method);
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, 5000, nullptr);
  dbus_message_unref(call);
  return reply;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  DBusConnection* bus = dbus_connection_open_private(argv[1], nullptr);
  if (bus == nullptr || !dbus_bus_register(bus, nullptr)) return 1;
  const char* self = dbus_bus_get_unique_name(bus);
  DBusMessage* names = CallBus(bus, "ListNames");
  char** list = nullptr;
  int count = 0;
  if (names == nullptr ||
      !dbus_message_get_args(names, nullptr, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &list, &count, DBUS_TYPE_INVALID)) {
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    const char* target = list[i];
    if (target[0] != ':' || std::strcmp(target, self) == 0) continue;
    SendTo(bus, PrepareForSleep(), target);
    DBusMessage* moved = dbus_message_new_signal("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged");
    const char* name = "org.freedesktop.login1";
    const char* before = "";
    dbus_message_append_args(moved, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &before, DBUS_TYPE_STRING, &self,
                             DBUS_TYPE_INVALID);
    SendTo(bus, moved, target);
    SendTo(bus, PrepareForSleep(), target);
  }
  dbus_free_string_array(list);
  dbus_message_unref(names);
  // The bus answers in order: once this is answered, all of the above is on its way.
  DBusMessage* id = CallBus(bus, "GetId");
  if (id == nullptr) return 1;
  dbus_message_unref(id);
  dbus_connection_close(bus);
  dbus_connection_unref(bus);
  return 0;
}

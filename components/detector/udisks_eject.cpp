#include "udisks_eject.h"

#include <dbus/dbus.h>

#include <cstdio>
#include <memory>

namespace detector_component {
namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr int kTimeoutMs = 30000;  // an unmount waits for the disc's buffers

struct MessageUnref {
  void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

struct ConnectionClose {
  void operator()(DBusConnection* connection) const {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
  }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionClose>;

// udisks2 names a block device's object after the device, each character
// other than a letter or digit written as "_" and two hex digits.
std::string BlockObject(const std::string& device) {
  std::string path = "/org/freedesktop/UDisks2/block_devices/";
  for (const char c : device) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      path += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "_%02x", static_cast<unsigned char>(c));
      path += escaped;
    }
  }
  return path;
}

// A call with no options (an empty a{sv}); its reply, null on an error.
Message CallWithoutOptions(DBusConnection* bus, const std::string& object, const char* interface, const char* method) {
  Message call(dbus_message_new_method_call(kService, object.c_str(), interface, method));
  if (!call) return nullptr;
  dbus_message_set_auto_start(call.get(), FALSE);
  DBusMessageIter arguments, options;
  dbus_message_iter_init_append(call.get(), &arguments);
  if (!dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "{sv}", &options) ||
      !dbus_message_iter_close_container(&arguments, &options)) {
    return nullptr;
  }
  DBusError error;
  dbus_error_init(&error);
  Message reply(dbus_connection_send_with_reply_and_block(bus, call.get(), kTimeoutMs, &error));
  dbus_error_free(&error);
  return reply;
}

// The drive object of a block device (its Block interface's Drive property).
std::string DriveObject(DBusConnection* bus, const std::string& block) {
  Message call(dbus_message_new_method_call(kService, block.c_str(), DBUS_INTERFACE_PROPERTIES, "Get"));
  if (!call) return {};
  dbus_message_set_auto_start(call.get(), FALSE);
  const char* interface = "org.freedesktop.UDisks2.Block";
  const char* property = "Drive";
  if (!dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                                DBUS_TYPE_INVALID)) {
    return {};
  }
  DBusError error;
  dbus_error_init(&error);
  Message reply(dbus_connection_send_with_reply_and_block(bus, call.get(), kTimeoutMs, &error));
  dbus_error_free(&error);
  DBusMessageIter value, inside;
  if (!reply || !dbus_message_iter_init(reply.get(), &value) || dbus_message_iter_get_arg_type(&value) != DBUS_TYPE_VARIANT) {
    return {};
  }
  dbus_message_iter_recurse(&value, &inside);
  if (dbus_message_iter_get_arg_type(&inside) != DBUS_TYPE_OBJECT_PATH) return {};
  const char* drive = nullptr;
  dbus_message_iter_get_basic(&inside, &drive);
  return drive != nullptr && std::string(drive) != "/" ? drive : std::string();
}

}  // namespace

bool EjectThroughUdisks(const std::string& device) {
  dbus_threads_init_default();
  DBusError error;
  dbus_error_init(&error);
  Connection bus(dbus_bus_get_private(DBUS_BUS_SYSTEM, &error));
  dbus_error_free(&error);
  if (!bus) return false;
  dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
  const std::string block = BlockObject(device);
  const std::string drive = DriveObject(bus.get(), block);
  return !drive.empty() && CallWithoutOptions(bus.get(), block, "org.freedesktop.UDisks2.Filesystem", "Unmount") &&
         CallWithoutOptions(bus.get(), drive, "org.freedesktop.UDisks2.Drive", "Eject");
}

}  // namespace detector_component

#include "shell/file_manager.h"

#include <cstdlib>

#include "kernel/dbus_api.h"
#include "support/debug_channel.h"

namespace w32 {
namespace {

// A running file manager answers at once; one that does not answer in time
// is left to itself, and the caller opens the folder another way.
constexpr int kReplyTimeoutMs = 1000;

}  // namespace

// A connection of its own for the call: the caller waits for the answer, and
// nothing else waits behind it.
bool ShowItemsInFileManager(const std::vector<std::string>& uris) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || *address == 0) {
    W32_DEBUG(kDebugBus, "org.freedesktop.FileManager1.ShowItems: no session bus (DBUS_SESSION_BUS_ADDRESS unset)");
    return false;
  }
  const BusApi* api = LoadBusApi();
  if (api == nullptr) {
    W32_DEBUG(kDebugBus, "org.freedesktop.FileManager1.ShowItems: libdbus-1 cannot be loaded");
    return false;
  }
  DBusConnection* connection = OpenBus(*api, address);
  if (connection == nullptr) return false;
  bool shown = false;
  Message call(api->dbus_message_new_method_call("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                 "org.freedesktop.FileManager1", "ShowItems"),
               MessageUnref{api});
  std::vector<const char*> texts;
  for (const std::string& uri : uris) texts.push_back(uri.c_str());
  const char** items = texts.data();
  const char* startup_id = "";
  if (call != nullptr) api->dbus_message_set_auto_start(call.get(), FALSE);  // starting one takes longer
  if (call != nullptr &&
      api->dbus_message_append_args(call.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &items,
                                    static_cast<int>(texts.size()), DBUS_TYPE_STRING, &startup_id,
                                    DBUS_TYPE_INVALID)) {
    DBusError error;
    api->dbus_error_init(&error);
    Message reply(api->dbus_connection_send_with_reply_and_block(connection, call.get(), kReplyTimeoutMs, &error),
                  MessageUnref{api});
    if (reply == nullptr) W32_DEBUG(kDebugBus, "org.freedesktop.FileManager1.ShowItems: %s: %s",
                                    error.name, error.message);
    api->dbus_error_free(&error);
    shown = reply != nullptr;
  }
  call.reset();
  api->dbus_connection_close(connection);
  api->dbus_connection_unref(connection);
  return shown;
}

}  // namespace w32

// Sleep and resume as WM_POWERBROADCAST, over org.freedesktop.login1 on the
// system bus (DBUS_SYSTEM_BUS_ADDRESS, else the system's socket).
//
// While it runs, the thread holds a delay inhibitor, so the system waits
// (up to its InhibitDelayMaxSec) before it sleeps. PrepareForSleep(true)
// becomes PBT_APMSUSPEND, sent to every top-level window; once each has
// answered (or been given up on), the inhibitor is let go and the system
// sleeps. PrepareForSleep(false) becomes PBT_APMRESUMEAUTOMATIC, then
// PBT_APMRESUMESUSPEND, in the platform's order, and the inhibitor is taken
// again. Linux has no sleep query a program may refuse, so
// PBT_APMQUERYSUSPEND never comes from here.
//
// Anyone on the bus may send a signal addressed to us: PrepareForSleep counts
// only from the connection that owns org.freedesktop.login1 now, as the bus
// itself tells (GetNameOwner, then its NameOwnerChanged signals).
#include "user/power_events.h"

#include <unistd.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "host/host.h"
#include "kernel/dbus_api.h"

namespace w32::user {
namespace {

constexpr char kLogin[] = "org.freedesktop.login1";
constexpr char kLoginPath[] = "/org/freedesktop/login1";
constexpr char kManager[] = "org.freedesktop.login1.Manager";
constexpr char kSleepSignals[] =
    "type='signal',sender='org.freedesktop.login1',interface='org.freedesktop.login1.Manager',"
    "member='PrepareForSleep',path='/org/freedesktop/login1'";
constexpr char kBus[] = "org.freedesktop.DBus";
constexpr char kLoginOwnerChanges[] =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
    "arg0='org.freedesktop.login1'";
constexpr char kDefaultSystemBus[] = "unix:path=/var/run/dbus/system_bus_socket";
constexpr int kReplyTimeoutMs = 5000;

// A delay inhibitor of sleep: the descriptor whose closing lets it go; -1
// when the login manager refused it or is not there.
int TakeDelayInhibitor(const BusApi& api, DBusConnection* connection) {
  Message call(api.dbus_message_new_method_call(kLogin, kLoginPath, kManager, "Inhibit"), MessageUnref{&api});
  if (call == nullptr) return -1;
  const std::string who = BusApplicationName();
  const char* what = "sleep";
  const char* who_text = who.c_str();
  const char* why = "Windows are told of the sleep first";
  const char* mode = "delay";
  if (!api.dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &what, DBUS_TYPE_STRING, &who_text,
                                    DBUS_TYPE_STRING, &why, DBUS_TYPE_STRING, &mode, DBUS_TYPE_INVALID)) {
    return -1;
  }
  DBusError error;
  api.dbus_error_init(&error);
  Message reply(api.dbus_connection_send_with_reply_and_block(connection, call.get(), kReplyTimeoutMs, &error),
                MessageUnref{&api});
  int fd = -1;
  if (reply == nullptr || !api.dbus_message_get_args(reply.get(), &error, DBUS_TYPE_UNIX_FD, &fd, DBUS_TYPE_INVALID)) {
    fd = -1;
  }
  api.dbus_error_free(&error);
  return fd;
}

// The unique name of the connection that owns org.freedesktop.login1 now;
// empty when none does.
std::string LoginOwner(const BusApi& api, DBusConnection* connection) {
  Message call(api.dbus_message_new_method_call(kBus, "/org/freedesktop/DBus", kBus, "GetNameOwner"),
               MessageUnref{&api});
  const char* name = kLogin;
  if (call == nullptr || !api.dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
    return std::string();
  }
  DBusError error;
  api.dbus_error_init(&error);
  Message reply(api.dbus_connection_send_with_reply_and_block(connection, call.get(), kReplyTimeoutMs, &error),
                MessageUnref{&api});
  const char* owner = nullptr;
  std::string found;
  if (reply != nullptr && api.dbus_message_get_args(reply.get(), &error, DBUS_TYPE_STRING, &owner, DBUS_TYPE_INVALID)) {
    found = owner;
  }
  api.dbus_error_free(&error);
  return found;
}

// A NameOwnerChanged of the bus itself (no other connection can speak as
// org.freedesktop.DBus) that moves org.freedesktop.login1: its new owner.
bool LoginOwnerChange(const BusApi& api, DBusMessage* message, std::string* owner) {
  const char* sender = api.dbus_message_get_sender(message);
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  if (!api.dbus_message_is_signal(message, kBus, "NameOwnerChanged") || sender == nullptr ||
      std::strcmp(sender, kBus) != 0 ||
      !api.dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &old_owner,
                                 DBUS_TYPE_STRING, &new_owner, DBUS_TYPE_INVALID) ||
      std::strcmp(name, kLogin) != 0) {
    return false;
  }
  *owner = new_owner;
  return true;
}

void BroadcastPower(WPARAM event) { host::Broadcast(WM_POWERBROADCAST, event); }

void WatchPowerEvents() {
  const BusApi* api = LoadBusApi();
  if (api == nullptr) return;
  const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  DBusConnection* connection = OpenBus(*api, address != nullptr && *address != 0 ? address : kDefaultSystemBus);
  if (connection == nullptr) return;
  DBusError error;
  api->dbus_error_init(&error);
  api->dbus_bus_add_match(connection, kSleepSignals, &error);
  if (!api->dbus_error_is_set(&error)) api->dbus_bus_add_match(connection, kLoginOwnerChanges, &error);
  // Asked once its changes are watched, so that none is missed.
  std::string owner = LoginOwner(*api, connection);
  int inhibitor = -1;
  if (!api->dbus_error_is_set(&error) && api->dbus_connection_can_send_type(connection, DBUS_TYPE_UNIX_FD)) {
    inhibitor = TakeDelayInhibitor(*api, connection);
  }
  api->dbus_error_free(&error);
  // Without a first inhibitor there is no login manager to listen to.
  const bool listening = inhibitor >= 0;
  while (listening && api->dbus_connection_read_write(connection, -1)) {
    while (DBusMessage* raw = api->dbus_connection_pop_message(connection)) {
      Message message(raw, MessageUnref{api});
      if (LoginOwnerChange(*api, raw, &owner)) continue;
      const char* sender = api->dbus_message_get_sender(raw);
      dbus_bool_t sleeping = FALSE;
      if (!api->dbus_message_is_signal(raw, kManager, "PrepareForSleep") || sender == nullptr || owner != sender ||
          !api->dbus_message_get_args(raw, nullptr, DBUS_TYPE_BOOLEAN, &sleeping, DBUS_TYPE_INVALID)) {
        continue;
      }
      if (sleeping) {
        BroadcastPower(PBT_APMSUSPEND);
        if (inhibitor >= 0) ::close(inhibitor);
        inhibitor = -1;
      } else {
        BroadcastPower(PBT_APMRESUMEAUTOMATIC);
        BroadcastPower(PBT_APMRESUMESUSPEND);
        if (inhibitor < 0) inhibitor = TakeDelayInhibitor(*api, connection);
      }
    }
  }
  if (inhibitor >= 0) ::close(inhibitor);
  api->dbus_connection_close(connection);
  api->dbus_connection_unref(connection);
}

}  // namespace

void StartPowerEvents() {
  static std::once_flag started;
  std::call_once(started, [] { std::thread(WatchPowerEvents).detach(); });
}

}  // namespace w32::user

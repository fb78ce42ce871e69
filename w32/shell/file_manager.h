#pragma once
// The desktop's file manager on the session bus (org.freedesktop.FileManager1).
#include <string>
#include <vector>

namespace w32 {

// Asks the running file manager to show the items (file URIs) selected in
// their folders, on the bus DBUS_SESSION_BUS_ADDRESS names; true when it
// answered without an error within a second. None is started for the call.
bool ShowItemsInFileManager(const std::vector<std::string>& uris);

}  // namespace w32

#pragma once
// The desktop's services on the session bus: the screen saver
// (org.freedesktop.ScreenSaver) and the file manager
// (org.freedesktop.FileManager1). Without a session bus, or on a desktop that
// does not offer the service, every call fails quietly: nothing here is
// required for the rest to work.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace w32 {

// Holds off the screen saver and idle actions until UnInhibitScreenSaver;
// the cookie names the inhibit.
std::optional<uint32_t> InhibitScreenSaver(const char* reason);
void UnInhibitScreenSaver(uint32_t cookie);
// Counts as user activity: the idle timers start again. Does not wait.
void SimulateUserActivity();

// Asks the file manager to show the items (file URIs) selected in their
// folders; true when it answered without an error.
bool ShowItemsInFileManager(const std::vector<std::string>& uris);

}  // namespace w32

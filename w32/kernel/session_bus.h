#pragma once
// The desktop's screen saver on the session bus (org.freedesktop.ScreenSaver).
// Without a session bus, or on a desktop that does not offer the service,
// every call fails quietly: nothing here is required for the rest to work.
#include <cstdint>
#include <optional>

namespace w32 {

// Holds off the screen saver and idle actions until UnInhibitScreenSaver;
// the cookie names the inhibit.
std::optional<uint32_t> InhibitScreenSaver(const char* reason);
void UnInhibitScreenSaver(uint32_t cookie);
// Counts as user activity: the idle timers start again. Does not wait.
void SimulateUserActivity();

}  // namespace w32

#pragma once
// The desktop's screen saver on the session bus (org.freedesktop.ScreenSaver).
// Without a session bus, or on a desktop that does not offer the service,
// every call fails quietly: nothing here is required for the rest to work.
//
// The calls run in order on the bus's own thread, so a caller never waits
// for the bus, however slow it answers; each goes to the bus that
// DBUS_SESSION_BUS_ADDRESS named when it was made.

namespace w32 {

// Holds off the screen saver and idle actions while wanted; an inhibit that
// was refused is asked for again at the next call that wants it.
void WantScreenSaverInhibited(bool wanted);
// Counts as user activity: the idle timers start again.
void SimulateUserActivity();

}  // namespace w32

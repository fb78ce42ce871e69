#pragma once
// The system's power events, as the platform broadcasts them to top-level windows.

namespace w32::user {

// Starts, once per process, the thread that turns the login manager's sleep
// signals into WM_POWERBROADCAST broadcasts. Without a system bus or a login
// manager on it, the thread ends at once and nothing is broadcast.
void StartPowerEvents();

}  // namespace w32::user

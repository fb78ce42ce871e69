#pragma once
// System parameters that other parts of user read.

namespace w32::user {

// SPI_SETBLOCKSENDINPUTRESETS: whether simulated input counts as user activity.
bool SimulatedInputResetsIdle();

}  // namespace w32::user

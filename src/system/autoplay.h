#pragma once
// Cancelling AutoPlay: a CQueryCancelAutoplay in the Running Object Table
// under the class moniker the shell looks for.
namespace device {

// True when the registration succeeded (a success code).
bool RegisterCancelAutoplay();
// True unless the platform does not qualify.
bool UnregisterCancelAutoplay();

}  // namespace device

#pragma once
// Eject as the desktop does it: the kernel refuses CDROMEJECT while a mount
// holds the drive, so udisks2 on the system bus unmounts the disc's file
// system, then ejects the drive.
#include <string>

namespace detector_component {

// Asks udisks2 (org.freedesktop.UDisks2 on DBUS_SYSTEM_BUS_ADDRESS, else the
// system's bus) to unmount the block device ("sr0") and eject its drive.
// False when there is no such service or it refuses.
bool EjectThroughUdisks(const std::string& device);

}  // namespace detector_component

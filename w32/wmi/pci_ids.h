#pragma once
// Names of PCI devices from the pci.ids database.
#include <optional>
#include <string>

namespace w32::wmi {

struct PciIdentity {
  unsigned vendor;
  unsigned device;
  unsigned subsystem_vendor;
  unsigned subsystem_device;
};

// The device's own name (a subsystem entry names the computer or card model
// it is built into, not the device); none when the device is not listed or
// the database cannot be read.
std::optional<std::string> PciDeviceName(const std::string& database, const PciIdentity& identity);

}  // namespace w32::wmi

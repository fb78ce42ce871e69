#include "wmi/wmi_classes.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/sysroot.h"
#include "support/text.h"
#include "wmi/pci_ids.h"

namespace w32::wmi {
namespace {

// The first line of a small system file without surrounding white space;
// none when the file is missing or empty.
std::optional<std::string> ReadValue(const std::string& absolute) {
  const std::string text = ReadSysText(absolute);
  if (text.empty()) return std::nullopt;
  const std::string line = text.substr(0, text.find('\n'));
  const size_t first = line.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<unsigned> ReadHex(const std::string& absolute) {
  const std::optional<std::string> text = ReadValue(absolute);
  if (!text.has_value() || text->empty()) return std::nullopt;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text->c_str(), &end, 16);
  if (*end != 0 || value > 0xFFFFFFFFul) return std::nullopt;
  return static_cast<unsigned>(value);
}

Property Text(const char16_t* name, const std::optional<std::string>& value) {
  return {name, CIM_STRING, value.has_value() ? std::optional<std::u16string>(ToUtf16(*value)) : std::nullopt};
}

// One enclosure; its maker from the DMI chassis vendor, else the system
// vendor; null on a machine without DMI.
std::vector<Instance> SystemEnclosures() {
  std::optional<std::string> maker;
  for (const char* file : {"/sys/class/dmi/id/chassis_vendor", "/sys/class/dmi/id/sys_vendor"}) {
    maker = ReadValue(file);
    if (maker.has_value() && !maker->empty()) break;
    maker.reset();
  }
  return {{u"Win32_SystemEnclosure", {Text(u"Manufacturer", maker)}}};
}

// The machine; its memory from MemTotal of /proc/meminfo, in bytes.
std::vector<Instance> ComputerSystems() {
  std::optional<std::u16string> total;
  std::ifstream meminfo(SysPath("/proc/meminfo"));
  std::string line;
  while (std::getline(meminfo, line)) {
    unsigned long long kilobytes = 0;
    char unit[8] = {};
    if (std::sscanf(line.c_str(), "MemTotal: %llu %7s", &kilobytes, unit) == 2 && std::string(unit) == "kB") {
      total = ToUtf16(std::to_string(kilobytes * 1024));
      break;
    }
  }
  return {{u"Win32_ComputerSystem", {{u"TotalPhysicalMemory", CIM_UINT64, total}}}};
}

struct DisplayDevice {
  std::string address;  // domain:bus:device.function
  bool boot_display;
};

// PCI display controllers (class 0x03), the boot display device first, then
// in address order.
std::vector<DisplayDevice> DisplayDevices() {
  std::vector<DisplayDevice> devices;
  if (DIR* folder = ::opendir(SysPath("/sys/bus/pci/devices").c_str())) {
    while (const dirent* entry = ::readdir(folder)) {
      const std::string address = entry->d_name;
      if (address[0] == '.') continue;
      const std::string base = "/sys/bus/pci/devices/" + address;
      const std::optional<unsigned> device_class = ReadHex(base + "/class");
      if (!device_class.has_value() || (*device_class >> 16) != 0x03) continue;
      devices.push_back({address, ReadValue(base + "/boot_vga") == std::optional<std::string>("1")});
    }
    ::closedir(folder);
  }
  std::sort(devices.begin(), devices.end(), [](const DisplayDevice& a, const DisplayDevice& b) {
    return a.boot_display != b.boot_display ? a.boot_display : a.address < b.address;
  });
  return devices;
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// The platform's PCI device instance: hardware identifiers, then an instance
// part whose last field is the device and function number.
std::string PnpDeviceId(const std::string& address, const PciIdentity& identity, unsigned revision) {
  unsigned domain = 0, bus = 0, slot = 0, function = 0;
  std::sscanf(address.c_str(), "%x:%x:%x.%x", &domain, &bus, &slot, &function);
  return "PCI\\VEN_" + Hex(identity.vendor, 4) + "&DEV_" + Hex(identity.device, 4) + "&SUBSYS_" +
         Hex(identity.subsystem_device, 4) + Hex(identity.subsystem_vendor, 4) + "&REV_" + Hex(revision, 2) +
         "\\3&" + Hex((domain << 8) | bus, 8) + "&0&" + Hex((slot << 3) | function, 2);
}

// Each display controller; its name from pci.ids, else the platform's name for
// a display adapter without a driver of its own.
std::vector<Instance> VideoControllers() {
  std::string database = SysPath("/usr/share/misc/pci.ids");
  if (std::ifstream(database).fail()) database = SysPath("/usr/share/hwdata/pci.ids");
  std::vector<Instance> instances;
  for (const DisplayDevice& device : DisplayDevices()) {
    const std::string base = "/sys/bus/pci/devices/" + device.address;
    const PciIdentity identity{ReadHex(base + "/vendor").value_or(0), ReadHex(base + "/device").value_or(0),
                               ReadHex(base + "/subsystem_vendor").value_or(0),
                               ReadHex(base + "/subsystem_device").value_or(0)};
    const std::string name = PciDeviceName(database, identity).value_or("Microsoft Basic Display Adapter");
    instances.push_back({u"Win32_VideoController",
                         {Text(u"Caption", name), Text(u"Description", name),
                          Text(u"PNPDeviceID", PnpDeviceId(device.address, identity,
                                                           ReadHex(base + "/revision").value_or(0)))}});
  }
  return instances;
}

const WmiClass kClasses[] = {
    {u"Win32_SystemEnclosure", {u"Manufacturer"}, &SystemEnclosures},
    {u"Win32_ComputerSystem", {u"TotalPhysicalMemory"}, &ComputerSystems},
    {u"Win32_VideoController", {u"Caption", u"Description", u"PNPDeviceID"}, &VideoControllers},
};

}  // namespace

const WmiClass* FindClass(std::u16string_view name) {
  for (const WmiClass& wmi_class : kClasses) {
    if (AsciiLower(wmi_class.name) == AsciiLower(name)) return &wmi_class;
  }
  return nullptr;
}

std::optional<std::u16string> FindPropertyName(const WmiClass& wmi_class, std::u16string_view name) {
  for (const std::u16string& property : wmi_class.property_names) {
    if (AsciiLower(property) == AsciiLower(name)) return property;
  }
  return std::nullopt;
}

}  // namespace w32::wmi

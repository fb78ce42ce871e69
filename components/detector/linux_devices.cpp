#include "linux_devices.h"

#include "support/sysroot.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace detector_component {
namespace {

std::vector<std::string> Entries(std::string_view absolute) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(w32::SysPath(absolute).c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool IsCard(const std::string& name) {
  return name.size() > 4 && name.compare(0, 4, "card") == 0 &&
         std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// mountinfo writes space, tab, newline and backslash as three octal digits.
std::string Unescaped(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      out += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

}  // namespace

std::string DriveDevice(BYTE drive) {
  if (drive >= 26) return {};
  const WCHAR name[] = {static_cast<WCHAR>(u'A' + drive), u':', 0};
  WCHAR target[MAX_PATH];
  if (QueryDosDeviceW(name, target, MAX_PATH) == 0) return {};
  std::string path;
  for (const WCHAR* c = target; *c != 0; ++c) path += static_cast<char>(*c < 0x80 ? *c : '?');
  if (path.compare(0, 5, "/dev/") != 0) return {};
  return path.substr(5);
}

bool IsOpticalDevice(std::string_view device) {
  return device.size() > 2 && device.substr(0, 2) == "sr" &&
         std::all_of(device.begin() + 2, device.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string MountPointOf(const std::string& device) {
  std::istringstream table(w32::ReadSysText("/proc/self/mountinfo"));
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, point, field;
    if (!(fields >> id >> parent >> numbers >> root >> point)) continue;
    while (fields >> field && field != "-") {
    }
    std::string fstype, source;
    if (field == "-" && fields >> fstype >> source && Unescaped(source) == "/dev/" + device) return Unescaped(point);
  }
  return {};
}

DWORD OpticalDriveKind(std::string_view capability_table, const std::string& device) {
  std::istringstream table{std::string(capability_table)};
  std::string line;
  int column = -1;
  DWORD kind = 0;
  // From the least to the most a drive can do; the last it can do gives its kind.
  const std::pair<const char*, DWORD> abilities[] = {
      {"Can write CD-R", 2}, {"Can write CD-RW", 3}, {"Can read DVD", 4}, {"Can write DVD-R", 5},
      {"Can write DVD-RAM", 6}};
  std::vector<std::pair<DWORD, bool>> found;
  while (std::getline(table, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(0, colon);
    std::istringstream values(line.substr(colon + 1));
    std::vector<std::string> columns;
    for (std::string value; values >> value;) columns.push_back(value);
    if (key == "drive name") {
      const auto at = std::find(columns.begin(), columns.end(), device);
      if (at == columns.end()) return 0;
      column = static_cast<int>(at - columns.begin());
      kind = 1;
      continue;
    }
    if (column < 0 || column >= static_cast<int>(columns.size())) continue;
    for (const auto& [name, code] : abilities) {
      if (key == name) found.emplace_back(code, columns[column] == "1");
    }
  }
  for (const auto& [code, can] : found) {
    if (can) kind = std::max(kind, code);
  }
  return kind;
}

std::string FactoryName(const std::string& device) {
  for (const std::string& base : {"/sys/class/block/" + device + "/device", "/sys/class/block/" + device + "/../device"}) {
    // Buses other than SCSI (virtio, for one) put a numeric id there, not a name.
    const auto name = [](std::string value) { return value.compare(0, 2, "0x") == 0 ? std::string() : value; };
    const std::string vendor = name(w32::ReadSysValue(base + "/vendor"));
    const std::string model = name(w32::ReadSysValue(base + "/model"));
    if (vendor.empty() && model.empty()) continue;
    return vendor.empty() || model.empty() ? vendor + model : vendor + " " + model;
  }
  return {};
}

bool DisplayAdapter(DWORD* vendor, DWORD* device) {
  std::string chosen;
  for (const std::string& name : Entries("/sys/class/drm")) {
    if (!IsCard(name)) continue;
    if (chosen.empty()) chosen = name;
    if (w32::ReadSysValue("/sys/class/drm/" + name + "/device/boot_vga") == "1") {
      chosen = name;
      break;
    }
  }
  if (chosen.empty()) return false;
  const std::string vendor_id = w32::ReadSysValue("/sys/class/drm/" + chosen + "/device/vendor");
  const std::string device_id = w32::ReadSysValue("/sys/class/drm/" + chosen + "/device/device");
  if (vendor_id.empty() || device_id.empty()) return false;
  *vendor = static_cast<DWORD>(std::strtoul(vendor_id.c_str(), nullptr, 16));
  *device = static_cast<DWORD>(std::strtoul(device_id.c_str(), nullptr, 16));
  return true;
}

int ConnectedDisplays() {
  const std::vector<std::string> names = Entries("/sys/class/drm");
  if (names.empty()) return -1;
  int connected = 0;
  for (const std::string& name : names) {
    // Connectors are named after their card: "card0-HDMI-A-1".
    if (name.compare(0, 4, "card") == 0 && name.find('-') != std::string::npos &&
        w32::ReadSysValue("/sys/class/drm/" + name + "/status") == "connected") {
      ++connected;
    }
  }
  return connected;
}

std::string FirstCamera() {
  // Interfaces are named "BUS-PORT:CONFIG.INTERFACE" beside their device "BUS-PORT".
  for (const std::string& name : Entries("/sys/bus/usb/devices")) {
    const size_t colon = name.find(':');
    if (colon == std::string::npos || w32::ReadSysValue("/sys/bus/usb/devices/" + name + "/bInterfaceClass") != "06") {
      continue;
    }
    const std::string device = "/sys/bus/usb/devices/" + name.substr(0, colon);
    const std::string maker = w32::ReadSysValue(device + "/manufacturer");
    const std::string product = w32::ReadSysValue(device + "/product");
    if (!maker.empty() && !product.empty()) return product.compare(0, maker.size(), maker) == 0 ? product : maker + " " + product;
    if (!maker.empty() || !product.empty()) return maker + product;
    return w32::ReadSysValue(device + "/idVendor") + ":" + w32::ReadSysValue(device + "/idProduct");
  }
  for (const std::string& name : Entries("/sys/class/video4linux")) {
    const std::string index = w32::ReadSysValue("/sys/class/video4linux/" + name + "/index");
    if (!index.empty() && index != "0") continue;  // a camera's further nodes (metadata)
    const std::string camera = w32::ReadSysValue("/sys/class/video4linux/" + name + "/name");
    if (!camera.empty()) return camera;
  }
  return {};
}

std::u16string Utf16(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const int extra = byte < 0x80 ? 0 : byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : -1;
    char32_t c = extra == 0 ? byte : extra == 1 ? byte & 0x1F : extra == 2 ? byte & 0x0F : byte & 0x07;
    bool good = extra >= 0 && i + extra < text.size();
    for (int k = 1; good && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      good = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    i += good ? extra + 1 : 1;
    if (!good || c > 0x10FFFF) c = 0xFFFD;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace detector_component

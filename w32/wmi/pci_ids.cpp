#include "wmi/pci_ids.h"

#include <fstream>

namespace w32::wmi {
namespace {

// "xxxx" followed by two spaces and the name, after `tabs` tabs.
bool ParseEntry(const std::string& line, size_t tabs, unsigned* id, std::string* name) {
  if (line.size() < tabs + 6 || line.compare(0, tabs, std::string(tabs, '\t')) != 0 || line[tabs] == '\t') {
    return false;
  }
  size_t used = 0;
  try {
    *id = static_cast<unsigned>(std::stoul(line.substr(tabs, 4), &used, 16));
  } catch (const std::exception&) {
    return false;
  }
  if (used != 4 || line[tabs + 4] != ' ') return false;
  const size_t start = line.find_first_not_of(' ', tabs + 4);
  if (start == std::string::npos) return false;
  *name = line.substr(start);
  return true;
}

}  // namespace

std::optional<std::string> PciDeviceName(const std::string& database, const PciIdentity& identity) {
  std::ifstream file(database);
  std::string line;
  bool in_vendor = false;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    unsigned id = 0;
    std::string name;
    if (line[0] != '\t') {
      if (in_vendor || line.compare(0, 2, "C ") == 0) break;  // past the vendor, or into the class list
      in_vendor = ParseEntry(line, 0, &id, &name) && id == identity.vendor;
    } else if (in_vendor && ParseEntry(line, 1, &id, &name) && id == identity.device) {
      return name;
    }
  }
  return std::nullopt;
}

}  // namespace w32::wmi

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "support/sysroot.h"

namespace w32 {
namespace {

constexpr unsigned long kInterfaceUp = 0x1;        // IFF_UP
constexpr unsigned long kInterfaceLoopback = 0x8;  // IFF_LOOPBACK

bool IsUsableInterface(const std::string& name) {
  const std::string flags = ReadSysValue("/sys/class/net/" + name + "/flags");
  if (flags.empty()) return false;
  const unsigned long value = std::strtoul(flags.c_str(), nullptr, 16);
  return (value & kInterfaceUp) != 0 && (value & kInterfaceLoopback) == 0;
}

// IPv4: "Iface Destination Gateway Flags ... Mask ...", hexadecimal; the
// default route has destination and mask 0 and the route's RTF_UP flag.
bool HasIpv4DefaultRoute() {
  std::istringstream table(ReadSysText("/proc/net/route"));
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string name, destination, gateway, flags, refcnt, use, metric, mask;
    if (!(fields >> name >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
    const bool route_up = (std::strtoul(flags.c_str(), nullptr, 16) & 0x1) != 0;
    if (std::strtoul(destination.c_str(), nullptr, 16) == 0 && std::strtoul(mask.c_str(), nullptr, 16) == 0 &&
        route_up && IsUsableInterface(name)) {
      return true;
    }
  }
  return false;
}

// IPv6: "destination prefix-length source source-length next-hop metric refcnt use flags iface".
bool HasIpv6DefaultRoute() {
  std::istringstream table(ReadSysText("/proc/net/ipv6_route"));
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string destination, length, source, source_length, next_hop, metric, refcnt, use, flags, name;
    if (!(fields >> destination >> length >> source >> source_length >> next_hop >> metric >> refcnt >> use >>
          flags >> name)) {
      continue;
    }
    const bool route_up = (std::strtoul(flags.c_str(), nullptr, 16) & 0x1) != 0;
    if (destination == std::string(32, '0') && length == "00" && route_up && IsUsableInterface(name)) return true;
  }
  return false;
}

}  // namespace
}  // namespace w32

// InternetGetConnectedState: connected over the LAN when a default route
// leads through an interface that is up and not the loopback.
BOOL WINAPI InternetGetConnectedState(LPDWORD flags, DWORD) {
  const bool connected = w32::HasIpv4DefaultRoute() || w32::HasIpv6DefaultRoute();
  if (flags != nullptr) *flags = connected ? INTERNET_CONNECTION_LAN : 0;
  return connected ? TRUE : FALSE;
}

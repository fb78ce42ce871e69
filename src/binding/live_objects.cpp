#include "binding/live_objects.h"

#include <unordered_map>

namespace device::binding {
namespace {

struct LiveObject {
  const TypeRecord* type;
  uint64_t serial;
};

// Guarded by the interpreter lock, like every entry point.
std::unordered_map<const void*, LiveObject>& Objects() {
  static auto* objects = new std::unordered_map<const void*, LiveObject>;
  return *objects;
}

uint64_t last_serial = 0;

}  // namespace

uint64_t AddLiveObject(const void* address, const TypeRecord* type) {
  Objects()[address] = LiveObject{type, ++last_serial};
  return last_serial;
}

void RemoveLiveObject(const void* address) { Objects().erase(address); }

bool IsLiveObject(const void* address, const TypeRecord* type, uint64_t serial) {
  auto it = Objects().find(address);
  return it != Objects().end() && it->second.type == type && (serial == 0 || it->second.serial == serial);
}

}  // namespace device::binding

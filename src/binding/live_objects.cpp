#include "binding/live_objects.h"

#include <unordered_map>

namespace device::binding {
namespace {

// Guarded by the interpreter lock, like every entry point.
std::unordered_map<const void*, const TypeRecord*>& Objects() {
  static auto* objects = new std::unordered_map<const void*, const TypeRecord*>;
  return *objects;
}

}  // namespace

void AddLiveObject(const void* address, const TypeRecord* type) { Objects()[address] = type; }

void RemoveLiveObject(const void* address) { Objects().erase(address); }

bool IsLiveObject(const void* address, const TypeRecord* type) {
  auto it = Objects().find(address);
  return it != Objects().end() && it->second == type;
}

}  // namespace device::binding

#pragma once
// The native objects that new_X made and delete_X has not destroyed, so that a
// class entry point never calls a service on a destroyed object. Each gets a
// serial, never reused, that its wrappers carry: a wrapper of a destroyed
// object is refused even when a new object took its address.
#include <cstdint>

#include "binding/type_registry.h"

namespace device::binding {

// The new object's serial.
uint64_t AddLiveObject(const void* address, const TypeRecord* type);
void RemoveLiveObject(const void* address);
// Serial 0 is a wrapper that carries none (another module's): address and type decide.
bool IsLiveObject(const void* address, const TypeRecord* type, uint64_t serial);

}  // namespace device::binding

#pragma once
// The native objects that new_X made and delete_X has not destroyed, so that a
// class entry point never calls a service on a destroyed object.
#include "binding/type_registry.h"

namespace device::binding {

void AddLiveObject(const void* address, const TypeRecord* type);
void RemoveLiveObject(const void* address);
bool IsLiveObject(const void* address, const TypeRecord* type);

}  // namespace device::binding

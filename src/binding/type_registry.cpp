#include "binding/type_registry.h"

#include <cstring>

#include "binding/wrapper.h"

namespace device::binding {
namespace {

const char kRegistryModule[] = "swig_runtime_data3";
const char kRegistryAttribute[] = "type_pointer";
const char kRegistryCapsule[] = "swig_runtime_data3.type_pointer";  // Python 3: the capsule's own name

// The head of the ring, once found or made; kept for the life of the module.
ModuleTypeTable* registry_head = nullptr;

PyMethodDef kNoFunctions[] = {{nullptr, nullptr, 0, nullptr}};
pycompat::ModuleDefinition registry_definition{kRegistryModule, nullptr, kNoFunctions};

TypeRecord* BinarySearch(const ModuleTypeTable* table, const char* name) {
  size_t low = 0;
  size_t high = table->size;
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const int order = std::strcmp(name, table->types[middle]->name);
    if (order == 0) return table->types[middle];
    if (order < 0) high = middle;
    else low = middle + 1;
  }
  return nullptr;
}

// Searches every other table of the ring, starting after `own`.
TypeRecord* FindInOthers(const ModuleTypeTable* own, const char* name) {
  for (const ModuleTypeTable* table = own->next; table != own; table = table->next) {
    if (TypeRecord* found = BinarySearch(table, name)) return found;
  }
  return nullptr;
}

bool HasCastNamed(const TypeRecord* record, const char* name) {
  for (const CastEntry* entry = record->casts; entry != nullptr; entry = entry->next) {
    if (std::strcmp(entry->type->name, name) == 0) return true;
  }
  return false;
}

void PushCast(TypeRecord* record, CastEntry* entry) {
  entry->prev = nullptr;
  entry->next = record->casts;
  if (record->casts != nullptr) record->casts->prev = entry;
  record->casts = entry;
}

// Runs when the interpreter destroys "type_pointer", at its end.
void ReleaseRegistry(void* pointer) {
  auto* head = static_cast<ModuleTypeTable*>(pointer);
  for (size_t i = 0; i < head->size; ++i) {
    TypeRecord* record = head->types[i];
    auto* data = static_cast<ClassData*>(record->class_data);
    if (record->owns_class_data && data != nullptr) {
      Py_XDECREF(data->instance_maker);
      Py_XDECREF(data->maker_arguments);
      Py_XDECREF(data->destroy);
    }
  }
  ReleaseThisName();
}

ModuleTypeTable* ImportRegistry() {
  void* pointer = pycompat::ImportPointer(kRegistryModule, kRegistryAttribute, kRegistryCapsule);
  if (pointer == nullptr) PyErr_Clear();
  return static_cast<ModuleTypeTable*>(pointer);
}

void CreateRegistry(ModuleTypeTable* table) {
  PyObject* module = pycompat::CreateModule(registry_definition);
  PyObject* pointer = pycompat::PointerObject<ReleaseRegistry>(table, kRegistryCapsule);
  if (pointer != nullptr && (module == nullptr || PyModule_AddObject(module, kRegistryAttribute, pointer) != 0)) {
    Py_DECREF(pointer);
  }
  Py_XDECREF(module);
}

}  // namespace

void JoinTypeRegistry(ModuleTypeTable* table) {
  if (table->next == nullptr) table->next = table;  // first join: a ring of one

  if (registry_head == nullptr) registry_head = ImportRegistry();
  if (registry_head == nullptr) {
    CreateRegistry(table);
    registry_head = table;
  } else {
    const ModuleTypeTable* walk = registry_head;
    do {
      if (walk == table) return;  // joined before (a reload)
      walk = walk->next;
    } while (walk != registry_head);
    table->next = registry_head->next;
    registry_head->next = table;
  }

  for (size_t i = 0; i < table->size; ++i) {
    TypeRecord* own = table->initial[i];
    TypeRecord* resolved = own;
    if (table->next != table) {
      if (TypeRecord* found = FindInOthers(table, own->name)) resolved = found;
    }
    for (CastEntry* entry = table->initial_casts[i]; entry->type != nullptr; ++entry) {
      TypeRecord* target = table->next != table ? FindInOthers(table, entry->type->name) : nullptr;
      if (target != nullptr && resolved == own) {
        entry->type = target;
        PushCast(resolved, entry);
      } else if (target != nullptr) {
        if (!HasCastNamed(resolved, entry->type->name)) PushCast(resolved, entry);
      } else {
        PushCast(resolved, entry);
      }
    }
    table->types[i] = resolved;
  }
  table->types[table->size] = nullptr;
}

}  // namespace device::binding

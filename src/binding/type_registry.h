#pragma once
// The interpreter-wide type registry shared by every extension module built on
// this binding runtime, reached through "swig_runtime_data3"."type_pointer".
// The structures are a binary interface with those modules: field order and
// widths (pointer-sized on this platform) must not change.
#include "python/python_compat.h"

#include <cstddef>

namespace device::binding {

struct CastEntry;

struct TypeRecord {
  const char* name;                       // mangled, for example "_p_MMer"
  const char* display;                    // display names, alternatives separated by '|'
  TypeRecord* (*dynamic_cast_hook)(void**);
  CastEntry* casts;                       // the types this record accepts
  void* class_data;                       // ClassData, once a proxy class registered
  int owns_class_data;
};

struct CastEntry {
  TypeRecord* type;
  void* (*converter)(void*);  // null keeps the address
  CastEntry* next;
  CastEntry* prev;
};

struct ModuleTypeTable {
  TypeRecord** types;         // resolved records, sorted by mangled name, then null
  size_t size;
  ModuleTypeTable* next;      // the ring of joined modules
  TypeRecord** initial;       // the module's own records
  CastEntry** initial_casts;  // per record, an array ended by an entry with a null type
  void* client_data;
};

// What a proxy class registration hangs on a record.
struct ClassData {
  PyObject* klass;
  PyObject* instance_maker;    // the class's __new__, or null for an old-style class
  PyObject* maker_arguments;   // (klass,) with an instance maker, else klass
  PyObject* destroy;           // __swig_destroy__, or null
  int destroy_takes_tuple;
  int implicit_conversion;
};

// Joins the registry: creates it, or links `table` into the ring and adopts
// same-named records of modules that joined earlier. Idempotent per table.
void JoinTypeRegistry(ModuleTypeTable* table);

}  // namespace device::binding

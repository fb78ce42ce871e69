// Joining the interpreter-wide type registry: creation, adoption, reload.
#include "binding/python_compat.h"
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/type_registry.h"
#include "binding/wrapper.h"

namespace device::binding {
namespace {

// A module's records, casts and table, laid out as a module lays them out.
struct FakeModule {
  explicit FakeModule(std::vector<const char*> names) : records(names.size()), casts(names.size()) {
    for (size_t i = 0; i < names.size(); ++i) {
      records[i] = {names[i], names[i], nullptr, nullptr, nullptr, 0};
      casts[i][0] = {&records[i], nullptr, nullptr, nullptr};
      casts[i][1] = {};
    }
    for (size_t i = 0; i < names.size(); ++i) {
      initial.push_back(&records[i]);
      resolved.push_back(&records[i]);
      initial_casts.push_back(casts[i]);
    }
    resolved.push_back(nullptr);
    table = {resolved.data(), names.size(), nullptr, initial.data(), initial_casts.data(), nullptr};
  }
  std::vector<TypeRecord> records;
  std::vector<CastEntry[2]> casts;
  std::vector<TypeRecord*> initial;
  std::vector<TypeRecord*> resolved;
  std::vector<CastEntry*> initial_casts;
  ModuleTypeTable table{};
};

size_t RingSize(const ModuleTypeTable* table) {
  size_t size = 1;
  for (const ModuleTypeTable* walk = table->next; walk != table; walk = walk->next) ++size;
  return size;
}

size_t CastCount(const TypeRecord* record) {
  size_t count = 0;
  for (const CastEntry* entry = record->casts; entry != nullptr; entry = entry->next) ++count;
  return count;
}

TEST(TypeRegistry, FirstModuleCreatesItLaterOnesAdoptSameNamedRecords) {
  Py_Initialize();
  FakeModule first({"_p_First", "_p_void"});
  JoinTypeRegistry(&first.table);

  PyObject* modules = PyImport_GetModuleDict();
  PyObject* registry = PyDict_GetItemString(modules, "swig_runtime_data3");
  ASSERT_NE(registry, nullptr);
  PyObject* pointer = PyObject_GetAttrString(registry, "type_pointer");
  ASSERT_NE(pointer, nullptr);
  EXPECT_EQ(pycompat::PointerOf(pointer), &first.table);
  Py_DECREF(pointer);
  EXPECT_EQ(RingSize(&first.table), 1u);
  EXPECT_EQ(first.resolved[2], nullptr);

  FakeModule second({"_p_Second", "_p_void", "_p_zz"});
  JoinTypeRegistry(&second.table);
  EXPECT_EQ(RingSize(&first.table), 2u);
  EXPECT_EQ(second.resolved[1], &first.records[1]) << "the later module adopts the earlier record";
  EXPECT_EQ(second.resolved[0], &second.records[0]);
  EXPECT_EQ(CastCount(&first.records[1]), 1u) << "no second entry for a name already listed";

  // Each record still accepts exactly its own wrappers.
  PyObject* wrapper = MakeWrapper(&first, second.resolved[1], 0);
  void* address = nullptr;
  EXPECT_TRUE(ConvertToAddress(wrapper, first.resolved[1], &address));
  EXPECT_EQ(address, &first);
  EXPECT_FALSE(ConvertToAddress(wrapper, second.resolved[0], &address));
  Py_DECREF(wrapper);

  // Joining again, as a reload does, changes nothing.
  JoinTypeRegistry(&second.table);
  JoinTypeRegistry(&first.table);
  EXPECT_EQ(RingSize(&first.table), 2u);
  EXPECT_EQ(CastCount(&first.records[1]), 1u);
  EXPECT_EQ(CastCount(&second.records[0]), 1u);
}

}  // namespace
}  // namespace device::binding

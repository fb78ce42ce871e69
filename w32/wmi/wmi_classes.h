#pragma once
// The classes of root\cimv2 that w32 provides, and their instances as read
// from the machine below W32_SYSROOT at the time of a query.
#include <wbemcli.h>

#include <optional>
#include <string>
#include <vector>

namespace w32::wmi {

struct Property {
  std::u16string name;
  CIMTYPE type;
  std::optional<std::u16string> value;  // none: the property is null
};

struct Instance {
  std::u16string class_name;
  std::vector<Property> properties;
};

struct WmiClass {
  const char16_t* name;
  std::vector<std::u16string> property_names;
  std::vector<Instance> (*instances)();
};

// The class of that name, matched without regard to case; null when none.
const WmiClass* FindClass(std::u16string_view name);

// The name as the class spells it, or none.
std::optional<std::u16string> FindPropertyName(const WmiClass& wmi_class, std::u16string_view name);

}  // namespace w32::wmi

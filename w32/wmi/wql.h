#pragma once
// The WQL data queries the provider answers: SELECT * | prop[, prop...] FROM class.
#include <wbemcli.h>

#include <string>
#include <string_view>
#include <vector>

namespace w32::wmi {

struct SelectQuery {
  std::vector<std::u16string> properties;  // empty for "*"
  std::u16string class_name;
};

// WBEM_S_NO_ERROR with the query; WBEM_E_INVALID_QUERY for any other text
// (clauses beyond FROM included).
HRESULT ParseSelect(std::u16string_view text, SelectQuery* query);

}  // namespace w32::wmi

#pragma once
// Query results: instances as IWbemClassObject, and their enumerator.
#include <wbemcli.h>

#include <memory>
#include <vector>

#include "wmi/wmi_classes.h"

namespace w32::wmi {

// A new enumerator (one reference) over the instances. A failed `status`
// makes it an enumerator of a query that failed: every Next answers it.
IEnumWbemClassObject* NewEnumerator(std::shared_ptr<const std::vector<Instance>> instances, bool forward_only,
                                    HRESULT status);

}  // namespace w32::wmi

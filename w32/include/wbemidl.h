#pragma once
// Windows Management Instrumentation, as clients include it.
#include "wbemcli.h"

extern "C" __attribute__((visibility("default"))) const CLSID CLSID_WbemAdministrativeLocator;

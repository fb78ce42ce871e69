#pragma once
#include "guiddef.h"

typedef GUID KNOWNFOLDERID;
typedef const KNOWNFOLDERID& REFKNOWNFOLDERID;

extern "C" __attribute__((visibility("default"))) const KNOWNFOLDERID FOLDERID_SampleMusic;

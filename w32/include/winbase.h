#pragma once
#include "minwinbase.h"
#include "errhandlingapi.h"
#include "handleapi.h"
#include "synchapi.h"
#include "debugapi.h"

#pragma once
// The platform subset this project implements over Linux.
#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winnls.h"
#include "stringapiset.h"
#include "winreg.h"
#include "wincrypt.h"
#include "wingdi.h"
#include "winuser.h"
#include "ole2.h"

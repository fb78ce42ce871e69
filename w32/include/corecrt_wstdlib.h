#pragma once
// Wide-character path splitting of the C run-time library.
#include "windef.h"

#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

extern "C" __attribute__((visibility("default"))) void _wsplitpath(const WCHAR* _FullPath, WCHAR* _Drive, WCHAR* _Dir,
                                                                    WCHAR* _Filename, WCHAR* _Ext);

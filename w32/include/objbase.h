#pragma once
#include "combaseapi.h"

typedef enum tagCOINIT {
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_MULTITHREADED = 0x0,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

WINOLEAPI CoInitialize(LPVOID pvReserved);

WINOLEAPI CreateClassMoniker(REFCLSID rclsid, LPMONIKER* ppmk);
WINOLEAPI GetRunningObjectTable(DWORD reserved, LPRUNNINGOBJECTTABLE* pprot);

#define STGM_READ 0x00000000L

#pragma once
// Shell file information.
#include "windef.h"

typedef struct _SHFILEINFOW {
  HICON hIcon;
  int iIcon;
  DWORD dwAttributes;
  WCHAR szDisplayName[MAX_PATH];
  WCHAR szTypeName[80];
} SHFILEINFOW;

#define SHGFI_DISPLAYNAME 0x000000200

#define SHSTDAPI_(type) DECLSPEC_IMPORT type WINAPI

SHSTDAPI_(DWORD_PTR) SHGetFileInfoW(LPCWSTR pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT cbFileInfo,
                                    UINT uFlags);

#pragma once
// Internet shortcuts.
#include "objidl.h"

extern "C" __attribute__((visibility("default"))) const IID IID_IUniformResourceLocatorW;
extern "C" __attribute__((visibility("default"))) const CLSID CLSID_InternetShortcut;

typedef enum iurl_seturl_flags {
  IURL_SETURL_FL_GUESS_PROTOCOL = 0x0001,
  IURL_SETURL_FL_USE_DEFAULT_PROTOCOL = 0x0002
} IURL_SETURL_FLAGS;

typedef struct urlinvokecommandinfoW {
  DWORD dwcbSize;
  DWORD dwFlags;
  HWND hwndParent;
  LPCWSTR pcszVerb;
} URLINVOKECOMMANDINFOW, *PURLINVOKECOMMANDINFOW;

struct IUniformResourceLocatorW : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetURL(LPCWSTR pcszURL, DWORD dwInFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetURL(LPWSTR* ppszURL) = 0;
  virtual HRESULT STDMETHODCALLTYPE InvokeCommand(PURLINVOKECOMMANDINFOW purlici) = 0;
};

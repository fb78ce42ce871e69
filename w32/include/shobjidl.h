#pragma once
// Shell object interfaces: folders, shell links, AutoPlay cancellation.
#include "objidl.h"
#include "shtypes.h"

struct IEnumIDList;

typedef ULONG SFGAOF;

extern "C" __attribute__((visibility("default"))) const IID IID_IShellFolder;
extern "C" __attribute__((visibility("default"))) const IID IID_IShellLinkW;
extern "C" __attribute__((visibility("default"))) const IID IID_IQueryCancelAutoPlay;
extern "C" __attribute__((visibility("default"))) const CLSID CLSID_ShellLink;

typedef enum _SHGDNF {
  SHGDN_NORMAL = 0x0000,
  SHGDN_INFOLDER = 0x0001,
  SHGDN_FOREDITING = 0x1000,
  SHGDN_FORADDRESSBAR = 0x4000,
  SHGDN_FORPARSING = 0x8000
} SHGDNF;

struct IShellFolder : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND hwnd, IBindCtx* pbc, LPWSTR pszDisplayName, ULONG* pchEaten,
                                                     PIDLIST_RELATIVE* ppidl, ULONG* pdwAttributes) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumObjects(HWND hwnd, DWORD grfFlags, IEnumIDList** ppenumIDList) = 0;
  virtual HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE pidl, IBindCtx* pbc, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE pidl, IBindCtx* pbc, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM lParam, PCUIDLIST_RELATIVE pidl1, PCUIDLIST_RELATIVE pidl2) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateViewObject(HWND hwndOwner, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT cidl, PCUITEMID_CHILD_ARRAY apidl, SFGAOF* rgfInOut) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND hwndOwner, UINT cidl, PCUITEMID_CHILD_ARRAY apidl, REFIID riid,
                                                  UINT* rgfReserved, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD pidl, DWORD uFlags, STRRET* pName) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetNameOf(HWND hwnd, PCUITEMID_CHILD pidl, LPCWSTR pszName, DWORD uFlags,
                                              PITEMID_CHILD* ppidlOut) = 0;
};
typedef IShellFolder* LPSHELLFOLDER;

typedef enum {
  SLR_NONE = 0,
  SLR_NO_UI = 0x1,
  SLR_ANY_MATCH = 0x2,
  SLR_UPDATE = 0x4,
  SLR_NOUPDATE = 0x8,
  SLR_NOSEARCH = 0x10,
  SLR_NOTRACK = 0x20,
  SLR_NOLINKINFO = 0x40,
  SLR_INVOKE_MSI = 0x80
} SLR_FLAGS;

typedef enum {
  SLGP_SHORTPATH = 0x1,
  SLGP_UNCPRIORITY = 0x2,
  SLGP_RAWPATH = 0x4,
  SLGP_RELATIVEPRIORITY = 0x8
} SLGP_FLAGS;

struct IShellLinkW : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPath(LPWSTR pszFile, int cch, WIN32_FIND_DATAW* pfd, DWORD fFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE* ppidl) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE pidl) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR pszName, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR pszName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR pszDir, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR pszDir) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR pszArgs, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR pszArgs) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHotkey(WORD wHotkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR pszIconPath, int cch, int* piIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR pszIconPath, int iIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR pszPathRel, DWORD dwReserved) = 0;
  virtual HRESULT STDMETHODCALLTYPE Resolve(HWND hwnd, DWORD fFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR pszFile) = 0;
};

struct IQueryCancelAutoPlay : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AllowAutoPlay(LPCWSTR pszPath, DWORD dwContentType, LPCWSTR pszLabel,
                                                  DWORD dwSerialNumber) = 0;
};

#include <shlobj.h>

#include <string>

#include "com/apartment.h"
#include "kernel/drive_table.h"
#include "shell/item_id_list.h"
#include "support/text.h"

namespace w32 {
namespace {

// The computer folder's parsing name, as the platform gives it.
constexpr char16_t kComputerParsingName[] = u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";

HRESULT WideStrRet(std::u16string_view text, STRRET* name) {
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
  if (copy == nullptr) return E_OUTOFMEMORY;
  text.copy(copy, text.size());
  copy[text.size()] = 0;
  name->uType = STRRET_WSTR;
  name->pOleStr = copy;
  return S_OK;
}

// The desktop, root of the shell's namespace. It names the items of the
// lists this shell hands out; enumeration, binding and the other operations
// of a folder are not provided (E_NOTIMPL).
class DesktopFolder final : public IShellFolder {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IShellFolder) {
      *object = static_cast<IShellFolder*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // One object for the process, as the platform's desktop folder is.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, PIDLIST_RELATIVE*, ULONG*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE EnumObjects(HWND, DWORD, IEnumIDList**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT, PCUITEMID_CHILD_ARRAY, SFGAOF*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*, void**) override {
    return E_NOTIMPL;
  }

  // The computer folder: its parsing name, or "Computer". A file system
  // item: its path in drive form. Always a wide string.
  HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD item, DWORD flags, STRRET* name) override {
    if (item == nullptr || name == nullptr) return E_INVALIDARG;
    if (IsComputerList(item)) {
      return WideStrRet((flags & SHGDN_FORPARSING) != 0 ? kComputerParsingName : u"Computer", name);
    }
    if (const std::optional<std::string> path = PathOfList(item)) return WideStrRet(ToDrivePath(*path), name);
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, DWORD, PITEMID_CHILD*) override {
    return E_NOTIMPL;
  }
};

}  // namespace
}  // namespace w32

// SHGetDesktopFolder: the desktop folder; COM must be initialised on the
// calling thread.
HRESULT WINAPI SHGetDesktopFolder(IShellFolder** ppshf) {
  if (ppshf == nullptr) return E_INVALIDARG;
  *ppshf = nullptr;
  if (!w32::com::ThreadHasCom()) return CO_E_NOTINITIALIZED;
  static auto* desktop = new w32::DesktopFolder;
  *ppshf = desktop;
  return S_OK;
}

// SHGetSpecialFolderLocation: the desktop (the empty list), the computer
// folder, or a file system item for a folder SHGetFolderPathW knows.
HRESULT WINAPI SHGetSpecialFolderLocation(HWND, int csidl, PIDLIST_ABSOLUTE* ppidl) {
  if (ppidl == nullptr) return E_INVALIDARG;
  *ppidl = nullptr;
  if (csidl == CSIDL_DESKTOP || csidl == CSIDL_DRIVES) {
    *ppidl = csidl == CSIDL_DESKTOP ? w32::NewDesktopList() : w32::NewComputerList();
    return *ppidl != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  WCHAR folder[MAX_PATH] = {};
  const HRESULT found = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder);
  if (FAILED(found)) return found;
  std::string native;
  if (!w32::ToNativePath(folder, &native)) return E_FAIL;
  *ppidl = w32::NewPathList(native);
  return *ppidl != nullptr ? S_OK : E_OUTOFMEMORY;
}

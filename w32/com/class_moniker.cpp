#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "com/com_object.h"

const IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersistStream = {0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IMoniker = {0x0000000F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace w32::com {
namespace {

const CLSID kClassMonikerClsid = {0x0000031A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// A moniker naming a class by its identifier. It names the class for the
// Running Object Table (equality, hash, display name); binding through it and
// streaming it are not provided (E_NOTIMPL).
class ClassMoniker final : public ComObject<IMoniker> {
 public:
  explicit ClassMoniker(const CLSID& clsid) : clsid_(clsid) {}

  const CLSID& clsid() const { return clsid_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IPersistStream || iid == IID_IMoniker) {
      return Answer(static_cast<IMoniker*>(this), object);
    }
    return NoInterface(object);
  }

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (clsid == nullptr) return E_POINTER;
    *clsid = kClassMonikerClsid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, BOOL, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker**) override { return E_NOTIMPL; }
  // Equal to a class moniker of the same class.
  HRESULT STDMETHODCALLTYPE IsEqual(IMoniker* other) override {
    const auto* same_kind = dynamic_cast<ClassMoniker*>(other);
    return same_kind != nullptr && same_kind->clsid_ == clsid_ ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Hash(DWORD* hash) override {
    if (hash == nullptr) return E_POINTER;
    *hash = clsid_.Data1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Inverse(IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  // "clsid:XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX:", in task memory.
  HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
    if (name == nullptr) return E_POINTER;
    char text[64];
    const int length = std::snprintf(text, sizeof text, "clsid:%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X:",
                                     clsid_.Data1, clsid_.Data2, clsid_.Data3, clsid_.Data4[0], clsid_.Data4[1],
                                     clsid_.Data4[2], clsid_.Data4[3], clsid_.Data4[4], clsid_.Data4[5],
                                     clsid_.Data4[6], clsid_.Data4[7]);
    *name = static_cast<LPOLESTR>(CoTaskMemAlloc((length + 1) * sizeof(OLECHAR)));
    if (*name == nullptr) return E_OUTOFMEMORY;
    for (int i = 0; i <= length; ++i) (*name)[i] = static_cast<OLECHAR>(text[i]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD* kind) override {
    if (kind == nullptr) return E_POINTER;
    *kind = MKSYS_CLASSMONIKER;
    return S_OK;
  }

 private:
  const CLSID clsid_;
};

}  // namespace
}  // namespace w32::com

// CreateClassMoniker: an in-process class moniker for the class.
HRESULT WINAPI CreateClassMoniker(REFCLSID rclsid, LPMONIKER* ppmk) {
  if (ppmk == nullptr) return E_INVALIDARG;
  *ppmk = new (std::nothrow) w32::com::ClassMoniker(rclsid);
  return *ppmk != nullptr ? S_OK : E_OUTOFMEMORY;
}

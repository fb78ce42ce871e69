#include <objbase.h>

#include <map>
#include <mutex>
#include <vector>

#include "com/apartment.h"

const IID IID_IRunningObjectTable = {0x00000010, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace w32::com {
namespace {

// The process's table of running objects under their monikers. It holds a
// reference to each object and moniker until Revoke; the cookies count up and
// are never reused. The table itself lives as long as the process.
class RunningObjectTable final : public IRunningObjectTable {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IRunningObjectTable) {
      *object = static_cast<IRunningObjectTable*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // A second registration under an equal moniker is kept too and answered
  // with MK_S_MONIKERALREADYREGISTERED, as the platform's table does.
  HRESULT STDMETHODCALLTYPE Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) override {
    if (object == nullptr || name == nullptr || cookie == nullptr ||
        (flags & ~static_cast<DWORD>(ROTFLAGS_REGISTRATIONKEEPSALIVE | ROTFLAGS_ALLOWANYCLIENT)) != 0) {
      return E_INVALIDARG;
    }
    object->AddRef();
    name->AddRef();
    std::lock_guard<std::mutex> guard(lock_);
    const bool taken = RegisteredLocked(name);
    *cookie = next_cookie_++;
    entries_.emplace(*cookie, Entry{object, name});
    return taken ? MK_S_MONIKERALREADYREGISTERED : S_OK;
  }

  HRESULT STDMETHODCALLTYPE Revoke(DWORD cookie) override {
    Entry revoked{};
    {
      std::lock_guard<std::mutex> guard(lock_);
      auto it = entries_.find(cookie);
      if (it == entries_.end()) return E_INVALIDARG;
      revoked = it->second;
      entries_.erase(it);
    }
    // Outside the lock: the object's last release may run its own code.
    revoked.object->Release();
    revoked.name->Release();
    return S_OK;
  }

  // Only registration is provided: nothing here asks the table what runs.
  HRESULT STDMETHODCALLTYPE IsRunning(IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetObject(IMoniker*, IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NoteChangeTime(DWORD, FILETIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IMoniker*, FILETIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumRunning(IEnumMoniker**) override { return E_NOTIMPL; }

 private:
  struct Entry {
    IUnknown* object;
    IMoniker* name;
  };

  bool RegisteredLocked(IMoniker* name) {
    for (const auto& entry : entries_) {
      if (name->IsEqual(entry.second.name) == S_OK) return true;
    }
    return false;
  }

  std::mutex lock_;
  std::map<DWORD, Entry> entries_;
  DWORD next_cookie_ = 1;
};

}  // namespace
}  // namespace w32::com

// GetRunningObjectTable: the process's one table; COM must be initialised
// on the calling thread.
HRESULT WINAPI GetRunningObjectTable(DWORD reserved, LPRUNNINGOBJECTTABLE* pprot) {
  if (pprot == nullptr) return E_INVALIDARG;
  *pprot = nullptr;
  if (reserved != 0) return E_INVALIDARG;
  if (!w32::com::ThreadHasCom()) return CO_E_NOTINITIALIZED;
  static auto* table = new w32::com::RunningObjectTable;
  *pprot = table;
  return S_OK;
}

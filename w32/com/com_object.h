#pragma once
// The reference count of a COM object that w32 hands out. The concrete class
// writes QueryInterface; the last Release deletes the object, on any thread.
#include <objbase.h>

#include <atomic>

namespace w32::com {

template <class... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ComObject() = default;

  // QueryInterface's answer when the object has the interface as `found`.
  template <class Interface>
  HRESULT Answer(Interface* found, void** object) {
    *object = found;
    found->AddRef();
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};
};

// QueryInterface's answer when the object lacks the interface.
inline HRESULT NoInterface(void** object) {
  *object = nullptr;
  return E_NOINTERFACE;
}

}  // namespace w32::com

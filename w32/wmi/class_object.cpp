#include "wmi/class_object.h"

#include <oleauto.h>

#include <mutex>
#include <new>

#include "com/com_object.h"
#include "support/text.h"

const IID IID_IEnumWbemClassObject = {0x027947E1, 0xD731, 0x11CE, {0xA3, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const IID IID_IWbemClassObject = {0xDC12A681, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

namespace w32::wmi {
namespace {

// An instance of a query's result: read-only, as the provider answers it.
class WbemClassObject : public com::ComObject<IWbemClassObject> {
 public:
  explicit WbemClassObject(const Instance& instance) : instance_(instance) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IWbemClassObject) return Answer(static_cast<IWbemClassObject*>(this), object);
    return com::NoInterface(object);
  }

  // IWbemClassObject::Get: a property's value, CIM type and flavour; property
  // names match without regard to case.
  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
    if (name == nullptr || flags != 0) return WBEM_E_INVALID_PARAMETER;
    for (const Property& property : instance_.properties) {
      if (AsciiLower(property.name) != AsciiLower(name)) continue;
      if (value != nullptr) {
        VariantInit(value);
        if (property.value.has_value()) {
          BSTR text = SysAllocStringLen(property.value->data(), static_cast<UINT>(property.value->size()));
          if (text == nullptr) return WBEM_E_OUT_OF_MEMORY;
          value->vt = VT_BSTR;
          value->bstrVal = text;
        } else {
          value->vt = VT_NULL;
        }
      }
      if (type != nullptr) *type = property.type;
      if (flavor != nullptr) *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
      return WBEM_S_NO_ERROR;
    }
    return WBEM_E_NOT_FOUND;
  }

  // The provider's instances are read-only results: nothing else is offered.
  HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE EndEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

 private:
  const Instance instance_;
};

// The result of a query, read when the query ran: every instance is ready,
// so no Next ever waits or times out.
class Enumerator : public com::ComObject<IEnumWbemClassObject> {
 public:
  Enumerator(std::shared_ptr<const std::vector<Instance>> instances, bool forward_only, HRESULT status)
      : instances_(std::move(instances)), forward_only_(forward_only), status_(status) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumWbemClassObject) {
      return Answer(static_cast<IEnumWbemClassObject*>(this), object);
    }
    return com::NoInterface(object);
  }

  // IEnumWbemClassObject::Reset: back to the first instance; a forward-only
  // enumerator cannot go back.
  HRESULT STDMETHODCALLTYPE Reset() override {
    if (forward_only_) return WBEM_E_INVALID_OPERATION;
    std::lock_guard<std::mutex> guard(lock_);
    position_ = 0;
    return WBEM_S_NO_ERROR;
  }

  // IEnumWbemClassObject::Next: up to `count` instances; WBEM_S_FALSE when
  // fewer were left.
  HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
    if (objects == nullptr || returned == nullptr || (timeout < 0 && timeout != static_cast<LONG>(WBEM_INFINITE))) {
      return WBEM_E_INVALID_PARAMETER;
    }
    *returned = 0;
    if (FAILED(status_)) return status_;
    std::lock_guard<std::mutex> guard(lock_);
    while (*returned < count && position_ < instances_->size()) {
      WbemClassObject* made = new (std::nothrow) WbemClassObject((*instances_)[position_]);
      if (made == nullptr) return WBEM_E_OUT_OF_MEMORY;
      objects[(*returned)++] = made;
      ++position_;
    }
    return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }

  // IEnumWbemClassObject::Skip: passes over up to `count` instances.
  HRESULT STDMETHODCALLTYPE Skip(LONG timeout, ULONG count) override {
    if (timeout < 0 && timeout != static_cast<LONG>(WBEM_INFINITE)) return WBEM_E_INVALID_PARAMETER;
    if (FAILED(status_)) return status_;
    std::lock_guard<std::mutex> guard(lock_);
    const size_t left = instances_->size() - position_;
    position_ += std::min<size_t>(count, left);
    return count <= left ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }

  // IEnumWbemClassObject::Clone: an enumerator at the same place.
  HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject** copy) override {
    if (copy == nullptr) return WBEM_E_INVALID_PARAMETER;
    *copy = nullptr;
    if (forward_only_) return WBEM_E_INVALID_OPERATION;
    std::lock_guard<std::mutex> guard(lock_);
    Enumerator* made = new (std::nothrow) Enumerator(instances_, forward_only_, status_);
    if (made == nullptr) return WBEM_E_OUT_OF_MEMORY;
    made->position_ = position_;
    *copy = made;
    return WBEM_S_NO_ERROR;
  }

  // Results go to the caller's own thread only: there is no sink to call.
  HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }

 private:
  const std::shared_ptr<const std::vector<Instance>> instances_;
  const bool forward_only_;
  const HRESULT status_;
  std::mutex lock_;
  size_t position_ = 0;
};

}  // namespace

IEnumWbemClassObject* NewEnumerator(std::shared_ptr<const std::vector<Instance>> instances, bool forward_only,
                                    HRESULT status) {
  return new (std::nothrow) Enumerator(std::move(instances), forward_only, status);
}

}  // namespace w32::wmi

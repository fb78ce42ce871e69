// The WMI client objects: the locators that CoCreateInstance makes, and the
// root\cimv2 namespace they connect to, answering from wmi_classes.
#include <wbemidl.h>

#include <memory>
#include <mutex>
#include <new>

#include "com/class_table.h"
#include "com/com_object.h"
#include "support/text.h"
#include "wmi/class_object.h"
#include "wmi/wmi_classes.h"
#include "wmi/wql.h"

const CLSID CLSID_WbemLocator = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const CLSID CLSID_WbemAdministrativeLocator = {
    0xCB8555CC, 0x9128, 0x11D1, {0xAD, 0x9B, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};
const IID IID_IWbemLocator = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID IID_IWbemServices = {0x9556DC99, 0x828C, 0x11CF, {0xA3, 0x7E, 0x00, 0xAA, 0x00, 0x32, 0x40, 0xC7}};

namespace w32::wmi {
namespace {

bool IsBlank(const BSTR text) { return text == nullptr || *text == 0; }

// The query's instances, with only the properties it selects.
std::vector<Instance> Run(const WmiClass& wmi_class, const std::vector<std::u16string>& selected) {
  std::vector<Instance> instances = wmi_class.instances();
  if (selected.empty()) return instances;
  for (Instance& instance : instances) {
    std::vector<Property> kept;
    for (Property& property : instance.properties) {
      for (const std::u16string& name : selected) {
        if (AsciiLower(name) == AsciiLower(property.name)) {
          kept.push_back(std::move(property));
          break;
        }
      }
    }
    instance.properties = std::move(kept);
  }
  return instances;
}

// The namespace root\cimv2 of this machine. It stands in for a proxy to the
// platform's WMI service, so it takes a proxy blanket (IClientSecurity).
class Services : public com::ComObject<IWbemServices, IClientSecurity> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IWbemServices) return Answer(static_cast<IWbemServices*>(this), object);
    if (iid == IID_IClientSecurity) return Answer(static_cast<IClientSecurity*>(this), object);
    return com::NoInterface(object);
  }

  // IWbemServices::ExecQuery: WQL data queries of the provider's classes,
  // semisynchronous (WBEM_FLAG_RETURN_IMMEDIATELY), optionally forward-only:
  // the calls the module makes. Text that is no such query fails at once; an
  // unknown class or property fails at the enumerator's Next.
  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR text, LONG flags, IWbemContext*,
                                      IEnumWbemClassObject** result) override {
    if (result == nullptr) return WBEM_E_INVALID_PARAMETER;
    *result = nullptr;
    if (language == nullptr || text == nullptr) return WBEM_E_INVALID_PARAMETER;
    if ((flags & WBEM_FLAG_RETURN_IMMEDIATELY) == 0 ||
        (flags & ~(WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY)) != 0) {
      return WBEM_E_NOT_SUPPORTED;
    }
    if (AsciiLower(language) != u"wql") return WBEM_E_INVALID_QUERY_TYPE;
    SelectQuery query;
    const HRESULT parsed = ParseSelect(text, &query);
    if (FAILED(parsed)) return parsed;
    HRESULT status = WBEM_S_NO_ERROR;
    auto instances = std::make_shared<std::vector<Instance>>();
    const WmiClass* wmi_class = FindClass(query.class_name);
    if (wmi_class == nullptr) status = WBEM_E_INVALID_CLASS;
    for (const std::u16string& name : query.properties) {
      if (SUCCEEDED(status) && !FindPropertyName(*wmi_class, name).has_value()) status = WBEM_E_INVALID_QUERY;
    }
    if (SUCCEEDED(status)) *instances = Run(*wmi_class, query.properties);
    *result = NewEnumerator(instances, (flags & WBEM_FLAG_FORWARD_ONLY) != 0, status);
    return *result != nullptr ? WBEM_S_NO_ERROR : WBEM_E_OUT_OF_MEMORY;
  }

  // IClientSecurity::SetBlanket: the calls never leave the process, so any
  // blanket serves; it is kept for QueryBlanket.
  HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authn_service, DWORD authz_service, OLECHAR*,
                                       DWORD authn_level, DWORD impersonation, void*, DWORD capabilities) override {
    if (proxy == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    blanket_ = {authn_service, authz_service, authn_level, impersonation, capabilities};
    return S_OK;
  }

  // IClientSecurity::QueryBlanket: the blanket last set.
  HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown* proxy, DWORD* authn_service, DWORD* authz_service,
                                         OLECHAR** principal, DWORD* authn_level, DWORD* impersonation,
                                         void** identity, DWORD* capabilities) override {
    if (proxy == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    if (authn_service != nullptr) *authn_service = blanket_.authn_service;
    if (authz_service != nullptr) *authz_service = blanket_.authz_service;
    if (principal != nullptr) *principal = nullptr;
    if (authn_level != nullptr) *authn_level = blanket_.authn_level;
    if (impersonation != nullptr) *impersonation = blanket_.impersonation;
    if (identity != nullptr) *identity = nullptr;
    if (capabilities != nullptr) *capabilities = blanket_.capabilities;
    return S_OK;
  }

  // Only data queries are provided; the namespace holds no writable objects,
  // and no asynchronous sink is ever called.
  HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                          IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                                      IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                  IEnumWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                       IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                       IWbemClassObject**, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                            IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }

 private:
  struct Blanket {
    DWORD authn_service = RPC_C_AUTHN_WINNT;
    DWORD authz_service = RPC_C_AUTHZ_NONE;
    DWORD authn_level = RPC_C_AUTHN_LEVEL_CONNECT;
    DWORD impersonation = RPC_C_IMP_LEVEL_IDENTIFY;
    DWORD capabilities = EOAC_NONE;
  };
  std::mutex lock_;
  Blanket blanket_;
};

// The locator: connects to root\cimv2 of this machine only.
class Locator : public com::ComObject<IWbemLocator> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IWbemLocator) return Answer(static_cast<IWbemLocator*>(this), object);
    return com::NoInterface(object);
  }

  // IWbemLocator::ConnectServer: "root\cimv2" in any case; credentials are
  // refused locally.
  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password, const BSTR,
                                          LONG, const BSTR, IWbemContext*, IWbemServices** result) override {
    if (result == nullptr) return WBEM_E_INVALID_PARAMETER;
    *result = nullptr;
    if (resource == nullptr) return WBEM_E_INVALID_PARAMETER;
    if (AsciiLower(resource) != u"root\\cimv2") return WBEM_E_INVALID_NAMESPACE;
    if (!IsBlank(user) || !IsBlank(password)) return WBEM_E_LOCAL_CREDENTIALS;
    Services* services = new (std::nothrow) Services();
    if (services == nullptr) return WBEM_E_OUT_OF_MEMORY;
    *result = services;
    return WBEM_S_NO_ERROR;
  }
};

const com::ClassRegistration kWbemLocator(CLSID_WbemLocator, &com::CreateInstanceOf<Locator>);
const com::ClassRegistration kWbemAdministrativeLocator(CLSID_WbemAdministrativeLocator,
                                                        &com::CreateInstanceOf<Locator>);

}  // namespace
}  // namespace w32::wmi

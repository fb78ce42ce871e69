// The COM core: apartments, security, the class table, BSTR and VARIANT.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>

#include "com/class_table.h"
#include "com/com_object.h"

namespace {

// Runs `body` on a fresh thread, which starts without COM.
template <class Body>
void OnFreshThread(Body body) {
  std::thread(body).join();
}

enum Call { kInit, kInitEx, kUninit };

TEST(Com, InitialisationResults) {
  // Each step of one thread's COM life, with the answer the platform gives.
  const struct {
    Call call;
    DWORD flags;
    HRESULT expected;
  } steps[] = {
      {kInit, 0, S_OK},
      {kInit, 0, S_FALSE},
      {kInitEx, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE, S_FALSE},
      {kInitEx, COINIT_MULTITHREADED, RPC_E_CHANGED_MODE},
      {kUninit, 0, S_OK},
      {kUninit, 0, S_OK},
      {kUninit, 0, S_OK},
      {kUninit, 0, S_OK},  // one more than was initialised: ignored
      {kInitEx, COINIT_MULTITHREADED, S_OK},  // a new apartment kind once fully out
      {kUninit, 0, S_OK},
  };
  OnFreshThread([&] {
    int index = 0;
    for (const auto& step : steps) {
      HRESULT result = S_OK;
      if (step.call == kInit) result = CoInitialize(nullptr);
      if (step.call == kInitEx) result = CoInitializeEx(nullptr, step.flags);
      if (step.call == kUninit) CoUninitialize();
      EXPECT_EQ(result, step.expected) << "step " << index;
      ++index;
    }
  });
}

// A class of the test's own, registered as an area of w32 registers its classes.
const CLSID kCounterClass = {0x1f2e3d4c, 0x5b6a, 0x4798, {0x86, 0x95, 0xa4, 0xb3, 0xc2, 0xd1, 0xe0, 0xf1}};

class Counter : public w32::com::ComObject<IUnknown> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown) return Answer(static_cast<IUnknown*>(this), object);
    return w32::com::NoInterface(object);
  }
};

const w32::com::ClassRegistration kCounterRegistration(kCounterClass, &w32::com::CreateInstanceOf<Counter>);

TEST(Com, CreateInstanceOverTheClassTable) {
  const CLSID unknown_class = {0x0badc0de, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  Counter* outer_object = new Counter();  // never called: aggregation is refused first
  const struct {
    const CLSID* clsid;
    IUnknown* outer;
    DWORD context;
    const IID* iid;
    HRESULT expected;
  } cases[] = {
      {&kCounterClass, nullptr, CLSCTX_INPROC_SERVER, &IID_IUnknown, S_OK},
      {&kCounterClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, &IID_IUnknown, S_OK},
      {&kCounterClass, nullptr, CLSCTX_LOCAL_SERVER, &IID_IUnknown, REGDB_E_CLASSNOTREG},
      {&unknown_class, nullptr, CLSCTX_ALL, &IID_IUnknown, REGDB_E_CLASSNOTREG},
      {&kCounterClass, outer_object, CLSCTX_INPROC_SERVER, &IID_IUnknown, CLASS_E_NOAGGREGATION},
      {&kCounterClass, nullptr, CLSCTX_INPROC_SERVER, &IID_IClassFactory, E_NOINTERFACE},
  };
  OnFreshThread([&] {
    void* object = &object;
    EXPECT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
    for (const auto& c : cases) {
      object = &object;
      EXPECT_EQ(CoCreateInstance(*c.clsid, c.outer, c.context, *c.iid, &object), c.expected);
      EXPECT_EQ(object != nullptr, SUCCEEDED(c.expected));
      if (object != nullptr) {
        EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 0u);
      }
    }
    CoUninitialize();
  });
  outer_object->Release();
}

TEST(Com, ThreadsWithoutComJoinAMultithreadedApartment) {
  OnFreshThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    OnFreshThread([] {
      void* object = nullptr;
      EXPECT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), S_OK);
      if (object != nullptr) static_cast<IUnknown*>(object)->Release();
    });
    CoUninitialize();
    OnFreshThread([] {
      void* object = nullptr;
      EXPECT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
                CO_E_NOTINITIALIZED);
    });
  });
}

TEST(Com, SecurityIsSetOncePerProcess) {
  OnFreshThread([] {
    EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                   nullptr, EOAC_NONE, nullptr),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    int reserved = 0;
    EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, &reserved, RPC_C_AUTHN_LEVEL_PKT,
                                   RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr),
              E_INVALIDARG);
    for (HRESULT expected : {S_OK, RPC_E_TOO_LATE, RPC_E_TOO_LATE}) {
      EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                                     RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr),
                expected);
    }
    // A plain in-process object is no proxy: it has no blanket to set.
    Counter* plain = new Counter();
    EXPECT_EQ(CoSetProxyBlanket(plain, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE),
              E_NOINTERFACE);
    plain->Release();
    EXPECT_EQ(CoSetProxyBlanket(nullptr, 0, 0, nullptr, 0, 0, nullptr, 0), E_INVALIDARG);
    CoUninitialize();
  });
}

TEST(Bstr, LengthPrefixedStrings) {
  const OLECHAR with_zero[] = {u'a', 0, u'b'};
  const struct {
    BSTR made;
    UINT length;
    std::u16string text;
  } cases[] = {
      {SysAllocString(u"Quillomat"), 9, u"Quillomat"},
      {SysAllocString(u""), 0, u""},
      {SysAllocStringLen(with_zero, 3), 3, std::u16string(with_zero, 3)},
      {SysAllocStringLen(u"abcdef", 2), 2, u"ab"},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.made, nullptr);
    EXPECT_EQ(SysStringLen(c.made), c.length);
    EXPECT_EQ(std::u16string(c.made, c.length), c.text);
    EXPECT_EQ(c.made[c.length], 0);
    DWORD prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(c.made) - sizeof prefix, sizeof prefix);
    EXPECT_EQ(prefix, c.length * sizeof(OLECHAR));
    SysFreeString(c.made);
  }
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  BSTR unset = SysAllocStringLen(nullptr, 4);
  EXPECT_EQ(SysStringLen(unset), 4u);
  EXPECT_EQ(unset[4], 0);
  SysFreeString(unset);
  EXPECT_EQ(SysAllocStringLen(u"", 0x7FFFFFFF), nullptr);
}

TEST(Variant, ChangeTypeToBstr) {
  const struct {
    VARTYPE type;
    LONGLONG bits;
    USHORT flags;
    HRESULT expected;
    std::u16string text;
  } cases[] = {
      {VT_EMPTY, 0, 0, S_OK, u""},
      {VT_I4, -2147483647 - 1, 0, S_OK, u"-2147483648"},
      {VT_UI4, 4294967295u, 0, S_OK, u"4294967295"},
      {VT_I2, -5, 0, S_OK, u"-5"},
      {VT_I1, -7, 0, S_OK, u"-7"},
      {VT_UI1, 200, 0, S_OK, u"200"},
      {VT_I8, -9000000000LL, 0, S_OK, u"-9000000000"},
      {VT_UI8, -1, 0, S_OK, u"18446744073709551615"},
      {VT_BOOL, VARIANT_TRUE, 0, S_OK, u"-1"},
      {VT_BOOL, VARIANT_FALSE, VARIANT_ALPHABOOL, S_OK, u"False"},
      {VT_NULL, 0, 0, DISP_E_TYPEMISMATCH, u""},
      {VT_ERROR, 0, 0, DISP_E_TYPEMISMATCH, u""},
      {VT_VARIANT, 0, 0, DISP_E_BADVARTYPE, u""},
      {0x7F, 0, 0, DISP_E_BADVARTYPE, u""},
  };
  for (const auto& c : cases) {
    VARIANT source;
    VariantInit(&source);
    source.vt = c.type;
    source.llVal = c.bits;
    VARIANT converted;
    VariantInit(&converted);
    EXPECT_EQ(VariantChangeType(&converted, &source, c.flags, VT_BSTR), c.expected) << c.type;
    if (SUCCEEDED(c.expected)) {
      ASSERT_EQ(converted.vt, VT_BSTR);
      EXPECT_EQ(std::u16string(converted.bstrVal, SysStringLen(converted.bstrVal)), c.text) << c.type;
    } else {
      EXPECT_EQ(converted.vt, VT_EMPTY);
    }
    EXPECT_EQ(VariantClear(&converted), S_OK);
  }
}

TEST(Variant, ChangeTypeInPlaceAndClear) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(u"Acme");
  EXPECT_EQ(VariantChangeType(&value, &value, 0, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string(value.bstrVal), u"Acme");
  VARIANT copy;
  VariantInit(&copy);
  EXPECT_EQ(VariantChangeType(&copy, &value, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(copy.vt, VT_EMPTY);
  EXPECT_EQ(VariantClear(&value), S_OK);
  EXPECT_EQ(value.vt, VT_EMPTY);

  Counter* held = new Counter();
  held->AddRef();
  value.vt = VT_UNKNOWN;
  value.punkVal = held;
  EXPECT_EQ(VariantClear(&value), S_OK);
  EXPECT_EQ(held->Release(), 0u);  // VariantClear released the variant's reference

  value.vt = VT_ARRAY | VT_I4;
  EXPECT_EQ(VariantClear(&value), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

}  // namespace

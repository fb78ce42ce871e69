// The Running Object Table under class monikers: cookies, equal monikers,
// the references it holds. Registering without COM is tested at the module's
// entry points (tests/python/test_autoplay.py).
#include <gtest/gtest.h>
#include <objbase.h>

#include <atomic>

namespace {

const CLSID kClass = {0xDBC9AA60, 0xB5AF, 0x4B5C, {0xB5, 0xE1, 0xA2, 0xF7, 0x4B, 0xE4, 0x9A, 0xA0}};
const CLSID kOtherClass = {0x12345678, 0xB5AF, 0x4B5C, {0xB5, 0xE1, 0xA2, 0xF7, 0x4B, 0xE4, 0x9A, 0xA0}};

// Counts its references; never deleted by them.
struct Counted : IUnknown {
  std::atomic<ULONG> references{1};
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

TEST(RunningObjectTable, RegistrationsUnderEqualMonikersEachGetTheirCookie) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  IRunningObjectTable* table = nullptr;
  ASSERT_EQ(GetRunningObjectTable(0, &table), S_OK);
  const CLSID* classes[] = {&kClass, &kClass, &kOtherClass};
  const HRESULT expected[] = {S_OK, MK_S_MONIKERALREADYREGISTERED, S_OK};
  Counted objects[3];
  DWORD cookies[3] = {};
  for (int i = 0; i < 3; ++i) {
    IMoniker* name = nullptr;
    ASSERT_EQ(CreateClassMoniker(*classes[i], &name), S_OK);
    EXPECT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, &objects[i], name, &cookies[i]), expected[i]) << i;
    EXPECT_EQ(name->Release(), 1u);  // the table holds the moniker
    EXPECT_EQ(objects[i].references, 2u);
  }
  EXPECT_NE(cookies[0], cookies[1]);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(table->Revoke(cookies[i]), S_OK);
    EXPECT_EQ(objects[i].references, 1u);
    EXPECT_EQ(table->Revoke(cookies[i]), E_INVALIDARG);
  }
  table->Release();
  CoUninitialize();
}

}  // namespace

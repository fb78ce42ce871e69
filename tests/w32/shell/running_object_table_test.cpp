// The Running Object Table under class monikers: cookies, equal monikers,
// the references it holds.
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
  IRunningObjectTable* table = nullptr;
  EXPECT_EQ(GetRunningObjectTable(0, &table), CO_E_NOTINITIALIZED);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  ASSERT_EQ(GetRunningObjectTable(0, &table), S_OK);
  IMoniker* first_name = nullptr;
  IMoniker* second_name = nullptr;
  IMoniker* other_name = nullptr;
  ASSERT_EQ(CreateClassMoniker(kClass, &first_name), S_OK);
  ASSERT_EQ(CreateClassMoniker(kClass, &second_name), S_OK);
  ASSERT_EQ(CreateClassMoniker(kOtherClass, &other_name), S_OK);
  EXPECT_EQ(first_name->IsEqual(second_name), S_OK);
  EXPECT_EQ(first_name->IsEqual(other_name), S_FALSE);

  Counted first, second;
  DWORD first_cookie = 0, second_cookie = 0;
  EXPECT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, &first, first_name, &first_cookie), S_OK);
  EXPECT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, &second, second_name, &second_cookie),
            MK_S_MONIKERALREADYREGISTERED);
  EXPECT_NE(first_cookie, second_cookie);
  EXPECT_EQ(first.references, 2u);
  EXPECT_EQ(table->IsRunning(other_name), S_FALSE);
  EXPECT_EQ(table->IsRunning(first_name), S_OK);

  EXPECT_EQ(table->Revoke(second_cookie), S_OK);
  EXPECT_EQ(second.references, 1u);
  EXPECT_EQ(table->Revoke(second_cookie), E_INVALIDARG);
  IUnknown* running = nullptr;
  EXPECT_EQ(table->GetObject(second_name, &running), S_OK);
  EXPECT_EQ(running, &first);
  running->Release();
  EXPECT_EQ(table->Revoke(first_cookie), S_OK);
  EXPECT_EQ(first.references, 1u);
  EXPECT_EQ(table->GetObject(first_name, &running), MK_E_UNAVAILABLE);

  for (IMoniker* name : {first_name, second_name, other_name}) EXPECT_EQ(name->Release(), 0u);
  table->Release();
  CoUninitialize();
}

}  // namespace

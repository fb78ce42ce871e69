// The COM apartments: each thread's initialisation count and kind, and the
// multithreaded apartment that threads without COM join. Counting per thread
// as a host meets it is in tests/python/test_com_host.py.
#include <gtest/gtest.h>
#include <wbemidl.h>
#include <windows.h>

#include <thread>

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
      {kInitEx, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE, S_FALSE},
      {kInitEx, COINIT_MULTITHREADED, RPC_E_CHANGED_MODE},
      {kUninit, 0, S_OK},
      {kUninit, 0, S_OK},
      {kUninit, 0, S_OK},  // one more than was initialised: ignored
      {kInitEx, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE, S_OK},  // a new apartment kind once fully out
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

// A thread without COM may create objects while some thread holds the
// multithreaded apartment (as a monitor's worker does), and only then.
TEST(Com, ThreadsWithoutComJoinAMultithreadedApartment) {
  const auto create = [] {
    IUnknown* object = nullptr;
    const HRESULT result =
        CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (object != nullptr) object->Release();
    return result;
  };
  OnFreshThread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    OnFreshThread([&] { EXPECT_EQ(create(), S_OK); });
    CoUninitialize();
    OnFreshThread([&] { EXPECT_EQ(create(), CO_E_NOTINITIALIZED); });
  });
}

}  // namespace

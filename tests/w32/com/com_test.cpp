// The COM apartments: each thread's kind, and the multithreaded apartment that
// threads without COM join. Counting per thread is tested as a host meets it
// (tests/python/test_com_host.py).
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

// A thread's initialisations fix its apartment kind until it is fully out;
// a thread without COM may create objects while some thread holds the
// multithreaded apartment (as a monitor's worker does), and only then.
TEST(Com, ApartmentKindsAndTheMultithreadedApartment) {
  const auto create = [] {
    IUnknown* object = nullptr;
    const HRESULT result = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                            reinterpret_cast<void**>(&object));
    if (object != nullptr) object->Release();
    return result;
  };
  OnFreshThread([&] {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    OnFreshThread([&] { EXPECT_EQ(create(), CO_E_NOTINITIALIZED); });  // a single-threaded apartment is its own
    CoUninitialize();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE), S_OK);
    OnFreshThread([&] { EXPECT_EQ(create(), S_OK); });
    CoUninitialize();
    OnFreshThread([&] { EXPECT_EQ(create(), CO_E_NOTINITIALIZED); });
  });
}

}  // namespace

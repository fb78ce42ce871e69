// The worker thread and its one-slot request/reply handshake.
#include <gtest/gtest.h>
#include <objbase.h>

#include <atomic>
#include <thread>
#include <vector>

#include "monitor/cam_thread.h"

namespace device {
namespace {

// Answers each request with twice its parameter; 0 asks it to end.
class DoublingWorker : public CAMThread {
 public:
  ~DoublingWorker() override {
    AskWorker(0);
    JoinThread();
  }
  std::atomic<HRESULT> apartment{E_UNEXPECTED};

 protected:
  DWORD ThreadBody() override {
    // Initialised already by the thread's entry, in the multithreaded apartment.
    apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (;;) {
      const UINT_PTR parameter = TakeRequest();
      if (parameter == 0) {
        Answer(0);
        return 5;
      }
      Answer(static_cast<DWORD>(parameter * 2));
    }
  }
};

// Callers racing each other to start the worker and to ask it, which Python's
// callers never do (they hold the interpreter lock); it runs in the
// multithreaded apartment.
TEST(CAMThread, RacingCallersStartOneWorkerAndEachGetTheirOwnAnswer) {
  DoublingWorker worker;
  std::atomic<int> started{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int t = 1; t <= 4; ++t) {
    callers.emplace_back([&, t] {
      started += worker.StartThread() ? 1 : 0;
      for (UINT_PTR i = 1; i <= 500; ++i) {
        const UINT_PTR parameter = t * 1000 + i;
        if (worker.AskWorker(parameter) != parameter * 2) ++wrong;
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(started, 1);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(worker.apartment, RPC_E_CHANGED_MODE);
}

}  // namespace
}  // namespace device

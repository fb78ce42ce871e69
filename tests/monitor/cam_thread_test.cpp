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
  ~DoublingWorker() override { Stop(); }
  void Stop() {
    AskWorker(0);
    JoinThread();
  }
  std::atomic<int> peeks_seen{0};
  std::atomic<HRESULT> apartment{E_UNEXPECTED};

 protected:
  DWORD ThreadBody() override {
    // Initialised already by the thread's entry, in the multithreaded apartment.
    apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (;;) {
      const UINT_PTR parameter = TakeRequest();
      UINT_PTR peeked = 0;
      if (PeekRequest(&peeked) && PeekRequest(nullptr) && peeked == parameter) ++peeks_seen;  // taking keeps it
      if (parameter == 0) {
        Answer(0);
        return 5;
      }
      Answer(static_cast<DWORD>(parameter * 2));
    }
  }
};

// Callers racing each other; the worker runs in the multithreaded apartment.
TEST(CAMThread, ConcurrentAskersEachGetTheirOwnAnswer) {
  DoublingWorker worker;
  ASSERT_TRUE(worker.StartThread());
  std::atomic<int> wrong{0};
  std::vector<std::thread> askers;
  for (int t = 1; t <= 4; ++t) {
    askers.emplace_back([&, t] {
      for (UINT_PTR i = 1; i <= 500; ++i) {
        const UINT_PTR parameter = t * 1000 + i;
        if (worker.AskWorker(parameter) != parameter * 2) ++wrong;
      }
    });
  }
  for (std::thread& asker : askers) asker.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(worker.peeks_seen, 2000);
  EXPECT_EQ(worker.apartment, RPC_E_CHANGED_MODE);
}

TEST(CAMThread, ConcurrentStartsLaunchOneThread) {
  DoublingWorker worker;
  std::atomic<int> started{0};
  std::vector<std::thread> starters;
  for (int t = 0; t < 4; ++t) starters.emplace_back([&] { started += worker.StartThread() ? 1 : 0; });
  for (std::thread& starter : starters) starter.join();
  EXPECT_EQ(started, 1);
}

}  // namespace
}  // namespace device

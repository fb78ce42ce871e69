// Simulated input, system parameters and the thread execution state of each thread.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>

#include "host/host.h"

namespace {

TEST(SetThreadExecutionState, EachThreadKeepsItsStateAndAllHoldTogetherUntilTheirThreadEnds) {
  std::atomic<bool> set{false};
  std::atomic<bool> end{false};
  std::thread other([&] {
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED), ES_CONTINUOUS);
    EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED), ES_CONTINUOUS | ES_DISPLAY_REQUIRED);
    set = true;
    while (!end) std::this_thread::yield();
  });
  while (!set) std::this_thread::yield();
  EXPECT_EQ(w32::host::HeldExecutionState(), ES_DISPLAY_REQUIRED);  // a one-time reset keeps the request
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  EXPECT_EQ(w32::host::HeldExecutionState(), ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
  end = true;
  other.join();
  EXPECT_EQ(w32::host::HeldExecutionState(), ES_SYSTEM_REQUIRED);
  EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS), ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  EXPECT_EQ(w32::host::HeldExecutionState(), 0u);
}

// What each keeps as the application calls them is in tests/python/test_power.py;
// a bad argument is refused whole, with nothing kept.
TEST(InputAndPower, RefuseBadArgumentsWhole) {
  INPUT good{};
  INPUT bad[2] = {};
  bad[1].type = 3;
  BOOL blocked = -1;
  const struct {
    const char* what;
    std::function<bool()> call;  // true when it failed
  } cases[] = {
      {"32-bit input record size", [&] { return SendInput(1, &good, 28) == 0; }},
      {"no input records", [&] { return SendInput(1, nullptr, sizeof(INPUT)) == 0; }},
      {"unknown input type", [&] { return SendInput(2, bad, sizeof(INPUT)) == 0; }},
      {"no parameter buffer", [&] { return !SystemParametersInfoW(SPI_GETBLOCKSENDINPUTRESETS, 0, nullptr, 0); }},
      {"unknown parameter", [&] { return !SystemParametersInfoW(0xFFFF, 0, &blocked, 0); }},
      {"user present", [&] { return SetThreadExecutionState(ES_CONTINUOUS | ES_USER_PRESENT) == 0; }},
      {"unknown state", [&] { return SetThreadExecutionState(0x100u) == 0; }},
      {"away mode", [&] { return SetThreadExecutionState(ES_AWAYMODE_REQUIRED) == 0; }},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_TRUE(c.call()) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.what;
  }
  EXPECT_TRUE(w32::host::TakeSentInput().empty());
  EXPECT_EQ(w32::host::HeldExecutionState(), 0u);
}

}  // namespace

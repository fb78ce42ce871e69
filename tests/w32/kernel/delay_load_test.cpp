// Libraries opened on first use: bound once, and a clean null when missing.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "support/delay_load.h"

namespace {

struct MathApi {
  double (*cos)(double);
};

std::atomic<int> binds{0};

bool BindMath(const w32::LibrarySymbols& symbols, MathApi& api) {
  ++binds;
  return symbols.Resolve("cos", api.cos);
}

bool BindMissingSymbol(const w32::LibrarySymbols& symbols, MathApi& api) {
  return symbols.Resolve("no_such_function_here", api.cos);
}

TEST(DelayLoad, BindsOnceUnderConcurrentFirstCalls) {
  w32::DelayLoaded<MathApi> math("libm.so.6", BindMath);
  std::vector<std::thread> threads;
  std::atomic<int> bound{0};
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      if (const MathApi* api = math.Get(); api != nullptr && api->cos(0.0) == 1.0) ++bound;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(bound, 8);
  EXPECT_EQ(binds, 1);
}

TEST(DelayLoad, MissingLibraryOrSymbolIsNullEveryTime) {
  w32::DelayLoaded<MathApi> absent("libno-such-library.so.9", BindMath);
  w32::DelayLoaded<MathApi> incomplete("libm.so.6", BindMissingSymbol);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(absent.Get(), nullptr);
    EXPECT_EQ(incomplete.Get(), nullptr);
  }
}

}  // namespace

// A failing platform call with its W32_DEBUG channel off: CoCreateInstance on
// a thread without COM, as libw32 answers it (with the check); and the same
// failure path compiled here twice, with the check and without it, so the
// check's own cost shows beside a build that has none.
#include <benchmark/benchmark.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>

#include "com/class_table.h"
#include "support/debug_channel.h"

namespace {

volatile bool thread_has_com = false;

__attribute__((noinline)) HRESULT FailWithCheck(REFCLSID clsid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!thread_has_com) {
    W32_DEBUG(w32::kDebugCom, "CoCreateInstance %s: CO_E_NOTINITIALIZED", w32::com::ClassText(clsid).c_str());
    return CO_E_NOTINITIALIZED;
  }
  return S_OK;
}

__attribute__((noinline)) HRESULT FailWithoutCheck(REFCLSID, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!thread_has_com) return CO_E_NOTINITIALIZED;
  return S_OK;
}

void BM_CoCreateInstanceWithoutCom(benchmark::State& state) {
  void* object = nullptr;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, &object));
  }
}
BENCHMARK(BM_CoCreateInstanceWithoutCom);

void BM_FailurePathChannelOff(benchmark::State& state) {
  void* object = nullptr;
  for (auto _ : state) benchmark::DoNotOptimize(FailWithCheck(CLSID_ShellLink, &object));
}
BENCHMARK(BM_FailurePathChannelOff);

void BM_FailurePathWithoutCheck(benchmark::State& state) {
  void* object = nullptr;
  for (auto _ : state) benchmark::DoNotOptimize(FailWithoutCheck(CLSID_ShellLink, &object));
}
BENCHMARK(BM_FailurePathWithoutCheck);

}  // namespace

int main(int argc, char** argv) {
  ::unsetenv("W32_DEBUG");  // every channel off, as by default
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}

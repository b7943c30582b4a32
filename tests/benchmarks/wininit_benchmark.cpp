// How long finding the place for a WININIT.INI entry takes as the file
// grows. Anyone may write that file on Windows 95, so the cost per byte must
// stay flat also for text made to be slow: brackets that never close, and
// brackets that all close at the very end. Run: build/host/tests/wininit_benchmark
#include <benchmark/benchmark.h>

#include <string>

#include "files/schedule.h"

namespace {

void Plan(benchmark::State& state, const std::string& text) {
  char entry[520];
  DWORD insertAt = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(PlanIniEntry(text.c_str(), static_cast<DWORD>(text.size()), "Rename", "NUL",
                                          "C:\\APP\\SYSTEM\\HUBCORE.DLL", entry, sizeof(entry), &insertAt));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.SetComplexityN(static_cast<int64_t>(text.size()));
}

void OpenBrackets(benchmark::State& state) { Plan(state, std::string(static_cast<size_t>(state.range(0)), '[')); }

void BracketsClosedAtTheEnd(benchmark::State& state) {
  Plan(state, std::string(static_cast<size_t>(state.range(0)), '[') + "]");
}

void OrdinaryFile(benchmark::State& state) {
  std::string text;
  while (text.size() < static_cast<size_t>(state.range(0))) text += "[Section]\r\nKEY=C:\\SOME\\FILE.DAT\r\n";
  Plan(state, text);
}

}  // namespace

BENCHMARK(OpenBrackets)->RangeMultiplier(4)->Range(64 << 10, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(BracketsClosedAtTheEnd)->RangeMultiplier(4)->Range(64 << 10, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK(OrdinaryFile)->RangeMultiplier(4)->Range(64 << 10, 1 << 20)->Complexity(benchmark::oN);
BENCHMARK_MAIN();

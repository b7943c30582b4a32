// How long the sweeps take on the emulated machine as directories grow: the
// cost per file must stay flat (no lookup that scans the directory for every
// file deleted). Run: build/host/tests/sweep_benchmark
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "files/sweeps.h"
#include "win32/hostapi.h"

namespace {

std::string MakeMachine() {
  char pattern[] = "/tmp/preuninst-bench-XXXXXX";
  const std::string directory = mkdtemp(pattern);
  mkdir((directory + "/drive_c").c_str(), 0755);
  mkdir((directory + "/drive_c/APP").c_str(), 0755);
  std::string error;
  if (!HostOpenMachine(directory.c_str(), &error)) abort();
  return directory;
}

void RemoveTreeOfFiles(benchmark::State& state) {
  const std::string machine = MakeMachine();
  const std::string big = machine + "/drive_c/APP/BIG";
  const int files = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    mkdir(big.c_str(), 0755);
    mkdir((big + "/SUB").c_str(), 0755);
    for (int i = 0; i < files; ++i) {
      const std::string name = big + (i % 10 == 0 ? "/SUB/F" : "/F") + std::to_string(i) + ".DAT";
      close(open(name.c_str(), O_CREAT | O_WRONLY, 0644));
    }
    state.ResumeTiming();
    RemoveDirectoryTree("C:\\APP\\BIG\\", true);
  }
  state.SetComplexityN(files);
  HostCloseMachine();
  if (system(("rm -rf " + machine).c_str()) != 0) abort();
}

}  // namespace

BENCHMARK(RemoveTreeOfFiles)
    ->Arg(2500)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK_MAIN();

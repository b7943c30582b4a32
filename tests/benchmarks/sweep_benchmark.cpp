// How long the sweeps take on the emulated machine as directories grow, by
// name (Windows 95) and through handles (NT): the cost per file must stay
// flat (no lookup that scans the directory for every file deleted). Run:
// build/host/tests/sweep_benchmark
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/later_calls.h"
#include "files/sweeps.h"
#include "files/walk.h"
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

void ByName() { RemoveDirectoryTree("C:\\APP\\BIG\\"); }

void ThroughHandles() {
  LaterCalls later = {};
  FindLaterCalls(&later);
  NativeCalls calls;
  WideName name;
  HANDLE app = CreateFileA("C:\\APP", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (!FindNativeCalls(later, &calls) || !WidenName("BIG", 3, "", &name) || app == INVALID_HANDLE_VALUE) abort();
  RemoveTreeBelow(calls, app, name);
  CloseHandle(app);
}

void RemoveTreeOfFiles(benchmark::State& state, void (*remove)()) {
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
    remove();
  }
  state.SetComplexityN(files);
  HostCloseMachine();
  if (system(("rm -rf " + machine).c_str()) != 0) abort();
}

// 2,500 to 20,000 files, the cost per file to stay flat.
void TreeSizes(benchmark::internal::Benchmark* run) {
  for (int files = 2500; files <= 20000; files *= 2) run->Arg(files);
  run->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}

}  // namespace

BENCHMARK_CAPTURE(RemoveTreeOfFiles, ByName, ByName)->Apply(TreeSizes);
BENCHMARK_CAPTURE(RemoveTreeOfFiles, ThroughHandles, ThroughHandles)->Apply(TreeSizes);
BENCHMARK_MAIN();

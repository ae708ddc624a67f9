// Entry of the micro-benchmarks: the engine's start-up tables, then every registered benchmark.
#include <benchmark/benchmark.h>

#include "interface/startup.h"

int main(int argc, char** argv) {
  quorix::engine_startup();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

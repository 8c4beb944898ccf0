// Cost of recording a sample and of reading a sampling's statistics, in CPU
// time per sample, at window sizes 20 (the default), 1000 and 100000. Both
// should cost the same at every size: compare the rows of one benchmark, or
// read the fitted complexity that Google Benchmark prints after them
// (expected: O(1)). BM_LockFloor times the atomic exchange every record pays
// in the same run.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <vector>

#include "host/kbaselib.h"
#include "standin/kbaselib/profiler.h"

namespace {

// Frame-like durations with noise, so that the minimum and maximum queues see
// both rising and falling runs.
std::vector<double> Durations() {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-2000.0, 2000.0);
  std::vector<double> values(4096);
  for (size_t i = 0; i < values.size(); ++i) {
    values[i] = 16666.7 + noise(random) + static_cast<double>(i % 64) * 10.0;
  }
  return values;
}

void Fill(KProfilingSampling& sampling, const std::vector<double>& values, int count) {
  for (int i = 0; i < count; ++i)
    KProfilingSampling_AddSample(sampling, values[static_cast<size_t>(i) % values.size()]);
}

void BM_AddSample(benchmark::State& state) {
  const int window = static_cast<int>(state.range(0));
  const std::vector<double> values = Durations();
  KProfilingSampling sampling("Bench", 1, 1, 1, window);
  Fill(sampling, values, window);  // a full window: every record also evicts
  size_t i = 0;
  for (auto _ : state) {
    KProfilingSampling_AddSample(sampling, values[i++ & 4095]);
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddSample)->Arg(20)->Arg(1000)->Arg(100000)->Complexity();

// The floor under a record that other threads may share: one uncontended
// atomic exchange and a releasing store, the least a lock costs, around the
// one store a record cannot do without. Read BM_AddSample against it.
void BM_LockFloor(benchmark::State& state) {
  std::atomic<bool> locked{false};
  int64_t slot = 0;
  int64_t i = 0;
  for (auto _ : state) {
    while (locked.exchange(true, std::memory_order_acquire)) {
    }
    slot += ++i;
    benchmark::DoNotOptimize(slot);
    locked.store(false, std::memory_order_release);
  }
}
BENCHMARK(BM_LockFloor);

void BM_ReadStatistics(benchmark::State& state) {
  const int window = static_cast<int>(state.range(0));
  const std::vector<double> values = Durations();
  KProfilingSampling sampling("Bench", 1, 1, 1, window);
  Fill(sampling, values, window);
  double average = 0, minimum = 0, maximum = 0;
  for (auto _ : state) {
    sampling.QueryAcquire();
    sampling.GetAvgMinMaxUsage(average, minimum, maximum);
    sampling.QueryRelease();
    benchmark::DoNotOptimize(average);
    benchmark::DoNotOptimize(minimum);
    benchmark::DoNotOptimize(maximum);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadStatistics)->Arg(10)->Arg(1000)->Arg(100000)->Complexity();

// Recording followed by a read, as one frame of the host and one paint.
void BM_RecordThenRead(benchmark::State& state) {
  const int window = static_cast<int>(state.range(0));
  const std::vector<double> values = Durations();
  KProfilingSampling sampling("Bench", 1, 1, 1, window);
  Fill(sampling, values, window);
  double average = 0, minimum = 0, maximum = 0;
  size_t i = 0;
  for (auto _ : state) {
    KProfilingSampling_AddSample(sampling, values[i++ & 4095]);
    sampling.GetAvgMinMaxUsage(average, minimum, maximum);
    benchmark::DoNotOptimize(average);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RecordThenRead)->Arg(10)->Arg(1000)->Arg(100000)->Complexity();

}  // namespace

BENCHMARK_MAIN();

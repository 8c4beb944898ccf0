// The per-frame cost of keeping the measured frames (--record, --trace,
// --compare, and the run's percentiles that --stats keeps: outputs:8)
// against the capture alone (outputs:0) and the baseline of publishing the
// same frame to the profiler, for a 64-character scene.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ostream>
#include <streambuf>

#include "khost/experiments/comparison_run.h"
#include "khost/frame/cycle_percentiles.h"
#include "khost/frame/frame_capture.h"
#include "khost/frame/profiler_feed.h"
#include "khost/outputs/frame_outputs.h"
#include "standin/kbaselib/profiler.h"

namespace {

using namespace khost;

constexpr int kCharacters = 64;

// Counts the bytes and drops them, as a fast disk would take them.
class NullBuffer : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int overflow(int c) override { return c; }
};

struct Frames {
  FrameTimings Work;
  MeasuredFrame Record(long long index) {
    const TimePoint start = TimePoint{} + std::chrono::microseconds(16000 * index);
    MeasuredFrame r;
    r.Index = index;
    r.Start = start;
    Work.Characters.resize(kCharacters);
    for (int i = 0; i < kCharacters; ++i) {
      Work.Characters[static_cast<std::size_t>(i)] = {
          {6.0, 1.5, 4.5}, start + std::chrono::microseconds(100 + 7 * i), i % 2};
    }
    for (int stage = 0; stage < kStageCount; ++stage) {
      Work.Stages[stage] = {start + std::chrono::microseconds(600 + 200 * stage), 150.0, 140.0, 0};
    }
    Work.Shares[kStageDeformation] = {{start + std::chrono::microseconds(700), 800.0, 1}};
    for (CycleTiming& loop : r.Loops) {
      loop.Micros = 100.0;
      loop.CpuMicros = 90.0;
      loop.Parts[0] = {start, start + std::chrono::microseconds(100)};
      loop.PartCount = 1;
    }
    r.Stages = Work.Stages;
    r.Shares = Work.Shares;
    r.Characters = Work.Characters;
    return r;
  }
};

void BM_PublishToProfiler(benchmark::State& state) {
  ProfilerFeed feed;
  feed.SetCharacterCount(kCharacters);
  feed.Install();
  Frames frames;
  long long index = 0;
  for (auto _ : state) {
    feed.Publish(frames.Record(index++));
  }
}
BENCHMARK(BM_PublishToProfiler);

void BM_Capture(benchmark::State& state) {
  const bool record = state.range(0) & 1;
  const bool trace = state.range(0) & 2;
  const bool compare = state.range(0) & 4;
  const bool percentiles = state.range(0) & 8;
  NullBuffer buffer;
  std::ostream sink(&buffer);
  FrameCapture capture;
  FrameRecorder recorder(sink);
  TraceWriter writer(sink);
  ComparisonRun comparison({"Node Count", "400", "1845", 30}, {2, kNoSlowerGate},
                           MeasureClock::kWall, 1LL << 40);
  if (record) capture.AddSink(&recorder);
  if (trace) capture.AddSink(&writer);
  if (compare) capture.AddSink(&comparison);
  CyclePercentiles histograms;
  if (percentiles) capture.AddSink(&histograms);
  Frames frames;
  long long index = 0;
  for (auto _ : state) capture.Capture(frames.Record(index)), ++index;
}
BENCHMARK(BM_Capture)->Arg(0)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->ArgName("outputs");

}  // namespace

BENCHMARK_MAIN();

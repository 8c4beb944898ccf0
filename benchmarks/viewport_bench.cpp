// The viewport's frame (evaluation, deformation, upload, draw calls and the
// renderer finishing them) with CPU skinning against GPU skinning, on a
// headless surface of khost's default viewport size. Both run alternately
// in the same benchmark, so the ratio compares like with like.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "khost/base/thread_pool.h"
#include "khost/render/viewport.h"
#include "khost/scene/workload.h"
#include "ksurface.h"

namespace {

using Clock = std::chrono::steady_clock;

void BM_ViewportFrameCpuVsGpuSkinning(benchmark::State& state) {
  const int width = 640;
  const int height = 420;
  std::string error;
  std::unique_ptr<KSurface> surface = KSurface_CreateHeadless(width, height, &error);
  if (!surface) {
    state.SkipWithError(error.c_str());
    return;
  }
  khost::Result<std::unique_ptr<khost::Viewport>> created = khost::Viewport::Create();
  if (!created) {
    state.SkipWithError(created.GetError().Message.c_str());
    return;
  }
  std::unique_ptr<khost::Viewport> viewport = std::move(*created);
  viewport->SetRectangle(0, 0, width, height, height);
  khost::ThreadPool pool(khost::ThreadPool::DefaultWorkerCount());
  khost::Workload workload(pool, static_cast<int>(state.range(0)));
  workload.SetCameraAspect(static_cast<float>(width) / height);
  workload.SetRenderer(viewport.get());
  khost::EngineSettings cpu;
  khost::EngineSettings gpu;
  gpu.GPUSkinning = true;
  long long frame = 0;
  // Buffers are made on first use: one frame of each before measuring.
  workload.RunFrame(frame++, cpu);
  workload.RunFrame(frame++, gpu);
  glFinish();

  double cpuSeconds = 0.0;
  double gpuSeconds = 0.0;
  for (auto _ : state) {
    Clock::time_point t0 = Clock::now();
    workload.RunFrame(frame++, cpu);
    glFinish();
    Clock::time_point t1 = Clock::now();
    workload.RunFrame(frame++, gpu);
    glFinish();
    Clock::time_point t2 = Clock::now();
    cpuSeconds += std::chrono::duration<double>(t1 - t0).count();
    gpuSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  workload.Drain();
  const double n = static_cast<double>(state.iterations());
  state.counters["cpu_frame_ms"] = cpuSeconds / n * 1e3;
  state.counters["gpu_frame_ms"] = gpuSeconds / n * 1e3;
  state.counters["cpu_over_gpu"] = gpuSeconds > 0.0 ? cpuSeconds / gpuSeconds : 0.0;
}
BENCHMARK(BM_ViewportFrameCpuVsGpuSkinning)
    ->Arg(64)
    ->Arg(256)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

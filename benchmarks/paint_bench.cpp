// The drawing view's paint with the stand-in's OpenGL graphic context on a
// headless surface: header, chart of N rows (root cycles plus N children of
// one of them) and scroll bar, in both label modes; and a tall chart against
// a short one in a window that shows about 20 rows.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "display/profiling_draw_view.h"
#include "host/bcore.h"
#include "host/kbaselib.h"
#include "host/ktoolkit.h"
#include "ksurface.h"
#include "standin/kbaselib/profiler.h"
#include "standin/ktoolkit/viewhost.h"

namespace {

struct Scene {
  std::vector<std::unique_ptr<KProfilingSampling>> Cycles;
  std::unique_ptr<KProfilingSampling> Parent;

  explicit Scene(int children) {
    KProfiler* profiler = KProfiler::TheOne();
    for (KProfilingSampling*& slot : profiler->RootCycles) slot = nullptr;
    for (int slot : {0, 1, 2, 4, 5, 6, 8, 9, 10, 11}) {
      Cycles.push_back(std::make_unique<KProfilingSampling>("Root cycle", 0.3f, 0.6f, 0.9f));
      KProfilingSampling_AddSample(*Cycles.back(), 1000.0 + slot * 300.0);
      profiler->RootCycles[slot] = Cycles.back().get();
    }
    Parent = std::make_unique<KProfilingSampling>("Parent", 0.9f, 0.4f, 0.1f);
    KProfilingSampling_AddSample(*Parent, 12000.0);
    profiler->RootCycles[kSlotSceneUpdate] = Parent.get();
    for (int i = 0; i < children; ++i) {
      Cycles.push_back(std::make_unique<KProfilingSampling>(
          ("Child task " + std::to_string(i)).c_str(), 0.2f, 0.8f, 0.4f));
      KProfilingSampling_AddSample(*Cycles.back(), 10.0 + i);
      KProfilingSampling_AddSample(*Cycles.back(), 30.0 + i);
      KProfilingSampling_AddChild(*Parent, 1, Cycles.back().get());
    }
    profiler->EvaluationDepth = 1;
    profiler->ProfilingEnabled = 1;
  }
  ~Scene() {
    for (KProfilingSampling*& slot : KProfiler::TheOne()->RootCycles) slot = nullptr;
  }
};

// A headless surface and the GL graphic context drawing into it; on failure
// the benchmark is skipped with the reason and Graphic stays null.
struct GlTarget {
  std::unique_ptr<KSurface> Surface;
  IKtGraphic* Graphic = nullptr;

  GlTarget(int width, int height, benchmark::State& state) {
    std::string error;
    Surface = KSurface_CreateHeadless(width, height, &error);
    if (Surface) Graphic = KtGraphic_CreateGL(width, height, &error);
    if (!Graphic) state.SkipWithError(error.c_str());
  }
  ~GlTarget() {
    if (Graphic) Graphic->Destroy(0);
  }
  GlTarget(const GlTarget&) = delete;
  GlTarget& operator=(const GlTarget&) = delete;
};

void BM_Paint(benchmark::State& state) {
  const int width = 900;
  const int height = 600;
  GlTarget target(width, height, state);
  if (!target.Graphic) return;
  IKtGraphic* graphic = target.Graphic;
  {
    Scene scene(static_cast<int>(state.range(0)));
    KProfiler::TheOne()->FrameReference = state.range(1) != 0;
    KtProfilingDrawView view;
    KtViewHost host(graphic);
    host.SetRoot(static_cast<IKtView*>(&view), width, height);
    host.Expose();  // first-use set-up outside the timing
    for (auto _ : state) {
      view.ViewExpose(nullptr);
    }
    target.Surface->Present();
    state.SetItemsProcessed(state.iterations() * (state.range(0) + 11));
    host.SetRoot(nullptr, 0, 0);
  }
}

BENCHMARK(BM_Paint)
    ->ArgNames({"children", "percent"})
    ->ArgsProduct({{0, 100, 1000, 5000}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// A tall chart against a short one, both through the same window of about
// 20 visible chart rows: rows = the eleven root rows plus a parent's
// children. Each iteration paints both, each finished by glFinish so the
// rasteriser's share is counted; "ratio" is the tall paint's time over the
// short one's, measured in the same iterations.
void BM_TallChartAgainstShort(benchmark::State& state) {
  const int width = 900;
  const int height = 390;  // the chart's rows start near y 95: about 20 fit
  const int tallRows = static_cast<int>(state.range(0));
  constexpr int kShortRows = 20;
  constexpr int kRootRows = 11;
  GlTarget target(width, height, state);
  if (!target.Graphic) return;
  IKtGraphic* graphic = target.Graphic;
  {
    Scene tall(tallRows - kRootRows);
    KProfilingSampling* tallParent = tall.Parent.get();
    Scene shortScene(kShortRows - kRootRows);  // owns the root table from here
    KProfilingSampling* shortParent = shortScene.Parent.get();
    KProfiler::TheOne()->FrameReference = true;
    KtProfilingDrawView tallView;
    KtProfilingDrawView shortView;
    KtViewHost tallHost(graphic);
    KtViewHost shortHost(graphic);
    tallHost.SetRoot(static_cast<IKtView*>(&tallView), width, height);
    shortHost.SetRoot(static_cast<IKtView*>(&shortView), width, height);
    KProfilingSampling** parentSlot = &KProfiler::TheOne()->RootCycles[kSlotSceneUpdate];
    // First-use set-up (atlases, scroll ranges) outside the timing.
    for (int i = 0; i < 2; ++i) {
      *parentSlot = tallParent;
      tallHost.Expose();
      *parentSlot = shortParent;
      shortHost.Expose();
    }
    glFinish();
    using Clock = std::chrono::steady_clock;
    Clock::duration tallTime{};
    Clock::duration shortTime{};
    for (auto _ : state) {
      *parentSlot = shortParent;
      const Clock::time_point t0 = Clock::now();
      shortView.ViewExpose(nullptr);
      glFinish();
      const Clock::time_point t1 = Clock::now();
      *parentSlot = tallParent;
      tallView.ViewExpose(nullptr);
      glFinish();
      const Clock::time_point t2 = Clock::now();
      shortTime += t1 - t0;
      tallTime += t2 - t1;
    }
    const double shortUs = std::chrono::duration<double, std::micro>(shortTime).count();
    const double tallUs = std::chrono::duration<double, std::micro>(tallTime).count();
    const double n = static_cast<double>(state.iterations());
    state.counters["short_us"] = shortUs / n;
    state.counters["tall_us"] = tallUs / n;
    state.counters["ratio"] = shortUs > 0.0 ? tallUs / shortUs : 0.0;
    tallHost.SetRoot(nullptr, 0, 0);
    shortHost.SetRoot(nullptr, 0, 0);
  }
}

BENCHMARK(BM_TallChartAgainstShort)->ArgName("rows")->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

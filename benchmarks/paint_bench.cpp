// The drawing view's paint with the stand-in's OpenGL graphic context on a
// headless surface: header, chart of N rows (root cycles plus N children of
// one of them) and scroll bar, in both label modes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "display/profiling_draw_view.h"
#include "host/bcore.h"
#include "host/kbaselib.h"
#include "host/ktoolkit.h"
#include "ksurface.h"

namespace {

struct Scene {
  std::vector<std::unique_ptr<KProfilingSampling>> Cycles;
  std::unique_ptr<KProfilingSampling> Parent;

  explicit Scene(int children) {
    KProfiler* profiler = KProfiler::TheOne();
    for (KProfilingSampling*& slot : profiler->RootCycles) slot = nullptr;
    for (int slot : {0, 1, 2, 4, 5, 6, 8, 9, 10, 11}) {
      Cycles.push_back(std::make_unique<KProfilingSampling>("Root cycle", 0.3f, 0.6f, 0.9f));
      Cycles.back()->AddSample(1000.0 + slot * 300.0);
      profiler->RootCycles[slot] = Cycles.back().get();
    }
    Parent = std::make_unique<KProfilingSampling>("Parent", 0.9f, 0.4f, 0.1f);
    Parent->AddSample(12000.0);
    profiler->RootCycles[3] = Parent.get();
    for (int i = 0; i < children; ++i) {
      Cycles.push_back(std::make_unique<KProfilingSampling>(
          ("Child task " + std::to_string(i)).c_str(), 0.2f, 0.8f, 0.4f));
      Cycles.back()->AddSample(10.0 + i);
      Cycles.back()->AddSample(30.0 + i);
      Parent->AddChild(1, Cycles.back().get());
    }
    profiler->EvaluationDepth = 1;
    profiler->ProfilingEnabled = 1;
  }
  ~Scene() {
    for (KProfilingSampling*& slot : KProfiler::TheOne()->RootCycles) slot = nullptr;
  }
};

void BM_Paint(benchmark::State& state) {
  const int width = 900;
  const int height = 600;
  std::string error;
  std::unique_ptr<KSurface> surface = KSurface_CreateHeadless(width, height, &error);
  if (!surface) {
    state.SkipWithError(error.c_str());
    return;
  }
  IKtGraphic* graphic = KtGraphic_CreateGL(width, height, &error);
  if (!graphic) {
    state.SkipWithError(error.c_str());
    return;
  }
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
    surface->Present();
    state.SetItemsProcessed(state.iterations() * (state.range(0) + 11));
    host.SetRoot(nullptr, 0, 0);
  }
  graphic->Destroy(0);
}

BENCHMARK(BM_Paint)
    ->ArgNames({"children", "percent"})
    ->ArgsProduct({{0, 100, 1000, 5000}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// The drawing view's paint with the stand-in's OpenGL graphic context on a
// headless surface: header, chart of N rows (root cycles plus N children of
// one of them) and scroll bar, in both label modes; and a tall chart against
// a short one in a window that shows about 20 rows.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
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

// CPU time in microseconds: of the process (the renderer's own threads
// count) or of the calling thread alone.
double CpuUs(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// A graphic context that draws nothing: what is left of a paint through it
// is the module's own work (and its direct OpenGL colour calls).
class NullGraphic final : public IKtGraphic {
 public:
  IObject* IQuery(unsigned long, int) override { return this; }
  void Destroy(int) override {}
  void SetViewport(int, int, int, int) override {}
  void DrawRectangle(float, float, float, float) override {}
  void BeginPrimitive(int) override {}
  void EndPrimitive() override {}
  void DrawString(const char*, float, float, int, int, int) override {}
  void MeasureString(const char*, int, int& width, int& height) override {
    width = 0;
    height = 14;
  }
  void PushView(int, int, int, int) override {}
  void PopView() override {}
  void GetViewOrigin(int& x, int& y) override { x = y = 0; }
};

// A chart with `children` rows below one root row against the same chart
// without them, in one window of 900 x 600 pixels (about 30 rows visible),
// interleaved, each paint finished by glFinish. "ratio" is in process CPU
// time (the renderer's threads count); "thread_ratio" in the painting
// thread's. The same pair is painted through a graphic context that draws
// nothing, which splits the extra rows' cost (in the painting thread's
// time: off-view rows give the renderer's threads nothing to do):
// "module_ns_per_row" is the module's own work per off-view row,
// "context_ns_per_row" what the OpenGL graphic context adds to it.
void BM_ManyRowsAgainstNone(benchmark::State& state) {
  const int width = 900;
  const int height = 600;
  const int children = static_cast<int>(state.range(0));
  GlTarget target(width, height, state);
  if (!target.Graphic) return;
  {
    Scene many(children);
    KProfilingSampling* manyParent = many.Parent.get();
    Scene none(0);  // owns the root table from here
    KProfilingSampling* noneParent = none.Parent.get();
    KProfiler::TheOne()->FrameReference = true;
    KProfilingSampling** parentSlot = &KProfiler::TheOne()->RootCycles[kSlotSceneUpdate];
    NullGraphic nullGraphic;
    KtProfilingDrawView glView;
    KtProfilingDrawView nullView;
    KtViewHost glHost(target.Graphic);
    KtViewHost nullHost(&nullGraphic);
    glHost.SetRoot(static_cast<IKtView*>(&glView), width, height);
    nullHost.SetRoot(static_cast<IKtView*>(&nullView), width, height);
    for (int i = 0; i < 2; ++i) {
      for (KProfilingSampling* parent : {manyParent, noneParent}) {
        *parentSlot = parent;
        glHost.Expose();
        nullHost.Expose();
      }
    }
    glFinish();
    double process[2] = {};    // GL context: [many, none]
    double thread[2][2] = {};  // [GL, null][many, none]
    for (auto _ : state) {
      for (int graphic = 0; graphic < 2; ++graphic) {
        KtProfilingDrawView& view = graphic == 0 ? glView : nullView;
        for (int scene = 0; scene < 2; ++scene) {
          *parentSlot = scene == 0 ? manyParent : noneParent;
          const double p0 = CpuUs(CLOCK_PROCESS_CPUTIME_ID);
          const double t0 = CpuUs(CLOCK_THREAD_CPUTIME_ID);
          view.ViewExpose(nullptr);
          glFinish();
          thread[graphic][scene] += CpuUs(CLOCK_THREAD_CPUTIME_ID) - t0;
          if (graphic == 0) process[scene] += CpuUs(CLOCK_PROCESS_CPUTIME_ID) - p0;
        }
      }
    }
    const double n = static_cast<double>(state.iterations());
    const double rows = static_cast<double>(children);
    state.counters["many_us"] = process[0] / n;
    state.counters["none_us"] = process[1] / n;
    state.counters["ratio"] = process[1] > 0.0 ? process[0] / process[1] : 0.0;
    state.counters["thread_ratio"] = thread[0][1] > 0.0 ? thread[0][0] / thread[0][1] : 0.0;
    const double moduleUs = thread[1][0] - thread[1][1];
    state.counters["module_ns_per_row"] = moduleUs / n / rows * 1000.0;
    state.counters["context_ns_per_row"] =
        ((thread[0][0] - thread[0][1]) - moduleUs) / n / rows * 1000.0;
    glHost.SetRoot(nullptr, 0, 0);
    nullHost.SetRoot(nullptr, 0, 0);
  }
}

BENCHMARK(BM_ManyRowsAgainstNone)->ArgName("children")->Arg(5000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

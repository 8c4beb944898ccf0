// A worker thread records samples into the task cycles (and grows and
// shrinks their windows) while the user-interface thread paints the chart
// again and again, as the host's frame loop and its window do. Run under the
// tsan preset, this is the check that the chart's reads and the host's
// recording share no unsynchronised state. GL calls go to the dispatch's
// no-op entries: no context is current.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "display/task_cycle_overlay.h"
#include "display_test_support.h"
#include "standin/kbaselib/profiler.h"

namespace kp_test {
namespace {

class CountingGraphic : public IKtGraphic {
 public:
  virtual ~CountingGraphic() = default;
  long Rows = 0;
  IObject* IQuery(unsigned long, int) override { return nullptr; }
  void Destroy(int) override {}
  void SetViewport(int, int, int, int) override {}
  void DrawRectangle(float, float, float, float) override {}
  void BeginPrimitive(int) override {}
  void EndPrimitive() override {}
  void DrawString(const char*, float, float, int, int, int) override { ++Rows; }
  void MeasureString(const char*, int, int& width, int& height) override { width = height = 0; }
  void PushView(int, int, int, int) override {}
  void PopView() override {}
  void GetViewOrigin(int& x, int& y) override { x = y = 0; }
};

TEST(ChartConcurrency, PaintsWhileAWorkerRecordsSamples) {
  ProfilerScope profiler;
  std::vector<std::unique_ptr<KProfilingSampling>> cycles;
  for (int slot : {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11}) {
    cycles.push_back(MakeSampling("Root " + std::to_string(slot), {1000.0}));
    KProfiler_SetRootCycle(*KProfiler::TheOne(), slot, cycles.back().get());
  }
  for (int i = 0; i < 40; ++i) {
    cycles.push_back(MakeSampling("Child " + std::to_string(i), {10.0}));
    KProfilingSampling_AddChild(*KProfiler::TheOne()->RootCycles[6], 1, cycles.back().get());
  }
  KProfiler::TheOne()->EvaluationDepth = 1;

  std::atomic<bool> stop{false};
  std::atomic<long> recorded{0};
  std::thread worker([&] {
    long round = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      for (auto& cycle : cycles)
        KProfilingSampling_AddSample(*cycle, 100.0 + static_cast<double>(round % 997));
      if (round % 64 == 0)
        KProfilingSampling_SetBufferSize(*cycles[static_cast<size_t>(round) % cycles.size()],
                                         1 + static_cast<int>(round % 50));
      KProfiler_AddCost(*KProfiler::TheOne(), 1.0);
      ++round;
      recorded.store(round, std::memory_order_relaxed);
    }
  });

  TestOverlay overlay;
  CountingGraphic graphic;
  for (int paint = 0; paint < 3000; ++paint) {
    KProfiler::TheOne()->FrameReference = paint % 2 == 0;
    overlay.DrawChart(&graphic, 1);
  }
  // Keep painting until the worker has recorded a fair number of rounds, so
  // the two really overlapped.
  while (recorded.load(std::memory_order_relaxed) < 200) overlay.DrawChart(&graphic, 1);
  stop.store(true);
  worker.join();
  EXPECT_GE(graphic.Rows, 3000L * (11 + 40));
}

}  // namespace
}  // namespace kp_test

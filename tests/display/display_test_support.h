// Helpers shared by the display tests: a profiler reset to a known state,
// samplings with exact statistics, trees with scripted children, and an
// overlay set up with the drawing view's geometry.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "display/task_cycle_overlay.h"
#include "host/bcore.h"
#include "host/kbaselib.h"
#include "standin/kbaselib/profiler.h"

namespace kp_test {

// Puts the host profiler and evaluation manager in a known state on
// construction and again on destruction: no root cycles, millisecond mode,
// no child rows, profiling enabled, divisor 1, empty profiling cost.
class ProfilerScope {
 public:
  ProfilerScope() { Reset(); }
  ~ProfilerScope() { Reset(); }
  ProfilerScope(const ProfilerScope&) = delete;
  ProfilerScope& operator=(const ProfilerScope&) = delete;

  static void Reset() {
    KProfiler* profiler = KProfiler::TheOne();
    for (KProfilingSampling*& slot : profiler->RootCycles) slot = nullptr;
    profiler->FrameReference = false;
    profiler->EvaluationDepth = 0;
    profiler->ProfilingEnabled = 1;
    KProfilingSampling_Reset(profiler->ProfilingCost);
    KEvaluateManager::TheOne()->EvaluationRateDivisor = 1;
  }
};

// A sampling holding exactly `samples` (microseconds) in its window.
inline std::unique_ptr<KProfilingSampling> MakeSampling(const std::string& name,
                                                        std::initializer_list<double> samples,
                                                        float red = 0.25f, float green = 0.5f,
                                                        float blue = 0.75f) {
  auto sampling = std::make_unique<KProfilingSampling>(name.c_str(), red, green, blue, 1000);
  for (double sample : samples) KProfilingSampling_AddSample(*sampling, sample);
  return sampling;
}

// A sampling whose category-1 children are scripted: any count, holes
// (HasChild false), null children, itself as a child. Records the child
// calls it receives.
class ScriptedSampling : public KProfilingSampling {
 public:
  explicit ScriptedSampling(const char* name, double sample = 1000.0)
      : KProfilingSampling(name, 1.0f, 1.0f, 1.0f, 10) {
    KProfilingSampling_AddSample(*this, sample);
  }
  struct Slot {
    bool Present;
    KProfilingSampling* Child;
  };
  std::vector<Slot> Slots;
  bool OverrideCount = false;  // GetChildCount answers CountOverride
  int CountOverride = 0;
  std::vector<int> ChildCountCategories;
  std::vector<int> GetChildIndices;
  std::vector<int> HasChildIndices;

  int GetChildCount(int category) override {
    ChildCountCategories.push_back(category);
    if (category != 1) return 0;
    return OverrideCount ? CountOverride : static_cast<int>(Slots.size());
  }
  KProfilingSampling* GetChild(int category, int index) override {
    GetChildIndices.push_back(index);
    if (category != 1 || index < 0 || index >= static_cast<int>(Slots.size())) return nullptr;
    return Slots[static_cast<size_t>(index)].Child;
  }
  bool HasChild(int category, int index) override {
    HasChildIndices.push_back(index);
    if (category != 1 || index < 0 || index >= static_cast<int>(Slots.size())) return false;
    return Slots[static_cast<size_t>(index)].Present;
  }
};

// An overlay with the drawing view's geometry (left 20, top 90, rows 15,
// bar scale 100), its protected state opened for the tests, and a height
// hook that counts its calls and the height it saw.
class TestOverlay : public KTaskCycleOverlay {
 public:
  TestOverlay() {
    SetLeft(20);
    SetTop(90);
    SetMinRowHeight(15);
    SetMinBarScale(100);
    SetRowHeight(15);
    SetBarScale(100);
  }
  using KTaskCycleOverlay::ChartHeight;
  using KTaskCycleOverlay::SelectedCycle;

  int HookCalls = 0;
  int HeightSeenByHook = 0;
  void ChartHeightChanged() override {
    ++HookCalls;
    HeightSeenByHook = GetChartHeight();
  }
};

}  // namespace kp_test

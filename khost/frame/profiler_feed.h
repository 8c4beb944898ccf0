// Feeds the host profiler: owns the task cycles of a cycle catalogue, puts
// them in the profiler's root table as the catalogue's tree and records each
// measured frame in them. Beside each cycle it keeps the cycle's CPU times
// over the same averaging window (not in the profiler's table: the chart
// shows the steady clock's times).
//
// [loop thread; -]: every call.
#pragma once

#include <memory>
#include <vector>

#include "host/kbaselib.h"
#include "khost/frame/chart_rows.h"
#include "khost/frame/cycle_catalogue.h"
#include "khost/frame/measured_frame.h"

namespace khost {

class ProfilerFeed {
 public:
  // The cycles of `catalogue` (borrowed: it outlives the feed).
  explicit ProfilerFeed(const CycleCatalogue& catalogue = CycleCatalogue::Standard());
  // Takes its cycles out of the profiler's table.
  ~ProfilerFeed();
  ProfilerFeed(const ProfilerFeed&) = delete;
  ProfilerFeed& operator=(const ProfilerFeed&) = delete;

  // Puts the root cycles in the profiler's root table (the slots the
  // catalogue does not use are left empty).
  void Install();
  void Uninstall();
  // The catalogue's per-character cycles for `count` characters.
  void SetCharacterCount(int count);

  // Records frame `frame`'s samples (wall and CPU); the time this takes
  // is reported to the profiler as its own cost (AddCost, between
  // BeginFrame and EndFrame, which this calls).
  void Publish(const MeasuredFrame& frame);

  // The chart's rows as the profiler holds them now, with `displayed` (a
  // root slot, or -1) in place of the lower block (see chart_rows.h).
  std::vector<ChartRow> ChartRows(int displayed) const;

  // The root cycle in `slot` (null when the catalogue has none there).
  KProfilingSampling* GetSlot(int slot) const;
  int GetCharacterCount() const { return mCharacterCount; }

 private:
  // A cycle of the tree and, when it carries a CPU time, a twin that
  // averages its CPU times over the same window.
  class FedCycle : public KProfilingSampling {
   public:
    FedCycle(const char* name, CycleColour colour, bool cpu);
    std::unique_ptr<KProfilingSampling> Cpu;
  };
  // Records a sample in `cycle` and its CPU time in the cycle's twin.
  static void Add(FedCycle& cycle, double micros, double cpuMicros);
  static double CpuAverage(KProfilingSampling& cycle);

  const CycleCatalogue& mCatalogue;
  std::vector<std::unique_ptr<FedCycle>> mCycles;  // by catalogue row
  // Character c's pattern row p at c * CharacterRowCount() + p.
  std::vector<std::unique_ptr<FedCycle>> mCharacters;
  int mCharacterCount = 0;
  bool mInstalled = false;
};

}  // namespace khost

// Feeds the host profiler: owns the task cycles khost measures, puts them in
// the profiler's root table and records each measured frame in them. Beside
// each cycle it keeps the cycle's CPU times over the same averaging window
// (not in the profiler's table: the chart shows the steady clock's times).
//
// Every call runs on the loop's thread.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/kbaselib.h"
#include "khost/frame/measured_frame.h"
#include "standin/kbaselib/profiler.h"

namespace khost {

// A row of the task-cycle chart: the cycles the chart shows, in its order
// (the upper block, then the displayed cycle or the lower block; children
// when the evaluation depth is not 0, a child with no share left out with
// its descendants), with the profiler's statistics over its averaging
// window.
struct ChartRow {
  std::string Name;
  int Depth = 0;
  double Average = 0.0;  // microseconds, steady clock
  double Minimum = 0.0;
  double Maximum = 0.0;
  double AverageCpu = 0.0;  // microseconds, the cycle's CPU clock; negative: not measured
};

// The cycle the chart's display selector item `item` shows in place of the
// lower block: a root slot, or -1 for the whole lower block ("DisplayAll",
// and any item the selector does not offer).
int DisplayedSlot(std::string_view item);

class ProfilerFeed {
 public:
  ProfilerFeed();
  // Takes its cycles out of the profiler's table.
  ~ProfilerFeed();
  ProfilerFeed(const ProfilerFeed&) = delete;
  ProfilerFeed& operator=(const ProfilerFeed&) = delete;

  // Puts the cycles in the profiler's root table (slot 7 left empty).
  void Install();
  void Uninstall();
  // One "Character N" child (with "Skeleton" and "Constraints") per
  // character of the evaluation cycle.
  void SetCharacterCount(int count);

  // Records frame `frame`'s samples (wall and CPU); the time this takes
  // is reported to the profiler as its own cost (AddCost, between
  // BeginFrame and EndFrame, which this calls).
  void Publish(const MeasuredFrame& frame);

  // The chart's rows as the profiler holds them now, with `displayed` (a
  // root slot, or -1) in place of the lower block. Empty while profiling is
  // off, as the chart is then not drawn.
  std::vector<ChartRow> ChartRows(int displayed) const;

  KProfilingSampling* GetSlot(int slot) const;
  KProfilingSampling* GetCharacter(int index) const;
  int GetCharacterCount() const { return static_cast<int>(mCharacters.size()); }

 private:
  struct CharacterCycles {
    std::unique_ptr<KProfilingSampling> Total;
    std::unique_ptr<KProfilingSampling> Skeleton;
    std::unique_ptr<KProfilingSampling> Constraints;
  };
  // Records a sample in `cycle` and its CPU time in the cycle's twin.
  void Add(KProfilingSampling& cycle, double micros, double cpuMicros);
  void CollectCycle(KProfilingSampling* cycle, double reference, int depth,
                    std::vector<ChartRow>& rows) const;

  std::unique_ptr<KProfilingSampling> mSlots[KProfiler::kRootCycleCount];
  std::unique_ptr<KProfilingSampling> mCulling;
  std::unique_ptr<KProfilingSampling> mSubmission;
  std::vector<CharacterCycles> mCharacters;
  // Each cycle's CPU times, by the cycle.
  std::unordered_map<const KProfilingSampling*, std::unique_ptr<KProfilingSampling>> mCpu;
  bool mInstalled = false;
};

// A CSV field: quoted (with doubled quotes) when it holds a comma, a quote
// or a line break.
std::string CsvField(const std::string& text);
// CSV: a header line (name, depth, average_us, minimum_us, maximum_us,
// average_cpu_us), then one line per row.
void WriteChartRowsCsv(const std::vector<ChartRow>& rows, std::ostream& out);

}  // namespace khost

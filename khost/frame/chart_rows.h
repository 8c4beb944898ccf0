// The task-cycle chart's rows as the module draws them, for the statistics
// (--stats): one walk of the profiler's tree with the chart's rules and
// bounds, mirrored from the module's chart. The upper block, then the cycle
// the display selector shows or the lower block; children when the
// evaluation depth is not 0, a child with no share left out with its
// descendants; a cycle already on the path from its top-level row is not
// walked again, nor are children below the depth bound or past a top-level
// row's budgets of rows and child indices.
//
// [loop thread; -]: the profiler's tree changes on the loop thread only.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/kbaselib.h"
#include "host/ktoolkit.h"
#include "khost/frame/cycle_catalogue.h"
#include "khost/frame/cycle_percentiles.h"

namespace khost {

// The module's chart bounds (its KTaskCycleOverlay), mirrored.
inline constexpr int kChartMaxChildDepth = 256;
inline constexpr int kChartMaxRowsPerTopLevelRow = 65536;
inline constexpr int kChartMaxChildIndicesPerTopLevelRow = 1 << 20;
// The lower block's reference with the frame reference off: 1/60 s in
// microseconds, divided by the evaluation rate divisor.
inline constexpr double kChartFixedReferencePeriod = 16666.666666666668;

// A row of the chart with the profiler's statistics over its averaging
// window.
struct ChartRow {
  std::string Name;
  int Depth = 0;
  double Average = 0.0;  // microseconds, steady clock
  double Minimum = 0.0;
  double Maximum = 0.0;
  double AverageCpu = 0.0;  // microseconds, the cycle's CPU clock; negative: not measured
  // Over the run's frames the cycle ran in (not the averaging window).
  CyclePercentileSummary Run;
};

// The root slot the display selector's item at `index` shows in place of
// the lower block, or -1 for the whole lower block: the module's selector
// shows the evaluation, the rendering and the devices cycles after its
// first item (the whole chart), and the whole chart for any other index.
int DisplayedSlot(int index);
// The same for the item display selector `selector` (null: none) shows now,
// however it was chosen.
int DisplayedSlot(const KtList* selector);

// A cycle's CPU average over its window (negative: none).
using CpuAverageOf = double (*)(KProfilingSampling& cycle);

// The rows the chart draws now, with `displayed` (a root slot, or -1) in
// place of the lower block; the blocks' roots are the catalogue's, in its
// order. While profiling is off (and the chart is not drawn) the rows hold
// the statistics frozen when it stopped.
std::vector<ChartRow> WalkChart(const CycleCatalogue& catalogue, int displayed,
                                CpuAverageOf cpuAverage);

// A CSV field: quoted (with doubled quotes) when it holds a comma, a quote
// or a line break.
std::string CsvField(const std::string& text);
// Fills each row's percentiles from `percentiles`, the row's cycle found by
// its path: the names of the rows above it at each smaller depth and its
// own.
void AddRunPercentiles(std::vector<ChartRow>& rows, const CyclePercentiles& percentiles);
// CSV: a header line (name, depth, average_us, minimum_us, maximum_us,
// average_cpu_us, then frames, median_us, p95_us, p99_us, p999_us), then one
// line per row.
void WriteChartRowsCsv(const std::vector<ChartRow>& rows, std::ostream& out);

}  // namespace khost

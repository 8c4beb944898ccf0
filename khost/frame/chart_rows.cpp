#include "khost/frame/chart_rows.h"

#include <cstdio>

#include "host/bcore.h"
#include "standin/kbaselib/profiler.h"

namespace khost {

namespace {

double AverageOrZero(KProfilingSampling* cycle) {
  return cycle ? static_cast<double>(cycle->GetAvgUsage()) : 0.0;
}

// One top-level row's walk, as the chart's DrawCycle goes.
class ChartWalk {
 public:
  ChartWalk(double reference, CpuAverageOf cpuAverage, std::vector<ChartRow>& rows)
      : mReference(reference), mCpuAverage(cpuAverage), mRows(rows) {}

  void Cycle(KProfilingSampling* cycle, int depth) {
    if (!cycle) return;
    for (int i = 0; i < mPathLength; ++i) {
      if (mPath[i] == cycle) return;  // a cycle in the child lists
    }
    if (mRowsLeft <= 0) return;
    double average = 0.0;
    double minimum = 0.0;
    double maximum = 0.0;
    cycle->QueryAcquire();
    cycle->GetAvgMinMaxUsage(average, minimum, maximum);
    cycle->QueryRelease();
    // A child that used nothing is left out with its descendants; NaN (a
    // zero usage of a zero reference) counts as a share.
    if (depth != 0 && average / mReference <= 0.0) return;
    --mRowsLeft;
    mRows.push_back({cycle->GetName(), depth, average, minimum, maximum, mCpuAverage(*cycle), {}});
    if (KProfiler::TheOne()->EvaluationDepth == 0) return;
    if (depth >= kChartMaxChildDepth || mPathLength >= kChartMaxChildDepth) return;
    const int count = cycle->GetChildCount(1);
    mPath[mPathLength++] = cycle;
    for (int index = 0; index < count && mRowsLeft > 0 && mChildIndicesLeft > 0; ++index) {
      --mChildIndicesLeft;
      if (cycle->HasChild(1, index)) Cycle(cycle->GetChild(1, index), depth + 1);
    }
    --mPathLength;
  }

 private:
  double mReference;
  CpuAverageOf mCpuAverage;
  std::vector<ChartRow>& mRows;
  KProfilingSampling* mPath[kChartMaxChildDepth] = {};
  int mPathLength = 0;
  int mRowsLeft = kChartMaxRowsPerTopLevelRow;
  int mChildIndicesLeft = kChartMaxChildIndicesPerTopLevelRow;
};

void WalkRoots(std::span<const int> roots, const CycleCatalogue& catalogue, double reference,
               CpuAverageOf cpuAverage, std::vector<ChartRow>& rows) {
  KProfilingSampling** table = KProfiler::TheOne()->RootCycles;
  for (int row : roots) {
    ChartWalk(reference, cpuAverage, rows).Cycle(table[catalogue.Row(row).Place.Slot], 0);
  }
}

}  // namespace

int DisplayedSlot(int index) {
  switch (index) {
    case 1:
      return kSlotEvaluation;
    case 2:
      return kSlotRendering;
    case 3:
      return kSlotDevices;
    default:
      return -1;
  }
}

int DisplayedSlot(const KtList* selector) {
  return selector ? DisplayedSlot(selector->SelectedIndex.Get()) : -1;
}

std::vector<ChartRow> WalkChart(const CycleCatalogue& catalogue, int displayed,
                                CpuAverageOf cpuAverage) {
  std::vector<ChartRow> rows;
  // With profiling off the chart is not drawn, but the samplings keep the
  // statistics they last had (the header shows them frozen): the rows are
  // those, as the chart showed them when profiling stopped.
  KProfiler* profiler = KProfiler::TheOne();
  KProfilingSampling** table = profiler->RootCycles;
  // The upper block against its first cycle; the lower one against the
  // frame period, or a fixed period with the frame reference off.
  const std::span<const int> upper = catalogue.Roots(ChartBlock::kUpper);
  const double upperReference =
      upper.empty() ? 0.0 : AverageOrZero(table[catalogue.Row(upper.front()).Place.Slot]);
  WalkRoots(upper, catalogue, upperReference, cpuAverage, rows);
  double lowerReference = kChartFixedReferencePeriod;
  if (profiler->FrameReference) {
    lowerReference = AverageOrZero(table[kSlotDevices]);
  } else {
    const int divisor = static_cast<int>(KEvaluateManager::TheOne()->EvaluationRateDivisor);
    if (divisor >= 1) lowerReference /= static_cast<double>(divisor);
  }
  // The selector shows its cycle when the table holds one there, else the
  // whole chart.
  KProfilingSampling* shown =
      displayed >= 0 && displayed < KProfiler::kRootCycleCount ? table[displayed] : nullptr;
  if (shown) {
    ChartWalk(lowerReference, cpuAverage, rows).Cycle(shown, 0);
  } else {
    WalkRoots(catalogue.Roots(ChartBlock::kLower), catalogue, lowerReference, cpuAverage, rows);
  }
  return rows;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void AddRunPercentiles(std::vector<ChartRow>& rows, const CyclePercentiles& percentiles) {
  std::vector<std::string> path;  // the names from the root down to the row
  for (ChartRow& row : rows) {
    path.resize(static_cast<std::size_t>(row.Depth));
    path.push_back(row.Name);
    std::string joined;
    for (const std::string& part : path) joined += (joined.empty() ? "" : "/") + part;
    row.Run = percentiles.Of(joined);
  }
}

void WriteChartRowsCsv(const std::vector<ChartRow>& rows, std::ostream& out) {
  // The run's percentiles come after the window's columns, so that scripts
  // reading those by position keep working.
  out << "name,depth,average_us,minimum_us,maximum_us,average_cpu_us,frames,median_us,p95_us,"
         "p99_us,p999_us\n";
  char numbers[160];
  for (const ChartRow& row : rows) {
    std::snprintf(numbers, sizeof(numbers), ",%d,%.3f,%.3f,%.3f,", row.Depth, row.Average,
                  row.Minimum, row.Maximum);
    out << CsvField(row.Name) << numbers;
    // An empty field for a cycle not measured on the CPU clock.
    if (row.AverageCpu >= 0.0) {
      std::snprintf(numbers, sizeof(numbers), "%.3f", row.AverageCpu);
      out << numbers;
    }
    std::snprintf(numbers, sizeof(numbers), ",%lld,%.3f,%.3f,%.3f,%.3f", row.Run.Frames,
                  row.Run.Median, row.Run.P95, row.Run.P99, row.Run.P999);
    out << numbers << '\n';
  }
}

}  // namespace khost

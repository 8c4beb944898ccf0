#include "khost/experiments/recording_comparison.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <tuple>

#include "khost/base/quoting.h"
#include "khost/experiments/slower_gate.h"
#include "khost/frame/chart_rows.h"

namespace khost {

namespace {

constexpr double kP99 = 99.0;
constexpr double kConfidence = 0.95;

// How a recording's counted frames fall into blocks.
struct Blocks {
  long long Counted = 0;  // frames between the first and the last
  int Length = 1;         // frames per block
  int Count = 0;

  explicit Blocks(const Recording& recording)
      : Counted(std::max(0LL, recording.FrameCount - 2)),
        Length(std::max(1, static_cast<int>(std::lround(std::sqrt(static_cast<double>(Counted)))))),
        Count(static_cast<int>(Counted / Length)) {}

  // The block of the frame at `position` in the recording, or -1 for the
  // first and the last frame.
  int Of(long long position) const {
    if (position < 1 || position > Counted) return -1;
    return static_cast<int>(std::min<long long>((position - 1) / Length, Count - 1));
  }
};

// A cycle's times on `clock` in the counted frames, block by block.
std::vector<std::vector<double>> BlockValues(const RecordedCycle& cycle, const Blocks& blocks,
                                             MeasureClock clock, long long& frames) {
  std::vector<std::vector<double>> values(static_cast<std::size_t>(blocks.Count));
  frames = 0;
  for (std::size_t i = 0; i < cycle.Frames.size(); ++i) {
    const int block = blocks.Of(cycle.Frames[i]);
    const double value = clock == MeasureClock::kCpu ? cycle.CpuMicros[i] : cycle.Micros[i];
    if (block < 0 || value < 0.0) continue;
    values[static_cast<std::size_t>(block)].push_back(value);
    ++frames;
  }
  return values;
}

std::vector<double> Pooled(const std::vector<std::vector<double>>& blocks) {
  std::vector<double> all;
  for (const std::vector<double>& block : blocks) all.insert(all.end(), block.begin(), block.end());
  return all;
}

// Whether any frame of `cycle` has a CPU time.
bool HasCpuTime(const RecordedCycle* cycle) {
  return cycle && std::any_of(cycle->CpuMicros.begin(), cycle->CpuMicros.end(),
                              [](double v) { return v >= 0.0; });
}

// The cycle's name: its path's last part (the whole path at the top).
std::string LastPart(const RecordedCycle& cycle) {
  const std::size_t slash = cycle.Path.rfind('/');
  if (cycle.Depth == 0 || slash == std::string::npos) return cycle.Path;
  return cycle.Path.substr(slash + 1);
}

// The rows' order, the chart's: each cycle under its parent, siblings in
// the order the recordings first name them (before's first, then those only
// after names).
std::vector<long long> OrderKey(const std::string& path,
                                const std::map<std::string, long long>& rank) {
  std::vector<long long> key;
  std::size_t slash = path.find('/');
  while (slash != std::string::npos) {
    const auto parent = rank.find(path.substr(0, slash));
    if (parent != rank.end()) key.push_back(parent->second);
    slash = path.find('/', slash + 1);
  }
  key.push_back(rank.at(path));
  return key;
}

// One line of the table: the cycle, both medians, their ratio and its
// interval, both p99s, theirs, and the verdict, in --compare's columns
// (each widened to its text when that is longer).
std::string TableLine(std::size_t width, const std::array<std::string, 10>& cells) {
  constexpr std::size_t kWidths[] = {0, 13, 13, 8, 19, 13, 13, 8, 19, 0};
  constexpr bool kLeft[] = {true, false, false, false, true, false, false, false, true, true};
  constexpr const char* kBefore[] = {"", " ", " ", " ", "  ", " ", " ", " ", "  ", " "};
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const std::size_t w = i == 0 ? width : kWidths[i];
    const std::string pad(cells[i].size() < w ? w - cells[i].size() : 0, ' ');
    line += kBefore[i];
    line += kLeft[i] ? cells[i] + (i + 1 < cells.size() ? pad : "") : pad + cells[i];
  }
  return line + "\n";
}

// The verdict on a row's medians and their interval, beyond what two runs
// of the same settings differ by.
Verdict RunToRunVerdict(const RecordingComparisonRow& row) {
  const double difference = row.MedianAfter - row.MedianBefore;
  if (row.Low > 1.0 + kRunToRunTolerance && difference > kNegligibleMicros) {
    return Verdict::kSlower;
  }
  if (row.High < 1.0 / (1.0 + kRunToRunTolerance) && -difference > kNegligibleMicros) {
    return Verdict::kFaster;
  }
  return Verdict::kNoClearDifference;
}

}  // namespace

RecordingComparison CompareRecordings(const Recording& before, const Recording& after, int depth,
                                      MeasureClock clock) {
  RecordingComparison result;
  result.Before = before.Name;
  result.After = after.Name;
  result.Clock = clock;
  const Blocks blocksBefore(before);
  const Blocks blocksAfter(after);
  result.FramesBefore = blocksBefore.Counted;
  result.FramesAfter = blocksAfter.Counted;
  result.BlockBefore = blocksBefore.Length;
  result.BlockAfter = blocksAfter.Length;
  result.BlocksBefore = blocksBefore.Count;
  result.BlocksAfter = blocksAfter.Count;

  // Every cycle down to the depth, by path, with where each recording has it.
  std::map<std::string, long long> rank;
  std::map<std::string, std::pair<const RecordedCycle*, const RecordedCycle*>> cycles;
  long long next = 0;
  for (const bool isBefore : {true, false}) {
    for (const RecordedCycle& cycle : (isBefore ? before : after).Cycles) {
      if (cycle.Depth > depth) continue;
      rank.try_emplace(cycle.Path, next++);
      auto& both = cycles[cycle.Path];
      (isBefore ? both.first : both.second) = &cycle;
    }
  }
  for (const auto& [path, both] : cycles) {
    const RecordedCycle& any = both.first ? *both.first : *both.second;
    if (clock == MeasureClock::kCpu && !HasCpuTime(both.first) && !HasCpuTime(both.second)) {
      ++result.WithoutCpuTime;
      continue;
    }
    RecordingComparisonRow row;
    row.Path = path;
    row.Name = LastPart(any);
    row.Depth = any.Depth;
    std::vector<std::vector<double>> valuesBefore;
    std::vector<std::vector<double>> valuesAfter;
    if (both.first) valuesBefore = BlockValues(*both.first, blocksBefore, clock, row.FramesBefore);
    if (both.second) valuesAfter = BlockValues(*both.second, blocksAfter, clock, row.FramesAfter);
    if (row.FramesBefore == 0 && row.FramesAfter == 0) continue;  // ran only in left-out frames
    for (auto [values, median, p99] : {std::tuple(&valuesBefore, &row.MedianBefore, &row.P99Before),
                                       std::tuple(&valuesAfter, &row.MedianAfter, &row.P99After)}) {
      std::vector<double> all = Pooled(*values);
      *median = MedianInPlace(all);
      *p99 = PercentileInPlace(all, kP99);
    }
    if (row.InBoth()) {
      const BlockComparison medians =
          CompareBlocksAt(valuesBefore, valuesAfter, kConfidence, SeedOf(path));
      const BlockComparison p99s =
          CompareBlockPercentiles(valuesBefore, valuesAfter, kP99, kConfidence, SeedOf(path) + 1);
      row.Ratio = medians.Ratio;
      row.P99Ratio = p99s.Ratio;
      row.HasInterval = row.FramesBefore >= kMinimumIntervalFrames &&
                        row.FramesAfter >= kMinimumIntervalFrames && std::isfinite(medians.High) &&
                        std::isfinite(p99s.High);
      if (row.HasInterval) {
        row.Low = medians.Low;
        row.High = medians.High;
        row.P99Low = p99s.Low;
        row.P99High = p99s.High;
        row.Result = RunToRunVerdict(row);
      }
    }
    result.Rows.push_back(std::move(row));
  }
  std::sort(result.Rows.begin(), result.Rows.end(),
            [&](const RecordingComparisonRow& x, const RecordingComparisonRow& y) {
              return OrderKey(x.Path, rank) < OrderKey(y.Path, rank);
            });
  return result;
}

std::string VerdictOf(const RecordingComparisonRow& row) {
  if (row.FramesAfter == 0) return "only in before";
  if (row.FramesBefore == 0) return "only in after";
  if (!row.HasInterval) return "too few frames";
  return VerdictText(row.Result);
}

void PrintRecordingComparison(const RecordingComparison& c, std::ostream& out) {
  out << "Comparison of recordings: before = " << EscapeControls(c.Before)
      << ", after = " << EscapeControls(c.After) << "; " << c.FramesBefore << " + " << c.FramesAfter
      << " frames (first and last left out), in " << c.BlocksBefore << " blocks of "
      << c.BlockBefore << " and " << c.BlocksAfter << " of " << c.BlockAfter << "; "
      << ClockText(c.Clock) << " (--clock " << ClockName(c.Clock) << ")\n";
  std::size_t width = 5;
  for (const RecordingComparisonRow& row : c.Rows) {
    width = std::max(width, row.Name.size() + 2 * static_cast<std::size_t>(row.Depth));
  }
  out << TableLine(width, {"cycle", "median before", "median after", "ratio", "95% interval",
                           "p99 before", "p99 after", "ratio", "95% interval", "verdict"});
  const auto interval = [](bool has, double low, double high) {
    return has ? "[" + RatioText(low, 3) + ", " + RatioText(high, 3) + "]" : std::string("-");
  };
  const auto number = [](bool has, double value, int decimals) {
    return has ? RatioText(value, decimals) : std::string("-");
  };
  int onlyBefore = 0;
  int onlyAfter = 0;
  for (const RecordingComparisonRow& row : c.Rows) {
    onlyBefore += row.FramesAfter == 0 ? 1 : 0;
    onlyAfter += row.FramesBefore == 0 ? 1 : 0;
    const bool b = row.FramesBefore > 0;
    const bool a = row.FramesAfter > 0;
    out << TableLine(
        width,
        {std::string(2 * static_cast<std::size_t>(row.Depth), ' ') + EscapeControls(row.Name),
         number(b, row.MedianBefore, 1), number(a, row.MedianAfter, 1),
         number(row.InBoth(), row.Ratio, 3), interval(row.HasInterval, row.Low, row.High),
         number(b, row.P99Before, 1), number(a, row.P99After, 1),
         number(row.InBoth(), row.P99Ratio, 3), interval(row.HasInterval, row.P99Low, row.P99High),
         VerdictOf(row)});
  }
  out << "Times in microseconds; ratios after/before; the verdict is the medians', beyond the "
      << RatioText(100.0 * kRunToRunTolerance, 0) << " % two runs of the same settings may differ.";
  if (onlyBefore + onlyAfter > 0) {
    out << " Left out of the comparison: " << onlyBefore << " cycle(s) only in before ("
        << EscapeControls(c.Before) << "), " << onlyAfter << " only in after ("
        << EscapeControls(c.After) << ").";
  }
  if (c.WithoutCpuTime > 0) {
    out << " Left out: " << c.WithoutCpuTime
        << " cycle(s) with no CPU time in either (a character's, measured on the steady clock "
           "only).";
  }
  if (c.FramesBefore < kMinimumIntervalFrames || c.FramesAfter < kMinimumIntervalFrames) {
    out << " Too few frames for an interval: a cycle needs " << kMinimumIntervalFrames
        << " counted frames in each recording.";
  }
  out << "\n";
}

void WriteRecordingComparisonCsv(const RecordingComparison& c, std::ostream& out) {
  out << "cycle,depth,median_before_us,median_after_us,ratio,ci_low,ci_high,p99_before_us,"
         "p99_after_us,p99_ratio,p99_ci_low,p99_ci_high,frames_before,frames_after,verdict\n";
  for (const RecordingComparisonRow& row : c.Rows) {
    const bool b = row.FramesBefore > 0;
    const bool a = row.FramesAfter > 0;
    const auto field = [&](bool has, double value, int decimals) {
      return (has ? RatioText(value, decimals) : std::string()) + ',';
    };
    out << CsvField(row.Path) << ',' << row.Depth << ',' << field(b, row.MedianBefore, 3)
        << field(a, row.MedianAfter, 3) << field(row.InBoth(), row.Ratio, 4)
        << field(row.HasInterval, row.Low, 4) << field(row.HasInterval, row.High, 4)
        << field(b, row.P99Before, 3) << field(a, row.P99After, 3)
        << field(row.InBoth(), row.P99Ratio, 4) << field(row.HasInterval, row.P99Low, 4)
        << field(row.HasInterval, row.P99High, 4) << row.FramesBefore << ',' << row.FramesAfter
        << ',' << VerdictOf(row) << '\n';
  }
}

Status RecordingsSlowerThan(const RecordingComparison& c, int percent) {
  std::vector<GatedRatio> ratios;
  for (const RecordingComparisonRow& row : c.Rows) {
    if (row.HasInterval) ratios.push_back({row.Path, row.Ratio, row.Low, row.High});
  }
  return SlowerThan(ratios, percent);
}

}  // namespace khost

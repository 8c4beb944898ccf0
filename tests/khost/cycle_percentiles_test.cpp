// The run's percentiles for --stats: the histogram's nearest-rank
// percentiles against the exact ones, and a chart row finding its cycle's
// histogram by path.
#include "khost/frame/cycle_percentiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "khost/frame/chart_rows.h"

namespace khost {
namespace {

double NearestRank(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto rank =
      static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
  return values[std::max<std::size_t>(rank, 1) - 1];
}

CycleSample Sample(int cycle, double micros) {
  CycleSample sample;
  sample.Cycle = cycle;
  sample.Micros = micros;
  return sample;
}

ChartRow Row(const char* name, int depth) {
  ChartRow row;
  row.Name = name;
  row.Depth = depth;
  return row;
}

// Within the stated relative error of the exact value (0.001 us absolute
// below the lowest bucket).
void ExpectClose(double estimate, double exact, const char* what) {
  const double bound = (kBucketRatio - 1.0) / (kBucketRatio + 1.0) * exact + 1e-9;
  EXPECT_LE(std::fabs(estimate - exact),
            std::max(bound, exact < kLowestMicros ? kLowestMicros : 0.0))
      << what << ": " << estimate << " against " << exact;
}

TEST(CyclePercentiles, MatchNearestRankWithinTheStatedError) {
  std::mt19937_64 random(7);
  std::lognormal_distribution<double> frame(std::log(16000.0), 0.3);
  // Frame times with rare stalls, a few sub-nanosecond cycles and one run
  // of equal values: the tail, the lowest bucket and ties.
  for (const int n : {1, 2, 999, 1000, 1001, 20011}) {
    std::vector<double> values;
    PercentileHistogram h;
    for (int i = 0; i < n; ++i) {
      double v = frame(random);
      if (i % 97 == 3) v *= 8.0;
      if (i % 501 == 5) v = 0.0004;
      if (i % 211 == 9) v = 250.0;
      values.push_back(v);
      h.Add(v);
    }
    ASSERT_EQ(h.Count(), n);
    for (const double p : {50.0, 95.0, 99.0, 99.9, 100.0}) {
      ExpectClose(h.Percentile(p), NearestRank(values, p), ("n=" + std::to_string(n)).c_str());
    }
  }
  PercentileHistogram empty;
  EXPECT_EQ(empty.Percentile(99.0), 0.0);
  PercentileHistogram huge;  // past the last bucket: the largest seen
  huge.Add(5e9);
  huge.Add(7e9);
  EXPECT_EQ(huge.Percentile(99.0), 7e9);
}

TEST(CyclePercentiles, AChartRowFindsItsCycleByPathAndCountsOnlyTheFramesItRan) {
  const std::vector<CapturedCycle> cycles = {
      {"Evaluation", "Evaluation", 0, {1, 0, 0}, true},
      {"Evaluation/Character 1", "Character 1", 1, {1, 1, 0}, false},
      {"Evaluation/Character 1/Skeleton", "Skeleton", 2, {1, 1, 1}, false},
      {"Tool Paint", "Tool Paint", 0, {2, 0, 0}, true}};
  CyclePercentiles percentiles;
  for (int i = 1; i <= 100; ++i) {
    FrameSample frame;
    frame.Index = i;
    frame.Cycles.push_back(Sample(0, 1000.0 + i));
    frame.Cycles.push_back(Sample(1, 10.0));
    frame.Cycles.push_back(Sample(2, static_cast<double>(i)));
    if (i % 4 == 0) frame.Cycles.push_back(Sample(3, 500.0));  // the tool repaints every 4th frame
    percentiles.Consume(frame, cycles);
  }
  std::vector<ChartRow> rows = {Row("Evaluation", 0), Row("Character 1", 1), Row("Skeleton", 2),
                                Row("Tool Paint", 0), Row("Never Ran", 0)};
  AddRunPercentiles(rows, percentiles);
  EXPECT_EQ(rows[0].Run.Frames, 100);
  ExpectClose(rows[0].Run.Median, 1050.0, "Evaluation");
  ExpectClose(rows[2].Run.P95, 95.0, "Skeleton p95");
  ExpectClose(rows[2].Run.P99, 99.0, "Skeleton p99");
  ExpectClose(rows[2].Run.P999, 100.0, "Skeleton p99.9");
  EXPECT_EQ(rows[3].Run.Frames, 25);
  EXPECT_DOUBLE_EQ(rows[3].Run.P99, 500.0);
  EXPECT_EQ(rows[4].Run.Frames, 0);
}

}  // namespace
}  // namespace khost

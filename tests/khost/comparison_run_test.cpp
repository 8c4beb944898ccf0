#include "khost/experiments/comparison_run.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace khost;

// A cycle measured in only one value's frames (a paint that runs only with
// B, a character that only B's scene has) shows that value's real median,
// in the table and in the CSV; the other side stays empty.
TEST(KhostComparisonRun, ACycleMeasuredOnOneSideOnlyShowsItsRealMedian) {
  CompareRequest request{"Node Count", "23", "100000", 8};
  const long long frames = ComparisonRun::MinimumFrames(request.Block) + 1;
  ComparisonRun run(request, CompareTableRequest{1, kNoSlowerGate}, MeasureClock::kWall, frames);
  const std::vector<CapturedCycle> cycles = {
      {"Frame", "Frame", 0, {1, 0, 0}},
      {"Evaluation/Character 9", "Character 9", 1, {2, 9, 0}},
      {"Tool Paint", "Tool Paint", 0, {3, 0, 0}},
  };
  const auto sample = [](int cycle, double micros) {
    CycleSample c;
    c.Cycle = cycle;
    c.Micros = micros;
    return c;
  };
  for (long long i = 0; i < frames; ++i) {
    FrameSample frame;
    frame.Index = i;
    const bool b = i >= 1 && ((i - 1) / request.Block) % 2 == 1;
    frame.Cycles.push_back(sample(0, 100.0 + static_cast<double>(i % 3)));
    if (b)
      frame.Cycles.push_back(
          sample(1, 40.0 + static_cast<double>(i % 2)));  // only B's scene has it
    if (!b) frame.Cycles.push_back(sample(2, 7.0));       // only A paints
    run.Consume(frame, cycles);
  }
  ASSERT_EQ(run.BlockCount(0), 2);
  ASSERT_EQ(run.BlockCount(1), 2);
  const std::vector<ComparisonRow> rows = run.Results(cycles);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows[1].HasB && !rows[1].HasA);
  EXPECT_DOUBLE_EQ(rows[1].Stats.MedianB, 40.5);
  EXPECT_TRUE(rows[2].HasA && !rows[2].HasB);
  EXPECT_DOUBLE_EQ(rows[2].Stats.MedianA, 7.0);

  std::ostringstream table;
  run.PrintTable(rows, table);
  EXPECT_NE(table.str().find("40.5  "), std::string::npos) << table.str();
  EXPECT_NE(table.str().find("only in B"), std::string::npos) << table.str();
  EXPECT_EQ(table.str().find(" 0.0 "), std::string::npos) << table.str();
  std::ostringstream csv;
  ComparisonRun::WriteCsv(rows, csv);
  EXPECT_NE(csv.str().find("\nEvaluation/Character 9,1,,40.500,,,,only in B\n"), std::string::npos)
      << csv.str();
  EXPECT_NE(csv.str().find("\nTool Paint,0,7.000,,,,,only in A\n"), std::string::npos) << csv.str();
}

}  // namespace

// A run that ends inside a block (its length, or a stop) leaves that block
// out: a block counts only with all its counted frames, so the table's
// "N blocks of A" and its medians stand on whole blocks.
TEST(KhostComparisonRun, ABlockTheRunEndsInsideIsNotCounted) {
  CompareRequest request{"Frustum Culling", "0", "1", 10};
  // Four whole blocks, then a fifth (A) of which the run takes two of its
  // four counted frames.
  const long long frames = ComparisonRun::MinimumFrames(request.Block) + 8;
  ComparisonRun run(request, CompareTableRequest{}, MeasureClock::kWall, frames);
  const std::vector<CapturedCycle> cycles = {{"Frame", "Frame", 0, {1, 0, 0}}};
  for (long long i = 0; i < frames; ++i) {
    FrameSample frame;
    frame.Index = i;
    CycleSample c;
    c.Micros = i >= 41 ? 1000.0 : 100.0;  // the cut block's frames stand out
    frame.Cycles.push_back(c);
    run.Consume(frame, cycles);
  }
  EXPECT_EQ(run.BlockCount(0), 2);
  EXPECT_EQ(run.BlockCount(1), 2);
  EXPECT_EQ(run.CountedFrames(0), 8);
  const std::vector<ComparisonRow> rows = run.Results(cycles);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_DOUBLE_EQ(rows[0].Stats.MedianA, 100.0);
  std::ostringstream table;
  run.PrintTable(rows, table);
  EXPECT_NE(table.str().find("2 blocks of A and 2 of B, 10 frames each (4 counted), 8 + 8 frames"),
            std::string::npos)
      << table.str();
}

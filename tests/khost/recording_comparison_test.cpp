// A recording read back and compared: the medians and p99s the table states
// are those of the counted frames (the first and the last left out),
// computed here directly from the times written, on either clock.
#include "khost/experiments/recording_comparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "khost/outputs/recording_read.h"

namespace {

using namespace khost;

constexpr int kFrames = 202;

// Frame's wall time in frame `i`, scaled; the first and the last frame far
// slower, as a run's start and end may be.
double FrameMicros(int i, double scale) {
  if (i == 0 || i == kFrames - 1) return 1e6;
  return scale * (100.0 + (i * 37) % 101);
}

// A recording of kFrames frames: Frame every frame (its CPU time a third of
// its wall time), Frame/Child at depth 1, and `extra` every frame.
std::string RecordingText(double scale, const std::string& extra) {
  std::ostringstream out;
  out << "frame,time_ms,cycle,depth,duration_us,cpu_us\n";
  for (int i = 0; i < kFrames; ++i) {
    const double micros = FrameMicros(i, scale);
    out << i << "," << i * 16 << ".000,Frame,0," << micros << "," << micros / 3 << "\n";
    out << i << "," << i * 16 << ".000,\"Frame/Child, \"\"quoted\"\"\",1,5.000,\n";
    out << i << "," << i * 16 << ".000," << extra << ",0,2.000,1.000\n";
  }
  return out.str();
}

khost::Recording Parsed(const std::string& text, const std::string& name) {
  std::istringstream in(text);
  Result<khost::Recording> read = ParseRecording(in, name);
  EXPECT_TRUE(read.Ok()) << read.GetError().Message;
  return read.Ok() ? *read : khost::Recording{};
}

// The median (mean of the middle two) and the nearest-rank p99 of the
// counted frames, computed directly.
void Expected(double scale, double divide, double& median, double& p99) {
  std::vector<double> values;
  for (int i = 1; i < kFrames - 1; ++i) values.push_back(FrameMicros(i, scale) / divide);
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
  p99 = values[static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n))) - 1];
}

TEST(KhostRecordingComparison, MediansAndP99sAreThoseOfTheCountedFramesOnEitherClock) {
  const khost::Recording before = Parsed(RecordingText(1.0, "Input"), "before.csv");
  const khost::Recording after = Parsed(RecordingText(2.0, "Upload"), "after.csv");
  ASSERT_EQ(before.FrameCount, kFrames);
  ASSERT_EQ(before.Cycles.size(), 3u);
  EXPECT_EQ(before.Cycles[1].Path, "Frame/Child, \"quoted\"");
  EXPECT_EQ(before.Cycles[1].CpuMicros.front(), -1.0);

  for (const MeasureClock clock : {MeasureClock::kWall, MeasureClock::kCpu}) {
    SCOPED_TRACE(ClockName(clock));
    const double divide = clock == MeasureClock::kCpu ? 3.0 : 1.0;
    const RecordingComparison c = CompareRecordings(before, after, 0, clock);
    EXPECT_EQ(c.FramesBefore, kFrames - 2);
    EXPECT_EQ(c.BlockBefore, 14);  // round(sqrt(200))
    EXPECT_EQ(c.BlocksBefore, 14);
    // Frame in both, compared; Input and Upload each in one, left out; the
    // child below the depth.
    ASSERT_EQ(c.Rows.size(), 3u);
    const RecordingComparisonRow& frame = c.Rows[0];
    EXPECT_EQ(frame.Path, "Frame");
    double median = 0.0;
    double p99 = 0.0;
    Expected(1.0, divide, median, p99);
    EXPECT_NEAR(frame.MedianBefore, median, 1e-3);
    EXPECT_NEAR(frame.P99Before, p99, 1e-3);
    Expected(2.0, divide, median, p99);
    EXPECT_NEAR(frame.MedianAfter, median, 1e-3);
    EXPECT_NEAR(frame.P99After, p99, 1e-3);
    EXPECT_NEAR(frame.Ratio, 2.0, 1e-4);
    EXPECT_NEAR(frame.P99Ratio, 2.0, 1e-4);
    ASSERT_TRUE(frame.HasInterval);
    EXPECT_LT(frame.Low, 2.0);
    EXPECT_GT(frame.High, 2.0);
    EXPECT_GT(frame.Low, 1.5);
    EXPECT_EQ(VerdictOf(frame), "slower");
    EXPECT_EQ(VerdictOf(c.Rows[1]), "only in before");
    EXPECT_EQ(c.Rows[1].Path, "Input");
    EXPECT_EQ(VerdictOf(c.Rows[2]), "only in after");
    EXPECT_FALSE(RecordingsSlowerThan(c, 40).Ok());
    EXPECT_TRUE(RecordingsSlowerThan(c, 150).Ok());
  }
  // The child, a character's kind of cycle, has no CPU time: under the CPU
  // clock it is left out, under the steady clock compared.
  EXPECT_EQ(CompareRecordings(before, after, 1, MeasureClock::kCpu).WithoutCpuTime, 1);
  const RecordingComparison deeper = CompareRecordings(before, after, 1, MeasureClock::kWall);
  ASSERT_EQ(deeper.Rows.size(), 4u);
  EXPECT_EQ(deeper.Rows[1].Name, "Child, \"quoted\"");
  EXPECT_EQ(VerdictOf(deeper.Rows[1]), "no clear difference");
}

// Too few frames for an interval: the table says so instead of claiming one.
TEST(KhostRecordingComparison, TooFewFramesGiveNoInterval) {
  const std::string text =
      "frame,time_ms,cycle,depth,duration_us,cpu_us\n"
      "0,0.000,Frame,0,10.000,\n1,16.000,Frame,0,10.000,\n2,32.000,Frame,0,30.000,\n"
      "3,48.000,Frame,0,10.000,\n";
  const khost::Recording short_ = Parsed(text, "short.csv");
  const RecordingComparison c = CompareRecordings(short_, short_, 0, MeasureClock::kWall);
  ASSERT_EQ(c.Rows.size(), 1u);
  EXPECT_FALSE(c.Rows[0].HasInterval);
  EXPECT_EQ(VerdictOf(c.Rows[0]), "too few frames");
  EXPECT_TRUE(RecordingsSlowerThan(c, 0).Ok());
  std::ostringstream table;
  PrintRecordingComparison(c, table);
  EXPECT_NE(table.str().find("Too few frames for an interval"), std::string::npos) << table.str();
}

}  // namespace

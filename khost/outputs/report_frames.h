// The frames the HTML report draws, gathered as they come: each frame's
// period for the chart over the run, and a percentile histogram of them for
// the histogram and its percentiles (nearest-rank, as --stats gives them:
// cycle_percentiles.h).
//
// Memory stays bounded however long the run: the periods are floats in one
// vector reserved once (for the run's planned frames, at most kMaxPoints),
// and a run longer than kMaxPoints frames keeps every pair of points as the
// longer of the two, from then on one point for each two frames of before
// (and so on), which a chart a thousand pixels wide does not miss. Taking a
// frame allocates nothing beyond a push_back into what was reserved.
//
// [loop thread; -]: every call.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "khost/cli/run_requests.h"
#include "khost/frame/cycle_percentiles.h"
#include "khost/frame/frame_capture.h"
#include "khost/outputs/report_data.h"

namespace khost {

// The frame period's cycle as the capture and the recording name it: the
// catalogue's row the frame clock's period measures.
std::string FramePeriodPath();

class ReportFrames {
 public:
  static constexpr std::size_t kMaxPoints = std::size_t{1} << 18;  // even: halves whole
  // The histogram's bars at most: the histogram's buckets are grouped into
  // this many or fewer.
  static constexpr int kMaxBins = 60;

  // Room for `plannedFrames` frames (at most kMaxPoints).
  explicit ReportFrames(long long plannedFrames);

  // The next frame's period; a negative one was not measured (a gap in the
  // chart, left out of the histogram).
  void Add(double micros);

  // The series, the histogram and the percentiles of what was added.
  void Fill(ReportData& data) const;

 private:
  std::vector<float> mPoints;
  long long mFramesPerPoint = 1;
  long long mFrames = 0;
  long long mPending = 0;  // frames in mCurrent, not yet a point
  float mCurrent = 0.0f;
  PercentileHistogram mHistogram;
};

// Takes each captured frame's period into a ReportFrames: the frame
// period's cycle on `clock` (the steady clock's period, or the process's
// CPU time over it).
class ReportFrameSink : public FrameSink {
 public:
  ReportFrameSink(ReportFrames& frames, MeasureClock clock) : mFrames(frames), mClock(clock) {}
  void Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) override;

 private:
  ReportFrames& mFrames;
  MeasureClock mClock;
  int mPeriod = -1;  // the frame period's cycle id, once found
};

}  // namespace khost

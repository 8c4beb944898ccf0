#include "khost/outputs/report_frames.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace khost {

std::string FramePeriodPath() {
  const CycleCatalogue& catalogue = CycleCatalogue::Standard();
  for (int row = 0; row < catalogue.RowCount(); ++row) {
    const CycleSource& source = catalogue.Row(row).Source;
    if (source.Kind == MeasuredBy::kLoop && source.By == kLoopDevices) {
      return catalogue.Named(row).Path;
    }
  }
  return {};
}

namespace {

// The longer of two periods, a measured one over one that was not.
float Longer(float a, float b) {
  return std::isnan(a) ? b : std::isnan(b) ? a : std::max(a, b);
}

}  // namespace

ReportFrames::ReportFrames(long long plannedFrames) {
  const long long most = static_cast<long long>(kMaxPoints);
  mPoints.reserve(static_cast<std::size_t>(std::clamp(plannedFrames, 1LL, most)));
}

void ReportFrames::Add(double micros) {
  const bool measured = micros >= 0.0;
  if (measured) mHistogram.Add(micros);
  const float ms =
      measured ? static_cast<float>(micros / 1000.0) : std::numeric_limits<float>::quiet_NaN();
  mCurrent = mPending == 0 ? ms : Longer(mCurrent, ms);
  ++mFrames;
  if (++mPending < mFramesPerPoint) return;
  if (mPoints.size() >= kMaxPoints) {
    // Full: every two points become one, and each later point takes twice
    // the frames. The point at hand holds half of the next one's frames, so
    // it stays open for the other half.
    const std::size_t half = mPoints.size() / 2;
    for (std::size_t i = 0; i < half; ++i) {
      mPoints[i] = Longer(mPoints[2 * i], mPoints[2 * i + 1]);
    }
    mPoints.resize(half);
    mFramesPerPoint *= 2;
    return;
  }
  mPoints.push_back(mCurrent);
  mPending = 0;
}

void ReportFrames::Fill(ReportData& data) const {
  data.Series.PeriodsMs = mPoints;
  if (mPending > 0) data.Series.PeriodsMs.push_back(mCurrent);
  data.Series.FramesPerPoint = mFramesPerPoint;
  data.Series.Frames = mFrames;

  ReportPercentiles& p = data.Percentiles;
  p.Frames = mHistogram.Count();
  p.Median = mHistogram.Percentile(50.0) / 1000.0;
  p.P95 = mHistogram.Percentile(95.0) / 1000.0;
  p.P99 = mHistogram.Percentile(99.0) / 1000.0;
  p.P999 = mHistogram.Percentile(99.9) / 1000.0;

  // The histogram's buckets from the first that holds a frame to the last,
  // in groups of equal width on a logarithmic scale.
  data.Histogram.clear();
  if (mHistogram.Count() == 0) return;
  int first = 0;
  while (mHistogram.BucketCount(first) == 0) ++first;
  int last = kPercentileBuckets - 1;
  while (mHistogram.BucketCount(last) == 0) --last;
  const int span = last - first + 1;
  const int group = (span + kMaxBins - 1) / kMaxBins;
  for (int start = first; start <= last; start += group) {
    ReportBin bin;
    const int end = std::min(start + group, last + 1);
    for (int b = start; b < end; ++b) bin.Frames += mHistogram.BucketCount(b);
    bin.LowMs = PercentileHistogram::BucketLow(start) / 1000.0;
    bin.HighMs = PercentileHistogram::BucketLow(start + group) / 1000.0;
    data.Histogram.push_back(bin);
  }
}

void ReportFrameSink::Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) {
  if (mPeriod < 0) {
    static const std::string period = FramePeriodPath();
    for (std::size_t id = 0; id < cycles.size(); ++id) {
      if (cycles[id].Path == period) mPeriod = static_cast<int>(id);
    }
  }
  double micros = -1.0;
  for (const CycleSample& sample : frame.Cycles) {
    if (sample.Cycle == mPeriod) {
      micros = mClock == MeasureClock::kCpu ? sample.CpuMicros : sample.Micros;
      break;
    }
  }
  mFrames.Add(micros);
}

}  // namespace khost

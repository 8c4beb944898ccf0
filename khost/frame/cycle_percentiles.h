// Percentiles of every cycle over the run's own frames, for the statistics
// (--stats): a fixed-size histogram per cycle with logarithmic buckets, so
// that keeping a frame costs a few additions and no allocation (a cycle's
// histogram is made once, the first frame it runs in).
//
// A bucket spans [a, a * kBucketRatio); a percentile is the nearest-rank
// one (the ceil(p / 100 * n)-th smallest of the n frames), estimated as the
// point of its bucket whose relative distance to both ends is the same,
// 2 a r / (1 + r), and kept between the smallest and largest value seen:
// within (r - 1) / (r + 1) = 0.99 % of the exact value. Values below
// kLowestMicros (1 ns) share one bucket, reported as the smallest seen
// (within 0.001 us).
//
// [loop thread; -]: every call.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "khost/frame/frame_capture.h"

namespace khost {

inline constexpr double kLowestMicros = 0.001;
inline constexpr double kBucketRatio = 1.02;
// Buckets up to 10^9 us (over 16 minutes) and one above for anything longer.
inline constexpr int kPercentileBuckets = 1400;

class PercentileHistogram {
 public:
  void Add(double micros);
  long long Count() const { return mCount; }
  // The nearest-rank percentile `p` in (0, 100]; 0 when empty.
  double Percentile(double p) const;
  // The values seen in bucket `bucket`, which spans [BucketLow(bucket),
  // BucketLow(bucket + 1)); bucket 0 holds everything below kLowestMicros,
  // the last everything from its low end up.
  long long BucketCount(int bucket) const { return mBuckets[static_cast<std::size_t>(bucket)]; }
  static double BucketLow(int bucket);
  double Minimum() const { return mMinimum; }
  double Maximum() const { return mMaximum; }

 private:
  std::array<std::uint32_t, kPercentileBuckets> mBuckets{};
  long long mCount = 0;
  double mMinimum = 0.0;
  double mMaximum = 0.0;
};

// A cycle's frames and percentiles, in microseconds on the steady clock.
struct CyclePercentileSummary {
  long long Frames = 0;
  double Median = 0.0;
  double P95 = 0.0;
  double P99 = 0.0;
  double P999 = 0.0;
};

// A sink of the frame capture: one histogram per captured cycle.
class CyclePercentiles : public FrameSink {
 public:
  void Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) override;
  // The cycle at `path` (as the recording names it); no frames when it
  // never ran.
  CyclePercentileSummary Of(const std::string& path) const;

 private:
  const std::vector<CapturedCycle>* mCycles = nullptr;  // the capture's
  std::vector<PercentileHistogram> mHistograms;         // by cycle id
};

}  // namespace khost

#include "khost/frame/cycle_percentiles.h"

#include <algorithm>
#include <cmath>

namespace khost {

namespace {

const double kLogRatio = std::log(kBucketRatio);

int BucketOf(double micros) {
  if (!(micros >= kLowestMicros)) return 0;
  const double index = 1.0 + std::floor(std::log(micros / kLowestMicros) / kLogRatio);
  return index >= kPercentileBuckets - 1 ? kPercentileBuckets - 1 : static_cast<int>(index);
}

// The point of bucket `bucket` (1 and up) equally far, relatively, from
// both its ends.
double Middle(int bucket) {
  return 2.0 * PercentileHistogram::BucketLow(bucket) * kBucketRatio / (1.0 + kBucketRatio);
}

}  // namespace

double PercentileHistogram::BucketLow(int bucket) {
  return bucket <= 0 ? 0.0 : kLowestMicros * std::pow(kBucketRatio, bucket - 1);
}

void PercentileHistogram::Add(double micros) {
  if (micros < 0.0 || std::isnan(micros)) return;
  if (mCount == 0) {
    mMinimum = micros;
    mMaximum = micros;
  } else {
    mMinimum = std::min(mMinimum, micros);
    mMaximum = std::max(mMaximum, micros);
  }
  ++mBuckets[static_cast<std::size_t>(BucketOf(micros))];
  ++mCount;
}

double PercentileHistogram::Percentile(double p) const {
  if (mCount == 0) return 0.0;
  long long rank = static_cast<long long>(std::ceil(p / 100.0 * static_cast<double>(mCount)));
  rank = std::clamp(rank, 1LL, mCount);
  long long seen = 0;
  int bucket = 0;
  for (; bucket < kPercentileBuckets; ++bucket) {
    seen += mBuckets[static_cast<std::size_t>(bucket)];
    if (seen >= rank) break;
  }
  if (bucket == 0) return mMinimum;
  if (bucket >= kPercentileBuckets - 1) return mMaximum;
  return std::clamp(Middle(bucket), mMinimum, mMaximum);
}

void CyclePercentiles::Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) {
  mCycles = &cycles;
  // A new cycle's histogram is made once; frames after that allocate nothing.
  if (mHistograms.size() < cycles.size()) mHistograms.resize(cycles.size());
  for (const CycleSample& c : frame.Cycles) {
    mHistograms[static_cast<std::size_t>(c.Cycle)].Add(c.Micros);
  }
}

CyclePercentileSummary CyclePercentiles::Of(const std::string& path) const {
  CyclePercentileSummary summary;
  if (!mCycles) return summary;
  for (std::size_t id = 0; id < mCycles->size() && id < mHistograms.size(); ++id) {
    if ((*mCycles)[id].Path != path) continue;
    const PercentileHistogram& h = mHistograms[id];
    summary.Frames = h.Count();
    summary.Median = h.Percentile(50.0);
    summary.P95 = h.Percentile(95.0);
    summary.P99 = h.Percentile(99.0);
    summary.P999 = h.Percentile(99.9);
    break;
  }
  return summary;
}

}  // namespace khost

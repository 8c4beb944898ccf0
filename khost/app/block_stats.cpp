#include "khost/app/block_stats.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace khost {

namespace {

// SplitMix64: small, fast, and the same sequence on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : mState(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (mState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }

 private:
  std::uint64_t mState;
};

double Ratio(double a, double b) {
  if (a <= 0.0) return b <= 0.0 ? 1.0 : std::numeric_limits<double>::infinity();
  return b / a;
}

std::vector<const std::vector<double>*> NonEmpty(const std::vector<std::vector<double>>& blocks) {
  std::vector<const std::vector<double>*> kept;
  for (const auto& block : blocks) {
    if (!block.empty()) kept.push_back(&block);
  }
  return kept;
}

double PooledMedian(const std::vector<const std::vector<double>*>& blocks,
                    std::vector<double>& scratch) {
  scratch.clear();
  for (const auto* block : blocks) scratch.insert(scratch.end(), block->begin(), block->end());
  return MedianInPlace(scratch);
}

// One bootstrap draw: as many blocks as the side has, with replacement.
double ResampledMedian(const std::vector<const std::vector<double>*>& blocks, Random& random,
                       std::vector<double>& scratch) {
  scratch.clear();
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const auto* block = blocks[random.Below(blocks.size())];
    scratch.insert(scratch.end(), block->begin(), block->end());
  }
  return MedianInPlace(scratch);
}

double Quantile(const std::vector<double>& sorted, double q) {
  const double position = q * static_cast<double>(sorted.size() - 1);
  const std::size_t below = static_cast<std::size_t>(std::floor(position));
  const std::size_t above = std::min(below + 1, sorted.size() - 1);
  const double t = position - static_cast<double>(below);
  if (std::isinf(sorted[below]) || std::isinf(sorted[above])) {
    return t < 0.5 ? sorted[below] : sorted[above];
  }
  return sorted[below] + (sorted[above] - sorted[below]) * t;
}

// The two-sided 95 % quantile of Student's t with `df` degrees of freedom.
double StudentT975(int df) {
  static constexpr double kTable[] = {12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365, 2.306,
                                      2.262,  2.228, 2.201, 2.179, 2.160, 2.145, 2.131, 2.120,
                                      2.110,  2.101, 2.093, 2.086, 2.080, 2.074, 2.069, 2.064,
                                      2.060,  2.056, 2.052, 2.048, 2.045, 2.042};
  if (df < 1) df = 1;
  if (df <= 30) return kTable[df - 1];
  // Cornish-Fisher expansion around the normal quantile.
  const double z = 1.959964;
  const double n = static_cast<double>(df);
  return z + (z * z * z + z) / (4.0 * n) +
         (5 * std::pow(z, 5) + 16 * z * z * z + 3 * z) / (96 * n * n);
}

}  // namespace

double MedianInPlace(std::vector<double>& values) {
  if (values.empty()) return 0.0;
  const std::size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
  const double upper = values[mid];
  if (values.size() % 2 == 1) return upper;
  const double lower =
      *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
  return (lower + upper) / 2.0;
}

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kFaster:
      return "faster";
    case Verdict::kSlower:
      return "slower";
    case Verdict::kNoClearDifference:
      break;
  }
  return "no clear difference";
}

BlockComparison CompareBlocks(const std::vector<std::vector<double>>& a,
                              const std::vector<std::vector<double>>& b, std::uint64_t seed,
                              int resamples) {
  BlockComparison result;
  const auto blocksA = NonEmpty(a);
  const auto blocksB = NonEmpty(b);
  std::vector<double> scratch;
  result.MedianA = PooledMedian(blocksA, scratch);
  result.MedianB = PooledMedian(blocksB, scratch);
  result.Ratio = Ratio(result.MedianA, result.MedianB);
  if (blocksA.size() < 2 || blocksB.size() < 2 || resamples < 1) {
    result.Low = 0.0;
    result.High = std::numeric_limits<double>::infinity();
    return result;
  }
  Random random(seed);
  std::vector<double> ratios;
  ratios.reserve(static_cast<std::size_t>(resamples));
  for (int r = 0; r < resamples; ++r) {
    const double ma = ResampledMedian(blocksA, random, scratch);
    const double mb = ResampledMedian(blocksB, random, scratch);
    ratios.push_back(Ratio(ma, mb));
  }
  std::sort(ratios.begin(), ratios.end());
  result.Low = Quantile(ratios, 0.025);
  result.High = Quantile(ratios, 0.975);
  // With few blocks the bootstrap's spread is too small: it treats the
  // blocks seen as the whole population (a factor (n - 1) / n on the
  // variance) and normal tails where Student's apply. The interval is
  // widened around the ratio, on the log scale, by both factors.
  if (result.Ratio > 0.0 && std::isfinite(result.Ratio) && result.Low > 0.0 &&
      std::isfinite(result.High)) {
    const double na = static_cast<double>(blocksA.size());
    const double nb = static_cast<double>(blocksB.size());
    const double variance = (1.0 / (na - 1.0) + 1.0 / (nb - 1.0)) / (1.0 / na + 1.0 / nb);
    const double widen =
        StudentT975(static_cast<int>(na + nb) - 2) / 1.959964 * std::sqrt(variance);
    const double center = std::log(result.Ratio);
    result.Low = std::exp(center + widen * (std::log(result.Low) - center));
    result.High = std::exp(center + widen * (std::log(result.High) - center));
  }
  if (result.Low > 1.0) {
    result.Result = Verdict::kSlower;
  } else if (result.High < 1.0) {
    result.Result = Verdict::kFaster;
  }
  return result;
}

}  // namespace khost

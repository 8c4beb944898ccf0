#include "khost/experiments/block_stats.h"

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

// What a comparison compares of each side's frames: their median, or a
// percentile (Percentile > 0).
struct Summary {
  double Percentile = 0.0;
  double Of(std::vector<double>& values) const {
    return Percentile > 0.0 ? PercentileInPlace(values, Percentile) : MedianInPlace(values);
  }
};

double PooledMedian(const std::vector<const std::vector<double>*>& blocks,
                    std::vector<double>& scratch, Summary summary = {}) {
  scratch.clear();
  for (const auto* block : blocks) scratch.insert(scratch.end(), block->begin(), block->end());
  return summary.Of(scratch);
}

// Each side's pooled median (or percentile) and their ratio; the interval
// not known yet (everything from 0 up).
void SetPooledMedians(BlockComparison& result, const std::vector<const std::vector<double>*>& a,
                      const std::vector<const std::vector<double>*>& b,
                      std::vector<double>& scratch, Summary summary = {}) {
  result.MedianA = PooledMedian(a, scratch, summary);
  result.MedianB = PooledMedian(b, scratch, summary);
  result.Ratio = Ratio(result.MedianA, result.MedianB);
  result.Low = 0.0;
  result.High = std::numeric_limits<double>::infinity();
}

// One bootstrap draw: as many blocks as the side has, with replacement.
double ResampledMedian(const std::vector<const std::vector<double>*>& blocks, Random& random,
                       std::vector<double>& scratch, Summary summary) {
  scratch.clear();
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const auto* block = blocks[random.Below(blocks.size())];
    scratch.insert(scratch.end(), block->begin(), block->end());
  }
  return summary.Of(scratch);
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

double PercentileInPlace(std::vector<double>& values, double p) {
  if (values.empty()) return 0.0;
  const double n = static_cast<double>(values.size());
  const double rank = std::clamp(std::ceil(p / 100.0 * n), 1.0, n);
  const auto at = values.begin() + static_cast<std::ptrdiff_t>(rank) - 1;
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

std::uint64_t SeedOf(std::string_view text) {
  std::uint64_t hash = 1469598103934665603ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
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
  return CompareBlocksAt(a, b, 0.95, seed, resamples);
}

namespace {

// The regularized incomplete beta function I_x(a, b), by its continued
// fraction (Lentz's method).
double IncompleteBetaFraction(double a, double b, double x) {
  constexpr double kTiny = 1e-300;
  double c = 1.0;
  double d = 1.0 - (a + b) * x / (a + 1.0);
  if (std::fabs(d) < kTiny) d = kTiny;
  d = 1.0 / d;
  double h = d;
  for (int m = 1; m <= 300; ++m) {
    const double m2 = 2.0 * m;
    double aa = m * (b - m) * x / ((a + m2 - 1.0) * (a + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = 1.0 + aa / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    h *= d * c;
    aa = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1.0));
    d = 1.0 + aa * d;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = 1.0 + aa / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1.0) < 1e-14) break;
  }
  return h;
}

double IncompleteBeta(double a, double b, double x) {
  if (x <= 0.0) return 0.0;
  if (x >= 1.0) return 1.0;
  const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                                a * std::log(x) + b * std::log(1.0 - x));
  if (x < (a + 1.0) / (a + b + 2.0)) return front * IncompleteBetaFraction(a, b, x) / a;
  return 1.0 - front * IncompleteBetaFraction(b, a, 1.0 - x) / b;
}

// P(T <= t) for Student's t with `df` degrees of freedom.
double StudentTCdf(double t, double df) {
  const double tail = 0.5 * IncompleteBeta(df / 2.0, 0.5, df / (df + t * t));
  return t >= 0.0 ? 1.0 - tail : tail;
}

// The standard normal quantile at p in (0.5, 1), by bisection.
double NormalQuantile(double p) {
  double low = 0.0;
  double high = 40.0;
  for (int i = 0; i < 200 && high - low > 1e-13; ++i) {
    const double mid = 0.5 * (low + high);
    (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? low : high) = mid;
  }
  return 0.5 * (low + high);
}

}  // namespace

double StudentTQuantile(double p, int df) {
  if (df < 1) df = 1;
  if (p <= 0.0) return -std::numeric_limits<double>::infinity();
  if (p >= 1.0) return std::numeric_limits<double>::infinity();
  if (p < 0.5) return -StudentTQuantile(1.0 - p, df);
  // Bisection: the distribution function is monotone, and 200 halvings of
  // [0, 1e7] reach the double's precision.
  double low = 0.0;
  double high = 1e7;
  for (int i = 0; i < 200 && high - low > 1e-12 * high; ++i) {
    const double mid = 0.5 * (low + high);
    (StudentTCdf(mid, df) < p ? low : high) = mid;
  }
  return 0.5 * (low + high);
}

namespace {

// The interval from sorted bootstrap ratios at `confidence`, widened by
// `widen`'s Student's t with `df` degrees of freedom and the variance factor
// `variance` (see CompareBlocksAt), and the verdict.
void SetInterval(BlockComparison& result, const std::vector<double>& ratios, double confidence,
                 int df, double variance, int resamples) {
  const double tail = (1.0 - confidence) / 2.0;
  const double z = NormalQuantile(1.0 - tail);
  const double widen = -StudentTQuantile(tail, df) / z * std::sqrt(variance);
  const bool finite = result.Ratio > 0.0 && std::isfinite(result.Ratio) && ratios.front() > 0.0 &&
                      std::isfinite(ratios.back());
  const double center = finite ? std::log(result.Ratio) : 0.0;
  if (tail * resamples >= 10.0 || !finite) {
    result.Low = Quantile(ratios, tail);
    result.High = Quantile(ratios, 1.0 - tail);
    if (finite && result.Low > 0.0 && std::isfinite(result.High)) {
      result.Low = std::exp(center + widen * (std::log(result.Low) - center));
      result.High = std::exp(center + widen * (std::log(result.High) - center));
    }
  } else {
    double sum = 0.0;
    double squares = 0.0;
    for (double r : ratios) {
      const double l = std::log(r);
      sum += l;
      squares += l * l;
    }
    const double n = static_cast<double>(ratios.size());
    const double spread =
        std::sqrt(std::max(0.0, (squares - sum * sum / n) / std::max(1.0, n - 1.0)));
    result.Low = std::exp(center - widen * z * spread);
    result.High = std::exp(center + widen * z * spread);
  }
  if (result.Low > 1.0) {
    result.Result = Verdict::kSlower;
  } else if (result.High < 1.0) {
    result.Result = Verdict::kFaster;
  }
}

bool UsableLevel(double confidence, int resamples) {
  return resamples >= 1 && confidence > 0.0 && confidence < 1.0;
}

}  // namespace

namespace {

BlockComparison CompareSummaries(const std::vector<std::vector<double>>& a,
                                 const std::vector<std::vector<double>>& b, Summary summary,
                                 double confidence, std::uint64_t seed, int resamples) {
  BlockComparison result;
  const auto blocksA = NonEmpty(a);
  const auto blocksB = NonEmpty(b);
  std::vector<double> scratch;
  SetPooledMedians(result, blocksA, blocksB, scratch, summary);
  if (blocksA.size() < 2 || blocksB.size() < 2 || !UsableLevel(confidence, resamples)) {
    return result;
  }
  Random random(seed);
  std::vector<double> ratios;
  ratios.reserve(static_cast<std::size_t>(resamples));
  for (int r = 0; r < resamples; ++r) {
    const double ma = ResampledMedian(blocksA, random, scratch, summary);
    const double mb = ResampledMedian(blocksB, random, scratch, summary);
    ratios.push_back(Ratio(ma, mb));
  }
  std::sort(ratios.begin(), ratios.end());
  const double na = static_cast<double>(blocksA.size());
  const double nb = static_cast<double>(blocksB.size());
  SetInterval(result, ratios, confidence, static_cast<int>(na + nb) - 2,
              (1.0 / (na - 1.0) + 1.0 / (nb - 1.0)) / (1.0 / na + 1.0 / nb), resamples);
  return result;
}

}  // namespace

BlockComparison CompareBlocksAt(const std::vector<std::vector<double>>& a,
                                const std::vector<std::vector<double>>& b, double confidence,
                                std::uint64_t seed, int resamples) {
  return CompareSummaries(a, b, Summary{}, confidence, seed, resamples);
}

BlockComparison CompareBlockPercentiles(const std::vector<std::vector<double>>& a,
                                        const std::vector<std::vector<double>>& b, double p,
                                        double confidence, std::uint64_t seed, int resamples) {
  return CompareSummaries(a, b, Summary{p}, confidence, seed, resamples);
}

BlockComparison CompareMatchedBlocks(const std::vector<std::vector<double>>& a,
                                     const std::vector<std::vector<double>>& b, double confidence,
                                     std::uint64_t seed, int resamples) {
  BlockComparison result;
  const std::size_t rounds = std::min(a.size(), b.size());
  std::vector<const std::vector<double>*> blocksA;
  std::vector<const std::vector<double>*> blocksB;
  for (std::size_t i = 0; i < rounds; ++i) {
    if (a[i].empty() || b[i].empty()) continue;
    blocksA.push_back(&a[i]);
    blocksB.push_back(&b[i]);
  }
  std::vector<double> scratch;
  SetPooledMedians(result, blocksA, blocksB, scratch);
  const std::size_t n = blocksA.size();
  if (n < 2 || !UsableLevel(confidence, resamples)) return result;
  Random random(seed);
  std::vector<double> ratios;
  ratios.reserve(static_cast<std::size_t>(resamples));
  std::vector<std::size_t> drawn(n);
  for (int r = 0; r < resamples; ++r) {
    for (auto& index : drawn) index = random.Below(n);
    scratch.clear();
    for (std::size_t index : drawn) {
      scratch.insert(scratch.end(), blocksA[index]->begin(), blocksA[index]->end());
    }
    const double ma = MedianInPlace(scratch);
    scratch.clear();
    for (std::size_t index : drawn) {
      scratch.insert(scratch.end(), blocksB[index]->begin(), blocksB[index]->end());
    }
    ratios.push_back(Ratio(ma, MedianInPlace(scratch)));
  }
  std::sort(ratios.begin(), ratios.end());
  const double count = static_cast<double>(n);
  SetInterval(result, ratios, confidence, static_cast<int>(n) - 1, count / (count - 1.0),
              resamples);
  return result;
}

}  // namespace khost

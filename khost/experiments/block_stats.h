// Statistics of an interleaved A/B run: the frames come in blocks, each run
// with one setting, and frames within a block are correlated (the machine's
// load, caches and clocks drift slowly), so the block is the unit that is
// resampled.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace khost {

// The median of `values` (the mean of the middle two for an even count);
// 0 for none. Reorders `values`.
double MedianInPlace(std::vector<double>& values);
// The nearest-rank percentile `p` in (0, 100] of `values`: the
// ceil(p / 100 * n)-th smallest of the n values, as --stats states them;
// 0 for none. Reorders `values`.
double PercentileInPlace(std::vector<double>& values, double p);

// A bootstrap's seed for one cycle, from its path (FNV-1a): the same on
// every platform, and different for each cycle.
std::uint64_t SeedOf(std::string_view text);

enum class Verdict { kFaster, kSlower, kNoClearDifference };
const char* VerdictText(Verdict verdict);  // "faster", "slower", "no clear difference"

struct BlockComparison {
  double MedianA = 0.0;  // over all frames of A's blocks
  double MedianB = 0.0;
  double Ratio = 1.0;  // MedianB / MedianA
  double Low = 0.0;    // the 95 % interval of the ratio
  double High = 0.0;
  Verdict Result =
      Verdict::kNoClearDifference;  // B against A; no clear difference when 1 is inside
};

// Compares the blocks of A with those of B: the ratio of the medians and its
// 95 % percentile interval from `resamples` stratified bootstrap draws of
// whole blocks (each side's blocks drawn with replacement), widened on the
// log scale for the few blocks a run has (Student's t over the normal
// quantile, and the bootstrap's (n - 1) / n shrinkage of the variance). Deterministic
// for a given `seed`. Both medians 0 give a ratio of 1; only A's 0 gives an
// infinite ratio. With fewer than two non-empty blocks on a side there is
// no interval: it spans 0 to infinity and the verdict is no clear
// difference.
BlockComparison CompareBlocks(const std::vector<std::vector<double>>& a,
                              const std::vector<std::vector<double>>& b, std::uint64_t seed,
                              int resamples = 2000);

// The same comparison at any two-sided confidence level in (0, 1), for a
// family of comparisons that must hold together (a level of 1 - 0.05 / m
// for each of m). The interval is the bootstrap's percentile interval where
// each tail holds at least 10 draws, and otherwise (a level too high for the
// draws made) the normal one on the log scale from the draws' spread; either
// is widened as CompareBlocks does, with Student's t at that level.
BlockComparison CompareBlocksAt(const std::vector<std::vector<double>>& a,
                                const std::vector<std::vector<double>>& b, double confidence,
                                std::uint64_t seed, int resamples = 2000);

// CompareBlocksAt for the percentile `p` (PercentileInPlace) of each side
// instead of its median: MedianA and MedianB hold the two percentiles,
// Ratio and the interval their ratio.
BlockComparison CompareBlockPercentiles(const std::vector<std::vector<double>>& a,
                                        const std::vector<std::vector<double>>& b, double p,
                                        double confidence, std::uint64_t seed,
                                        int resamples = 2000);

// The same for blocks that ran in matched rounds: a[i] and b[i] ran close
// together (one round of an interleaved run), so a slow drift of the
// machine touches both alike. The bootstrap draws whole rounds, both sides'
// blocks of a round together, which keeps what the two share out of the
// ratio's spread; the widening uses Student's t with rounds - 1 degrees of
// freedom and the variance factor n / (n - 1) over n rounds. Only the first
// min(a.size(), b.size()) rounds count, and a round with an empty block on
// either side is left out; fewer than two rounds give no interval.
BlockComparison CompareMatchedBlocks(const std::vector<std::vector<double>>& a,
                                     const std::vector<std::vector<double>>& b, double confidence,
                                     std::uint64_t seed, int resamples = 2000);

// The quantile of Student's t with `df` degrees of freedom (df >= 1) at
// probability p in (0, 1).
double StudentTQuantile(double p, int df);

}  // namespace khost

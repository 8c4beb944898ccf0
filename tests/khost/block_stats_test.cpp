#include "khost/experiments/block_stats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using namespace khost;
using Blocks = std::vector<std::vector<double>>;

// Fewer draws than a run makes keep the many seeds quick; the intervals'
// quantiles are then a little coarser, not biased.
constexpr int kResamples = 1000;

// A seeded source of normal deviates that gives the same numbers with every
// standard library.
class Normal {
 public:
  explicit Normal(std::uint64_t seed) : mState(seed * 0x9E3779B97F4A7C15ull + 1) {}
  double Next() {
    const double u = (static_cast<double>(Bits() >> 11) + 0.5) / 9007199254740992.0;
    const double v = (static_cast<double>(Bits() >> 11) + 0.5) / 9007199254740992.0;
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
  }

 private:
  std::uint64_t Bits() {
    std::uint64_t z = (mState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t mState;
};

// Frame times as a loaded machine gives them: each block drifts as a whole
// (log-normal, `blockSpread`), frames within it follow an AR(1) wander
// around that level (`frameSpread`, correlation `rho`), and one frame in
// twenty is a spike of 1.5 to 3 times.
Blocks MakeBlocks(Normal& normal, int blocks, int frames, double median, double blockSpread,
                  double frameSpread, double rho = 0.6) {
  Blocks out(static_cast<std::size_t>(blocks));
  for (auto& block : out) {
    const double level = std::log(median) + blockSpread * normal.Next();
    double wander = frameSpread * normal.Next();
    for (int f = 0; f < frames; ++f) {
      wander = rho * wander + std::sqrt(1.0 - rho * rho) * frameSpread * normal.Next();
      double value = std::exp(level + wander);
      if (normal.Next() > 1.645) value *= 1.5 + 0.75 * (normal.Next() + 2.0) / 2.0;
      block.push_back(value);
    }
  }
  return out;
}

TEST(BlockStats, MedianOfOddEvenAndEmptySets) {
  std::vector<double> odd = {5, 1, 3};
  std::vector<double> even = {4, 1, 3, 2};
  std::vector<double> none;
  EXPECT_DOUBLE_EQ(MedianInPlace(odd), 3.0);
  EXPECT_DOUBLE_EQ(MedianInPlace(even), 2.5);
  EXPECT_DOUBLE_EQ(MedianInPlace(none), 0.0);
}

TEST(BlockStats, KnownTwentyPercentEffectIsFoundWithAnIntervalHoldingIt) {
  int held = 0;
  constexpr int kSeeds = 40;
  for (int seed = 1; seed <= kSeeds; ++seed) {
    Normal normal(static_cast<std::uint64_t>(seed));
    const Blocks a = MakeBlocks(normal, 10, 15, 1000.0, 0.04, 0.05);
    const Blocks b = MakeBlocks(normal, 10, 15, 1200.0, 0.04, 0.05);
    const BlockComparison c = CompareBlocks(a, b, static_cast<std::uint64_t>(seed), kResamples);
    EXPECT_EQ(c.Result, Verdict::kSlower) << "seed " << seed;
    EXPECT_NEAR(c.Ratio, 1.2, 0.08) << "seed " << seed;
    EXPECT_LE(c.Low, c.Ratio);
    EXPECT_GE(c.High, c.Ratio);
    if (c.Low <= 1.2 && 1.2 <= c.High) ++held;
    // The same effect the other way round is "faster".
    EXPECT_EQ(CompareBlocks(b, a, static_cast<std::uint64_t>(seed), kResamples).Result,
              Verdict::kFaster);
  }
  EXPECT_GE(held, kSeeds * 85 / 100) << held << " of " << kSeeds;
}

TEST(BlockStats, IdenticalSidesGiveNoClearDifferenceInNearlyAllSeeds) {
  int clear = 0;
  constexpr int kSeeds = 100;
  for (int seed = 1; seed <= kSeeds; ++seed) {
    Normal normal(static_cast<std::uint64_t>(seed) + 1000);
    const Blocks a = MakeBlocks(normal, 10, 15, 5000.0, 0.04, 0.05);
    const Blocks b = MakeBlocks(normal, 10, 15, 5000.0, 0.04, 0.05);
    if (CompareBlocks(a, b, static_cast<std::uint64_t>(seed), kResamples).Result ==
        Verdict::kNoClearDifference) {
      ++clear;
    }
  }
  EXPECT_GE(clear, kSeeds * 92 / 100) << clear << " of " << kSeeds;
}

TEST(BlockStats, CorrelatedFramesWithinBlocksDoNotNarrowTheInterval) {
  // Strong drift between blocks, little noise within them: each block's
  // frames say almost the same thing, so a side of 10 blocks holds about 10
  // independent values, not 250.
  int clearByBlocks = 0;
  int clearByFrames = 0;
  constexpr int kSeeds = 60;
  for (int seed = 1; seed <= kSeeds; ++seed) {
    Normal normal(static_cast<std::uint64_t>(seed) + 5000);
    const Blocks a = MakeBlocks(normal, 10, 15, 2000.0, 0.10, 0.02, 0.9);
    const Blocks b = MakeBlocks(normal, 10, 15, 2000.0, 0.10, 0.02, 0.9);
    const BlockComparison byBlocks =
        CompareBlocks(a, b, static_cast<std::uint64_t>(seed), kResamples);
    if (byBlocks.Result == Verdict::kNoClearDifference) ++clearByBlocks;
    // Resampling frames as if they were independent (one-frame blocks)
    // claims a difference most of the time on the same data.
    Blocks framesA;
    Blocks framesB;
    for (const auto& block : a) {
      for (double v : block) framesA.push_back({v});
    }
    for (const auto& block : b) {
      for (double v : block) framesB.push_back({v});
    }
    const BlockComparison byFrames =
        CompareBlocks(framesA, framesB, static_cast<std::uint64_t>(seed), kResamples);
    if (byFrames.Result == Verdict::kNoClearDifference) ++clearByFrames;
    EXPECT_GT(byBlocks.High - byBlocks.Low, byFrames.High - byFrames.Low) << "seed " << seed;
  }
  EXPECT_GE(clearByBlocks, kSeeds * 82 / 100) << clearByBlocks << " of " << kSeeds;
  EXPECT_LT(clearByFrames, kSeeds / 2) << clearByFrames << " of " << kSeeds;
}

TEST(BlockStats, SameSeedSameIntervalAndTooFewBlocksGiveNoInterval) {
  Normal normal(7);
  const Blocks a = MakeBlocks(normal, 6, 20, 100.0, 0.05, 0.05);
  const Blocks b = MakeBlocks(normal, 6, 20, 130.0, 0.05, 0.05);
  const BlockComparison x = CompareBlocks(a, b, 42);
  const BlockComparison y = CompareBlocks(a, b, 42);
  EXPECT_EQ(x.Low, y.Low);
  EXPECT_EQ(x.High, y.High);
  // One block on a side says nothing about the spread between blocks.
  const BlockComparison one = CompareBlocks({a[0]}, b, 42);
  EXPECT_EQ(one.Result, Verdict::kNoClearDifference);
  EXPECT_EQ(one.Low, 0.0);
  EXPECT_TRUE(std::isinf(one.High));
  // Cycles that took no time on either side compare equal; time only on B
  // is an infinite slowdown.
  const Blocks zeros = {{0.0, 0.0}, {0.0}};
  EXPECT_EQ(CompareBlocks(zeros, zeros, 1).Ratio, 1.0);
  EXPECT_EQ(CompareBlocks(zeros, zeros, 1).Result, Verdict::kNoClearDifference);
  EXPECT_EQ(CompareBlocks(zeros, {{1.0}, {2.0}}, 1).Result, Verdict::kSlower);
}

TEST(BlockStats, AnyLevelMatchesTheNinetyFivePercentComparisonAndWidensAbove) {
  // Student's t at any level against the table the 95 % comparison uses.
  EXPECT_NEAR(StudentTQuantile(0.975, 1), 12.706, 0.001);
  EXPECT_NEAR(StudentTQuantile(0.975, 9), 2.262, 0.001);
  EXPECT_NEAR(StudentTQuantile(0.025, 30), -2.042, 0.001);
  EXPECT_NEAR(StudentTQuantile(0.995, 5), 4.032, 0.001);
  Normal normal(11);
  const Blocks a = MakeBlocks(normal, 8, 20, 100.0, 0.05, 0.05);
  const Blocks b = MakeBlocks(normal, 8, 20, 104.0, 0.05, 0.05);
  const BlockComparison table = CompareBlocks(a, b, 5);
  const BlockComparison any = CompareBlocksAt(a, b, 0.95, 5);
  EXPECT_NEAR(any.Low, table.Low, 1e-3 * table.Low);
  EXPECT_NEAR(any.High, table.High, 1e-3 * table.High);
  // A family's level (here 99.9 %, past what 2000 draws resolve in the
  // tails) gives a wider interval around the same ratio.
  const BlockComparison family = CompareBlocksAt(a, b, 0.999, 5);
  EXPECT_EQ(family.Ratio, table.Ratio);
  EXPECT_LT(family.Low, table.Low);
  EXPECT_GT(family.High, table.High);
}

TEST(BlockStats, MatchedRoundsTakeASharedDriftOutAndStayHonestWithoutAnEffect) {
  // Each round's two blocks share the machine's level, which drifts by 8 %
  // from round to round: matched rounds see a 6 % effect that unmatched
  // blocks lose in the drift, and call no effect in nearly all seeds.
  int foundMatched = 0;
  int foundUnmatched = 0;
  int falseMatched = 0;
  constexpr int kSeeds = 60;
  for (int seed = 1; seed <= kSeeds; ++seed) {
    Normal normal(static_cast<std::uint64_t>(seed) * 7919 + 3);
    for (double effect : {1.06, 1.0}) {
      Blocks a;
      Blocks b;
      for (int round = 0; round < 10; ++round) {
        const double level = 1000.0 * std::exp(0.08 * normal.Next());
        a.push_back(MakeBlocks(normal, 1, 15, level, 0.01, 0.03)[0]);
        b.push_back(MakeBlocks(normal, 1, 15, level * effect, 0.01, 0.03)[0]);
      }
      const auto seed64 = static_cast<std::uint64_t>(seed);
      const Verdict matched = CompareMatchedBlocks(a, b, 0.95, seed64, kResamples).Result;
      if (effect > 1.0) {
        foundMatched += matched == Verdict::kSlower;
        foundUnmatched += CompareBlocks(a, b, seed64, kResamples).Result == Verdict::kSlower;
      } else {
        falseMatched += matched != Verdict::kNoClearDifference;
      }
    }
  }
  EXPECT_GE(foundMatched, kSeeds * 85 / 100) << foundMatched << " of " << kSeeds;
  EXPECT_LT(foundUnmatched, kSeeds / 3) << foundUnmatched << " of " << kSeeds;
  EXPECT_LE(falseMatched, kSeeds * 8 / 100) << falseMatched << " of " << kSeeds;
  // Rounds are matched by position: a round missing on one side counts on neither.
  const Blocks a = {{1.0}, {2.0}, {3.0}};
  const Blocks b = {{1.0}, {}, {3.0}, {9.0}};
  const BlockComparison c = CompareMatchedBlocks(a, b, 0.95, 1, 100);
  EXPECT_EQ(c.MedianA, 2.0);
  EXPECT_EQ(c.MedianB, 2.0);
  EXPECT_TRUE(std::isinf(CompareMatchedBlocks({{1.0}}, {{1.0}}, 0.95, 1).High));
}

}  // namespace

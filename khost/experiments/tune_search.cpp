#include "khost/experiments/tune_search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>

namespace khost {

namespace {

constexpr double kFamilyError = 0.05;
// Bootstrap draws for a drop in the race: many comparisons, each only
// deciding where blocks go.
constexpr int kRaceResamples = 100;
// More candidates than this is not a search that fits in a run.
constexpr long long kMaxCandidates = 1024;

std::uint64_t Mix(std::uint64_t seed, std::uint64_t a, std::uint64_t b) {
  std::uint64_t z = seed ^ (a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

long long CandidateCount(const std::vector<TuneSetting>& settings) {
  long long count = 1;
  for (const auto& setting : settings) {
    count *= static_cast<long long>(std::max<std::size_t>(setting.Values.size(), 1));
    if (count > kMaxCandidates) return kMaxCandidates + 1;
  }
  return count;
}

// The log of each block's median (0 for an empty block).
std::vector<double> BlockLogMedians(const std::vector<std::vector<double>>& blocks) {
  std::vector<double> logs;
  for (auto block : blocks) {
    const double median = MedianInPlace(block);
    logs.push_back(median > 0.0 ? std::log(median) : 0.0);
  }
  return logs;
}

std::string Format(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

}  // namespace

int TuneSearch::CheckConfigurations(const std::vector<TuneSetting>& settings) {
  // The best, the start, and each other value of each setting from the best.
  int count = 2;
  for (const auto& setting : settings) count += static_cast<int>(setting.Values.size()) - 1;
  return count;
}

long long TuneSearch::MinimumFrames(const std::vector<TuneSetting>& settings, int block) {
  return 1 + static_cast<long long>(block) *
                 (2 * CandidateCount(settings) + 2 * CheckConfigurations(settings));
}

long long TuneSearch::DefaultFrames(const std::vector<TuneSetting>& settings, int block) {
  // For five switches (32 candidates, 7 checked) 230 blocks, 6901 frames of
  // 30, three and a half minutes at 30 ms a frame.
  return DefaultTuneFrames(CandidateCount(settings), CheckConfigurations(settings), block);
}

Result<TuneSearch> TuneSearch::Create(std::vector<TuneSetting> settings, TuneOptions options) {
  if (settings.empty()) return BadInput("no settings to tune");
  std::set<std::string> captions;
  for (const auto& setting : settings) {
    if (!captions.insert(setting.Caption).second) {
      return BadInput("setting \"" + setting.Caption + "\" is named twice");
    }
    if (setting.Values.size() < 2) {
      return BadInput("setting \"" + setting.Caption + "\" has fewer than two values to try");
    }
    if (std::set<std::string>(setting.Values.begin(), setting.Values.end()).size() !=
        setting.Values.size()) {
      return BadInput("setting \"" + setting.Caption + "\" lists a value twice");
    }
    if (setting.Current < 0 || setting.Current >= static_cast<int>(setting.Values.size())) {
      return BadInput("setting \"" + setting.Caption + "\" has no current value among its values");
    }
  }
  const long long count = CandidateCount(settings);
  if (count > kMaxCandidates) {
    return BadInput("more than " + std::to_string(kMaxCandidates) + " configurations to tune");
  }
  if (options.Block < 1) return BadInput("a block of " + std::to_string(options.Block) + " frames");
  if (options.Frames == 0) options.Frames = DefaultFrames(settings, options.Block);
  const long long minimum = MinimumFrames(settings, options.Block);
  if (options.Frames < minimum) {
    return BadInput(
        "a budget of " + std::to_string(options.Frames) + " frames is too small to tune " +
        std::to_string(count) + " configurations: measuring each in two blocks of " +
        std::to_string(options.Block) + " frames and checking the best needs at least " +
        std::to_string(minimum) + " frames");
  }
  if (!(options.CheckShare > 0.0 && options.CheckShare < 1.0)) options.CheckShare = 0.35;

  TuneSearch search;
  search.mSettings = std::move(settings);
  search.mOptions = options;
  // Candidate c counts in mixed radix, each digit an offset from the
  // setting's current value, so that candidate 0 is the start.
  for (long long c = 0; c < count; ++c) {
    std::vector<int> values;
    long long rest = c;
    for (const auto& setting : search.mSettings) {
      const long long n = static_cast<long long>(setting.Values.size());
      values.push_back(static_cast<int>((setting.Current + rest % n) % n));
      rest /= n;
    }
    search.mCandidates.push_back(std::move(values));
  }
  const auto n = static_cast<std::size_t>(count);
  search.mRace.resize(n);
  search.mCheck.resize(n);
  search.mAlive.assign(n, true);
  search.mDropped.assign(n, false);
  search.mBudget = (options.Frames - 1) / options.Block;
  const long long checkMinimum = 2LL * CheckConfigurations(search.mSettings);
  const long long check = std::max(
      checkMinimum, static_cast<long long>(std::llround(options.CheckShare * search.mBudget)));
  search.mRaceBudget = std::max(2 * count, search.mBudget - check);
  search.StartStage();
  return search;
}

std::string TuneSearch::Describe(int candidate) const {
  std::string text;
  for (std::size_t s = 0; s < mSettings.size(); ++s) {
    if (!text.empty()) text += ", ";
    const int value = mCandidates[static_cast<std::size_t>(candidate)][s];
    text += mSettings[s].Caption + "=" + mSettings[s].Values[static_cast<std::size_t>(value)];
  }
  return text;
}

std::string TuneSearch::DescribeChanges(int from, int to) const {
  std::string text;
  for (std::size_t s = 0; s < mSettings.size(); ++s) {
    const int a = mCandidates[static_cast<std::size_t>(from)][s];
    const int b = mCandidates[static_cast<std::size_t>(to)][s];
    if (a == b) continue;
    if (!text.empty()) text += ", ";
    text += mSettings[s].Caption + "=" + mSettings[s].Values[static_cast<std::size_t>(b)];
  }
  return text;
}

void TuneSearch::Detrend() {
  // Each block's log median is the candidate's level plus the machine's
  // drift at that time plus noise. Backfitting: the drift at a block is the
  // mean residual of the blocks that ran just before and after it (not
  // itself), the level the mean of a candidate's blocks less their drift;
  // a few passes settle. Costs differ widely between candidates, so the
  // drift comes from residuals, never from the neighbours' raw times.
  constexpr int kWindow = 3;
  constexpr int kPasses = 6;
  const std::size_t n = mRaceOrder.size();
  std::vector<double> y(n, 0.0);
  std::vector<bool> valid(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<double> block = mRace[static_cast<std::size_t>(mRaceOrder[i].first)]
                                     [static_cast<std::size_t>(mRaceOrder[i].second)];
    const double median = MedianInPlace(block);
    if (median > 0.0 && std::isfinite(median)) {
      y[i] = std::log(median);
      valid[i] = true;
    }
  }
  mDrift.assign(n, 0.0);
  mLevel.assign(mCandidates.size(), 0.0);
  std::vector<double> residual(n, 0.0);
  for (int pass = 0; pass <= kPasses; ++pass) {
    std::vector<double> sum(mCandidates.size(), 0.0);
    std::vector<int> count(mCandidates.size(), 0);
    for (std::size_t i = 0; i < n; ++i) {
      if (!valid[i]) continue;
      const auto c = static_cast<std::size_t>(mRaceOrder[i].first);
      sum[c] += y[i] - mDrift[i];
      ++count[c];
    }
    for (std::size_t c = 0; c < mCandidates.size(); ++c) {
      if (count[c] > 0) mLevel[c] = sum[c] / count[c];
    }
    if (pass == kPasses) break;
    for (std::size_t i = 0; i < n; ++i) {
      residual[i] = valid[i] ? y[i] - mLevel[static_cast<std::size_t>(mRaceOrder[i].first)] : 0.0;
    }
    for (std::size_t i = 0; i < n; ++i) {
      double total = 0.0;
      int used = 0;
      const std::size_t from = i >= kWindow ? i - kWindow : 0;
      for (std::size_t j = from; j < n && j <= i + kWindow; ++j) {
        if (j == i || !valid[j]) continue;
        total += residual[j];
        ++used;
      }
      mDrift[i] = used > 0 ? total / used : 0.0;
    }
  }
}

std::vector<std::vector<double>> TuneSearch::Detrended(int candidate) const {
  std::vector<std::vector<double>> blocks = mRace[static_cast<std::size_t>(candidate)];
  for (std::size_t i = 0; i < mRaceOrder.size(); ++i) {
    if (mRaceOrder[i].first != candidate) continue;
    const double scale = std::exp(-mDrift[i]);
    for (double& value : blocks[static_cast<std::size_t>(mRaceOrder[i].second)]) value *= scale;
  }
  return blocks;
}

std::vector<int> TuneSearch::Alive() const {
  std::vector<int> alive;
  for (std::size_t c = 0; c < mAlive.size(); ++c) {
    if (mAlive[c]) alive.push_back(static_cast<int>(c));
  }
  return alive;
}

int TuneSearch::Next() const {
  return mPhase == TunePhase::kDone ? -1 : mQueue[mQueuePos];
}

void TuneSearch::QueueRound(const std::vector<int>& members) {
  mQueue = members;
  // Every other round runs backwards: a slow drift of the machine then
  // falls evenly on every member.
  if (mRounds % 2 == 1) std::reverse(mQueue.begin(), mQueue.end());
  mQueuePos = 0;
  ++mRounds;
}

void TuneSearch::StartStage() {
  const std::vector<int> alive = Alive();
  const int n = static_cast<int>(alive.size());
  if (n <= 1) {
    StartCheck();
    return;
  }
  int have = 0;
  for (int c : alive) {
    have = std::max(have, static_cast<int>(mRace[static_cast<std::size_t>(c)].size()));
  }
  const long long left = mRaceBudget - mRaceTaken;
  // Each stage adds the same number of blocks to each survivor: the early
  // stages, with the least known, decide the most.
  long long future = 0;
  for (int m = n; m > 1; m = (m + 1) / 2) future += m;
  const long long share = std::llround(static_cast<double>(left) / static_cast<double>(future));
  mStageTarget = have + static_cast<int>(std::max<long long>(1, share));
  mStageTarget = std::max(mStageTarget, 2);
  if (!StartRound()) StartCheck();
}

bool TuneSearch::StartRound() {
  std::vector<int> members;
  for (int c : Alive()) {
    if (static_cast<int>(mRace[static_cast<std::size_t>(c)].size()) < mStageTarget) {
      members.push_back(c);
    }
  }
  if (members.empty()) return false;
  if (static_cast<long long>(members.size()) > mRaceBudget - mRaceTaken) return false;
  QueueRound(members);
  return true;
}

void TuneSearch::AddBlock(std::vector<double> samples) {
  if (mPhase == TunePhase::kDone) return;
  const auto c = static_cast<std::size_t>(mQueue[mQueuePos]);
  ++mTaken;
  if (mPhase == TunePhase::kRace) {
    mRaceOrder.emplace_back(static_cast<int>(c), static_cast<int>(mRace[c].size()));
    mRace[c].push_back(std::move(samples));
    ++mRaceTaken;
  } else {
    mCheck[c].push_back(std::move(samples));
  }
  if (++mQueuePos < mQueue.size()) return;
  if (mPhase == TunePhase::kRace) {
    EndRound();
    return;
  }
  // A check round is queued only while a whole one fits.
  if (mBudget - mTaken >= static_cast<long long>(mCheckMembers.size())) {
    QueueRound(mCheckMembers);
  } else {
    mPhase = TunePhase::kDone;
  }
}

void TuneSearch::DiscardBlock() {
  if (mPhase == TunePhase::kDone) return;
  ++mTaken;
  ++mLeftOut;
  const auto rest = static_cast<long long>(mQueue.size() - mQueuePos);
  // The race's rounds are planned on its own share, which a left-out block
  // does not spend: it comes out of the check's.
  if (mPhase == TunePhase::kCheck && mBudget - mTaken < rest) mPhase = TunePhase::kDone;
}

void TuneSearch::DropSlower() {
  const std::vector<int> alive = Alive();
  if (alive.size() < 2) return;
  for (int c : alive) {
    if (mRace[static_cast<std::size_t>(c)].size() < 2) return;
  }
  int best = alive.front();
  for (int c : alive) {
    if (mLevel[static_cast<std::size_t>(c)] < mLevel[static_cast<std::size_t>(best)]) best = c;
  }
  const auto bestBlocks = Detrended(best);
  const double confidence = 1.0 - kFamilyError / static_cast<double>(alive.size() - 1);
  const double critical = StudentTQuantile(1.0 - (1.0 - confidence) / 2.0, 1 << 20);
  const std::vector<double> bestLogs = BlockLogMedians(bestBlocks);
  for (int c : alive) {
    if (c == best) continue;
    const auto blocks = Detrended(c);
    // The bootstrap is the costly part: skip it where the rounds' log
    // differences are far from a drop (a t below 0.7 of the critical value).
    const std::vector<double> logs = BlockLogMedians(blocks);
    double sum = 0.0;
    double squares = 0.0;
    const std::size_t n = std::min(logs.size(), bestLogs.size());
    for (std::size_t r = 0; r < n; ++r) {
      const double d = logs[r] - bestLogs[r];
      sum += d;
      squares += d * d;
    }
    const double mean = sum / static_cast<double>(n);
    const double spread = std::sqrt(std::max(0.0, squares / static_cast<double>(n) - mean * mean));
    if (mean <= 0.0 || mean * std::sqrt(static_cast<double>(n) - 1.0) < 0.7 * critical * spread) {
      continue;
    }
    const BlockComparison stats = CompareMatchedBlocks(
        bestBlocks, blocks, confidence,
        Mix(mOptions.Seed, static_cast<std::uint64_t>(mRounds), static_cast<std::uint64_t>(c)),
        kRaceResamples);
    if (stats.Result == Verdict::kSlower) {
      mAlive[static_cast<std::size_t>(c)] = false;
      mDropped[static_cast<std::size_t>(c)] = true;
    }
  }
}

void TuneSearch::EndRound() {
  Detrend();
  DropSlower();
  if (StartRound()) return;
  std::vector<int> alive = Alive();
  bool stageDone = true;
  for (int c : alive) {
    if (static_cast<int>(mRace[static_cast<std::size_t>(c)].size()) < mStageTarget) {
      stageDone = false;
    }
  }
  if (!stageDone) {  // the race's blocks are spent
    StartCheck();
    return;
  }
  // Keep the faster half by level (ties to the earlier candidate).
  std::vector<std::pair<double, int>> ranked;
  for (int c : alive) ranked.emplace_back(mLevel[static_cast<std::size_t>(c)], c);
  std::sort(ranked.begin(), ranked.end());
  for (std::size_t i = (ranked.size() + 1) / 2; i < ranked.size(); ++i) {
    mAlive[static_cast<std::size_t>(ranked[i].second)] = false;
  }
  StartStage();
}

void TuneSearch::StartCheck() {
  // The best: the last survivor, or the lowest level among the survivors
  // when the race's blocks ran out first.
  if (mLevel.size() != mCandidates.size()) Detrend();
  int best = -1;
  double bestMedian = 0.0;
  for (int c : Alive()) {
    const double median = mLevel[static_cast<std::size_t>(c)];
    if (best < 0 || median < bestMedian) {
      best = c;
      bestMedian = median;
    }
  }
  mBest = std::max(best, 0);
  mPhase = TunePhase::kCheck;
  // The start is checked even when it is one switch from the best.
  mCheckMembers = {mBest};
  if (mBest != 0) mCheckMembers.push_back(0);
  const auto& from = mCandidates[static_cast<std::size_t>(mBest)];
  for (std::size_t c = 1; c < mCandidates.size(); ++c) {
    int differing = 0;
    for (std::size_t s = 0; s < from.size(); ++s) differing += mCandidates[c][s] != from[s];
    if (differing == 1 && static_cast<int>(c) != mBest && c != 0) {
      mCheckMembers.push_back(static_cast<int>(c));
    }
  }
  if (mBudget - mTaken >= static_cast<long long>(mCheckMembers.size())) {
    QueueRound(mCheckMembers);
  } else {
    mPhase = TunePhase::kDone;
  }
}

TuneAnswer TuneSearch::Answer() const {
  TuneAnswer answer;
  answer.Best = mPhase == TunePhase::kRace ? 0 : mBest;
  for (std::size_t c = 0; c < mCandidates.size(); ++c) {
    if (mRace[c].empty() && mCheck[c].empty()) continue;
    TuneMeasured measured;
    measured.Candidate = static_cast<int>(c);
    std::vector<double> all;
    for (const auto* blocks : {&mRace[c], &mCheck[c]}) {
      for (const auto& block : *blocks) all.insert(all.end(), block.begin(), block.end());
      measured.Blocks += static_cast<int>(blocks->size());
    }
    measured.Samples = static_cast<long long>(all.size());
    measured.Median = MedianInPlace(all);
    measured.Dropped = mDropped[c];
    answer.Measured.push_back(measured);
  }
  // The check's claims need two whole rounds: with fewer there is no
  // interval (and with none, not even a median) to claim anything from.
  if (mPhase != TunePhase::kRace) {
    std::size_t rounds = mCheck[static_cast<std::size_t>(mBest)].size();
    for (int c : mCheckMembers)
      rounds = std::min(rounds, mCheck[static_cast<std::size_t>(c)].size());
    answer.CheckRounds = static_cast<int>(rounds);
  }
  if (mPhase == TunePhase::kRace) {
    answer.Undecided = "the run ended during the race, before a best was chosen";
  } else if (answer.CheckRounds < 2) {
    answer.Undecided = "the run ended after " + std::to_string(answer.CheckRounds) +
                       " of the check's rounds, and a best is checked over at least 2";
  }
  if (!answer.Undecided.empty()) {
    answer.Verdict = "Not decided: " + answer.Undecided + "; nothing is recommended";
    return answer;
  }
  answer.Decided = true;
  const auto& bestBlocks = mCheck[static_cast<std::size_t>(answer.Best)];
  if (answer.Best == 0) {
    std::vector<double> all;
    for (const auto& block : bestBlocks) all.insert(all.end(), block.begin(), block.end());
    answer.VersusStart.MedianA = answer.VersusStart.MedianB = MedianInPlace(all);
    answer.VersusStart.Ratio = answer.VersusStart.Low = answer.VersusStart.High = 1.0;
  } else {
    answer.VersusStart = CompareMatchedBlocks(mCheck[0], bestBlocks, 1.0 - kFamilyError,
                                              Mix(mOptions.Seed, 0xC0FFEE, 0), mOptions.Resamples);
    answer.MeasurablyFaster = answer.VersusStart.Result == Verdict::kFaster;
  }
  answer.Recommended = answer.MeasurablyFaster ? answer.Best : 0;

  const auto& from = mCandidates[static_cast<std::size_t>(answer.Best)];
  std::vector<int> neighbours;
  for (std::size_t c = 0; c < mCandidates.size(); ++c) {
    int differing = 0;
    for (std::size_t s = 0; s < from.size(); ++s) differing += mCandidates[c][s] != from[s];
    if (differing == 1) neighbours.push_back(static_cast<int>(c));
  }
  const double confidence =
      1.0 - kFamilyError / static_cast<double>(std::max<std::size_t>(neighbours.size(), 1));
  for (int c : neighbours) {
    TuneEffect effect;
    effect.Candidate = c;
    for (std::size_t s = 0; s < from.size(); ++s) {
      if (mCandidates[static_cast<std::size_t>(c)][s] != from[s]) {
        effect.Setting = static_cast<int>(s);
        effect.Value = mCandidates[static_cast<std::size_t>(c)][s];
      }
    }
    effect.Stats = CompareMatchedBlocks(bestBlocks, mCheck[static_cast<std::size_t>(c)], confidence,
                                        Mix(mOptions.Seed, 0xEFFEC7, static_cast<std::uint64_t>(c)),
                                        mOptions.Resamples);
    answer.Effects.push_back(effect);
  }

  if (answer.MeasurablyFaster) {
    answer.Verdict =
        "Measurably faster than the current configuration: " + DescribeChanges(0, answer.Best) +
        " (ratio " + Format(answer.VersusStart.Ratio) + ", 95 % interval [" +
        Format(answer.VersusStart.Low) + ", " + Format(answer.VersusStart.High) + "])";
  } else {
    answer.Verdict = "No configuration is measurably faster than the current one";
  }
  return answer;
}

}  // namespace khost

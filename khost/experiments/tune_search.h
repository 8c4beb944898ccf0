// The search for the fastest engine settings: which configuration each
// block of frames runs, which configurations are dropped, and the answer.
//
// A pure, deterministic state machine: the frame loop asks Next() for the
// configuration of the next block, runs the block, and hands the target
// cycle's durations in the block's counted frames to AddBlock(); Done() says
// when the budget is spent, Answer() gives the result.
//
// How it decides (two phases over blocks of frames):
//   Race  Every candidate configuration runs in rounds of one block each
//         (alternating the order each round), in stages of successive
//         halving: each stage adds the same number of blocks to every
//         survivor (the race's blocks spread evenly over the survivors of
//         the stages to come), then keeps the faster half. The machine's
//         load drifts while a round runs, so each block's median is first
//         set against the blocks that ran just before and after it: a
//         backfit of each candidate's level and a drift that is the mean
//         residual of the three blocks on either side. After every round a
//         survivor whose block-bootstrap interval against the fastest so
//         far (over matched rounds, drift taken out) lies above 1 is dropped
//         at once; those intervals hold together for the round (Bonferroni:
//         each at 1 - 0.05 / (survivors - 1)). The race's last survivor is
//         the best measured configuration. A wrong drop costs only the
//         chance of finding the best: the race claims nothing.
//   Check The best, the start and every configuration one switch away from
//         the best run in fresh rounds. The answer's claims come from these
//         blocks only: the race picked the best as the lowest of many noisy
//         levels, so its own blocks flatter it, while fresh blocks do not.
//         The best is called faster than the start only when the 95 %
//         interval of best / start (bootstrap over matched rounds) lies below
//         1; the per-setting effects (one switch from the best, over the
//         best) hold together at 95 % (each at 1 - 0.05 / effects). Whatever
//         the race did, a configuration no faster than the start is called
//         faster with a chance of about 2.5 %.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "khost/base/status.h"
#include "khost/cli/run_requests.h"
#include "khost/experiments/block_stats.h"

namespace khost {

struct TuneSetting {
  std::string Caption;              // the editor's caption, e.g. "Frustum Culling"
  std::vector<std::string> Values;  // the texts it takes, e.g. {"0", "1"}
  int Current = 0;                  // the value at the start, an index into Values
};

struct TuneOptions {
  long long Frames = 0;       // the budget, frame 0 included; 0 for DefaultFrames
  int Block = kDefaultBlock;  // frames per block
  std::uint64_t Seed = 1;
  // The share of the blocks kept for the check (at least two blocks for each
  // of its configurations).
  double CheckShare = 0.35;
  int Resamples = 2000;  // bootstrap draws for each of the answer's intervals
};

enum class TunePhase { kRace, kCheck, kDone };

struct TuneMeasured {
  int Candidate = 0;
  int Blocks = 0;         // race and check together
  long long Samples = 0;  // counted frames
  double Median = 0.0;    // over all its samples
  bool Dropped = false;   // left the race before its end
};

struct TuneEffect {
  int Setting = 0;
  int Value = 0;      // the value switched to, an index into the setting's Values
  int Candidate = 0;  // the configuration that is
  // A = the best configuration, B = this one, from the check's blocks:
  // Ratio above 1 means the switch makes it slower.
  BlockComparison Stats;
};

struct TuneAnswer {
  // Whether the search got far enough to name a best: the race ended and the
  // check ran at least two whole rounds. A search cut short before that
  // claims no best, no comparison with the start and no effects; Undecided
  // says why.
  bool Decided = false;
  std::string Undecided;
  int CheckRounds = 0;  // whole rounds of the check that ran
  int Best = 0;         // the race's best (0 is the start); a claim only when Decided
  // The configuration to apply: Best when it is measurably faster than the
  // start, the start otherwise.
  int Recommended = 0;
  bool MeasurablyFaster = false;
  // A = the start, B = the best, from the check's blocks (a ratio of 1 with
  // the interval [1, 1] when the best is the start). Only when Decided.
  BlockComparison VersusStart;
  std::vector<TuneEffect> Effects;     // one per other value of each setting; only when Decided
  std::vector<TuneMeasured> Measured;  // every candidate that ran, in candidate order
  std::string Verdict;                 // one line
};

class TuneSearch {
 public:
  // Every combination of the settings' values, the start first. Refuses
  // settings that cannot be searched and a budget below MinimumFrames (the
  // message names the frames needed).
  static Result<TuneSearch> Create(std::vector<TuneSetting> settings, TuneOptions options);

  // Frame 0 (before the first block), then two blocks of each candidate in
  // the race and two of each configuration the check runs.
  static long long MinimumFrames(const std::vector<TuneSetting>& settings, int block);
  // The budget used when none is given (DefaultTuneFrames): every candidate
  // raced, and the check's configurations.
  static long long DefaultFrames(const std::vector<TuneSetting>& settings, int block);

  const std::vector<TuneSetting>& Settings() const { return mSettings; }
  const TuneOptions& Options() const { return mOptions; }
  // Candidate c's value index for each setting; candidate 0 is the start.
  const std::vector<std::vector<int>>& Candidates() const { return mCandidates; }
  // "Frustum Culling=1, Parallel Pipeline=0, ..."
  std::string Describe(int candidate) const;
  // The settings that differ from candidate `from`, as Describe does.
  std::string DescribeChanges(int from, int to) const;

  TunePhase Phase() const { return mPhase; }
  bool Done() const { return mPhase == TunePhase::kDone; }
  // The candidate the next block runs; -1 when done.
  int Next() const;
  // The finished block of Next()'s candidate: the target cycle's durations in
  // its counted frames (may be empty). Ignored when done.
  void AddBlock(std::vector<double> samples);
  // The block of Next()'s candidate did not run its configuration (a
  // setting was changed during it by something else): it is spent from the
  // budget but kept out of the answer, and the candidate runs the next
  // block instead. A check round the rest of the budget can no longer
  // finish ends the search. Ignored when done.
  void DiscardBlock();
  long long BlocksTaken() const { return mTaken; }  // left out ones included
  long long BlocksLeftOut() const { return mLeftOut; }
  long long BlockBudget() const { return mBudget; }

  // The result from what has been measured (before Done() too: a run cut
  // short gets the answer its blocks support).
  TuneAnswer Answer() const;

 private:
  TuneSearch() = default;
  static int CheckConfigurations(const std::vector<TuneSetting>& settings);
  void Detrend();
  std::vector<std::vector<double>> Detrended(int candidate) const;
  std::vector<int> Alive() const;
  void StartStage();
  bool StartRound();
  void EndRound();
  void DropSlower();
  void StartCheck();
  void QueueRound(const std::vector<int>& members);

  std::vector<TuneSetting> mSettings;
  TuneOptions mOptions;
  std::vector<std::vector<int>> mCandidates;
  std::vector<std::vector<std::vector<double>>> mRace;   // [candidate][block]
  std::vector<std::vector<std::vector<double>>> mCheck;  // [candidate][block]
  // The race's blocks in the order they ran (candidate, index in its list),
  // the machine's drift at each (log scale) and each candidate's level
  // with the drift taken out (log scale), from Detrend().
  std::vector<std::pair<int, int>> mRaceOrder;
  std::vector<double> mDrift;
  std::vector<double> mLevel;
  std::vector<bool> mAlive;
  std::vector<bool> mDropped;
  TunePhase mPhase = TunePhase::kRace;
  long long mBudget = 0;      // blocks in all
  long long mRaceBudget = 0;  // blocks for the race
  long long mTaken = 0;
  long long mLeftOut = 0;
  long long mRaceTaken = 0;
  int mStageTarget = 0;  // race blocks each survivor reaches in this stage
  int mRounds = 0;
  int mBest = 0;
  std::vector<int> mCheckMembers;
  std::vector<int> mQueue;
  std::size_t mQueuePos = 0;
};

}  // namespace khost

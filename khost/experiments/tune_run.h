// --tune in a run: resolves the settings and the target cycle against the
// built window, sets each block's configuration through the window's
// input as the search asks, feeds the search the target's durations in the
// block's counted frames, and leaves the settings restored (or the
// recommended ones applied) when the search ends or the run does.
//
// Blocks lie as in a comparison (see comparison_run.h): frame 0 runs with
// the start-up settings, block b is frames b * Block + 1 to (b + 1) * Block
// and its configuration is set after frame b * Block; a block's first
// settling frames and its last frame (which carries the next switch) do not
// count. A block the run ends in is not handed to the search, nor is one in
// which a searched setting did not hold the block's value (setting_watch.h):
// the search spends it without measuring it, and the report says how many.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "khost/base/status.h"
#include "khost/cli/run_requests.h"
#include "khost/experiments/experiment.h"
#include "khost/experiments/setting_watch.h"
#include "khost/experiments/tune_config.h"
#include "khost/experiments/tune_report.h"
#include "khost/experiments/tune_search.h"
#include "khost/frame/frame_capture.h"
#include "khost/input/ui_driver.h"
#include "khost/setup/config_edit.h"

namespace khost {

// Whether --tune-target `target` names a cycle of `catalogue` in a scene of
// `characters` characters that `clock` measures; bad input otherwise.
Status CheckTuneTarget(const std::string& target, MeasureClock clock, int characters,
                       const CycleCatalogue& catalogue = CycleCatalogue::Standard());

class TuneRun : public Experiment {
 public:
  // Checks the request against the window `driver` works (settings and
  // their values, the target cycle among a scene of `characters`
  // characters, the budget) and, with Write, that both configuration files
  // can be replaced. `frames` is the budget (--frames; unset: the search's
  // default); `clock` the clock its times are read on. Bad input gives exit
  // status 2, a file that cannot be written 1.
  static Result<std::unique_ptr<TuneRun>> Prepare(const TuneRequest& request,
                                                  std::optional<long long> frames,
                                                  MeasureClock clock, UiDriver& driver,
                                                  int characters);

  // The frames the search runs (frame 0 and its blocks).
  long long Frames() const { return mSearch->Options().Frames; }
  // The search has ended and the settings are as it leaves them.
  bool Finished() const { return mFinished; }

  // After frame `frameIndex`: hands a finished block to the search and sets
  // the next block's configuration, or, once the search is done, the
  // settings it leaves. Frame 0 takes the start from the window as it is
  // then (after --set, --click and --select).
  Status After(long long frameIndex, UiDriver& driver);
  // The run has ended: a search cut short leaves its settings too.
  Status End(UiDriver& driver) override;

  void Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) override;

  // The answer (for what was measured), and the configuration files written
  // as --tune-write asks.
  TuneReport Report() const;
  Status WriteConfig(std::ostream& out) const;

  // The experiment's steps: the search's budget is the run's; every block
  // boundary until the search ends may switch settings; the answer is
  // printed, then the configuration written.
  long long Frames(long long) const override { return Frames(); }
  std::vector<UiAction> StartActions() const override { return {}; }
  Status After(long long frameIndex, UiDriver& driver, bool& changed) override {
    changed = !mFinished;
    return mFinished ? Status() : After(frameIndex, driver);
  }
  bool Done() const override { return mFinished; }
  Status Write(std::ostream& notes, std::ostream* csv) override;
  Status Apply(std::ostream& notes) override { return WriteConfig(notes); }
  // The report: what was searched, the blocks of the start, of the best
  // and of the others shaded, and the best's and each switch's ratios.
  void Describe(ReportData& data) const override;

 private:
  TuneRun() = default;
  Status SetCandidate(int candidate, UiDriver& driver);
  Status Leave(UiDriver& driver);
  std::vector<TunedValue> ValuesOf(int candidate) const;
  // Candidate `candidate`'s values as the settings write them.
  std::vector<std::string> TextsOf(int candidate) const;

  TuneRequest mRequest;
  MeasureClock mClock = MeasureClock::kWall;
  std::vector<TuneSetting> mSettings;
  std::unique_ptr<TuneSearch> mSearch;
  SettingWatch mWatch;                // what the settings hold, read after every frame
  long long mRunning = -1;            // the block whose frames are being taken
  int mCandidate = 0;                 // the configuration it runs
  std::vector<int> mBlockCandidates;  // the configuration each block ran, by block
  std::vector<double> mSamples;
  int mTargetId = -1;
  bool mFinished = false;
  bool mCutShort = false;
  std::optional<TuneAnswer> mAnswer;
};

}  // namespace khost

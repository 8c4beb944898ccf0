// What the run does to the tool through its input, beside the frames: the
// scripted actions (--select, --click, --set) after the first frame, the
// comparison's switches between its blocks, and the tuning search's.
// Everything here goes through the window's input (UiDriver), so a live
// window shows the editors change.
//
// Every call: [loop thread], between frames.
#pragma once

#include <memory>
#include <string>

#include "khost/app/repaint_policy.h"
#include "khost/app/status.h"
#include "khost/app/ui_driver.h"
#include "khost/cli/run_plan.h"
#include "khost/experiments/measured_run.h"
#include "khost/experiments/tune_run.h"

namespace khost {

class RunScript {
 public:
  // Borrows all four; they outlive the script.
  RunScript(const RunPlan& plan, UiDriver& driver, MeasuredRun& measured, RepaintPolicy& repaint)
      : mPlan(plan), mDriver(driver), mMeasured(measured), mRepaint(repaint) {}

  // Before any output is opened: resolves every action's caption, item and
  // value, the comparison's values and the tuning search's settings and
  // target against the tool as built (`characters`: the scene's, which
  // name the evaluation's child cycles). Bad input is refused here.
  Status Check(int characters);
  // The frames the run draws: the tuning search's budget, else `planned`.
  long long Frames(long long planned) const { return mTune ? mTune->Frames() : planned; }
  // Once the outputs are open: the tuning search reads the frames as they
  // are measured.
  void Follow() {
    if (mTune) mMeasured.Follow(mTune.get());
  }

  // After the first frame: the actions in order, then the comparison's B.
  // Once all are taken, the recording may replace what stands at its path.
  Status AtStart();
  // After frame `frameIndex`: the comparison's or search's next switch.
  // `frames` (the run's length) ends one frame after the search is done.
  Status After(long long frameIndex, long long& frames);
  // After the loop: the search restores the settings it started from (or
  // applies its recommendation).
  Status End() { return mTune ? mTune->End(mDriver) : Status(); }

 private:
  const RunPlan& mPlan;
  UiDriver& mDriver;
  MeasuredRun& mMeasured;
  RepaintPolicy& mRepaint;
  std::unique_ptr<TuneRun> mTune;
};

}  // namespace khost

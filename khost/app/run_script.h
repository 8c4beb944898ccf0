// What the run does to the tool through its input, beside the frames: the
// scripted actions (--select, --click, --set) after the first frame or
// after the frame --at names, and
// the experiment's switches between its blocks (the comparison's or the
// tuning search's). Everything here goes through the window's input
// (UiDriver), so a live window shows the editors change. The script owns
// the run's experiment.
//
// Every call: [loop thread], between frames.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "khost/app/repaint_policy.h"
#include "khost/base/status.h"
#include "khost/cli/run_plan.h"
#include "khost/experiments/experiment.h"
#include "khost/frame/frame_capture.h"
#include "khost/input/ui_driver.h"
#include "khost/outputs/measured_run.h"

namespace khost {

class RunScript {
 public:
  // Borrows all four; they outlive the script.
  RunScript(const RunPlan& plan, UiDriver& driver, MeasuredRun& measured, RepaintPolicy& repaint)
      : mPlan(plan), mDriver(driver), mMeasured(measured), mRepaint(repaint) {}

  // Before any output is opened: resolves every action's caption, item and
  // value, and makes the experiment (its values, settings and target)
  // against the tool as built (`characters`: the scene's, which name the
  // evaluation's child cycles) for a run of `planned` frames. Bad input is
  // refused here.
  Status Check(int characters, long long planned);
  // The frames the run draws: the experiment's, else `planned`.
  long long Frames(long long planned) const {
    return mExperiment ? mExperiment->Frames(planned) : planned;
  }
  // Once the outputs are open: the experiment takes the frames `capture`
  // hands on.
  void Follow(FrameCapture& capture) {
    if (mExperiment) capture.AddSink(mExperiment.get());
  }

  // After the first frame: the actions in order, then the experiment's
  // first settings. Once all are taken, the recording may replace what
  // stands at its path.
  Status AtStart();
  // After frame `frameIndex`: the experiment's next switch, then the
  // actions --at puts after that frame (so one that changes a setting the
  // experiment varies lands inside the experiment's block, as a user's
  // click would). `frames` (the run's length) ends one frame after the
  // experiment is done.
  Status After(long long frameIndex, long long& frames);
  // After the loop: the experiment restores the settings it started from
  // (or applies its recommendation).
  Status End() { return mExperiment ? mExperiment->End(mDriver) : Status(); }
  // What the run reports at its end (null: no experiment).
  RunReport* Report() { return mExperiment.get(); }

 private:
  const RunPlan& mPlan;
  UiDriver& mDriver;
  MeasuredRun& mMeasured;
  RepaintPolicy& mRepaint;
  // Runs the actions of frame `frameIndex`, in command-line order.
  Status RunActions(long long frameIndex);

  std::unique_ptr<Experiment> mExperiment;
  std::vector<UiAction> mLater;  // the actions after later frames, by frame
  std::size_t mNextLater = 0;
};

}  // namespace khost

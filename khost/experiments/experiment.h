// A measured experiment: the run switches settings through the tool's input
// between blocks of frames, takes every measured frame, and answers from
// the frames of each block. Two kinds: the A/B comparison of one setting
// (--compare, comparison_run.h) and the tuning search over the engine's
// settings (--tune, tune_run.h). A run has at most one; MakeExperiment
// makes it from the plan and the run's script owns it.
//
// Every call: [loop thread], between frames. `driver` is
// borrowed for the call.
#pragma once

#include <memory>
#include <vector>

#include "khost/base/status.h"
#include "khost/cli/run_plan.h"
#include "khost/frame/frame_capture.h"
#include "khost/input/ui_driver.h"
#include "khost/outputs/run_report.h"

namespace khost {

class Experiment : public FrameSink, public RunReport {
 public:
  // The frames the run draws: the experiment's own budget, or `planned`.
  virtual long long Frames(long long planned) const = 0;
  // What the experiment sets after the first frame, once the scripted
  // actions are done (the comparison's first value).
  virtual std::vector<UiAction> StartActions() const = 0;
  // After frame `frameIndex`: sets the next block's settings, if a block
  // starts after it; `changed` says whether any input was sent.
  virtual Status After(long long frameIndex, UiDriver& driver, bool& changed) = 0;
  // The experiment needs no more frames (the search has ended and the
  // settings are as it leaves them).
  virtual bool Done() const = 0;
  // The run has ended: the settings the experiment leaves.
  virtual Status End(UiDriver& driver) = 0;
};

// The plan's experiment, checked against the tool as built before any
// output is opened (its values, settings and target, against a scene of
// `characters` characters, and whether `plannedFrames` frames can give an
// answer); null when the plan asks for none. Bad input gives exit status 2.
Result<std::unique_ptr<Experiment>> MakeExperiment(const RunPlan& plan, long long plannedFrames,
                                                   UiDriver& driver, int characters);

}  // namespace khost

#include "khost/app/run_script.h"

#include <vector>

#include "khost/app/interrupt.h"

namespace khost {

Status RunScript::Check(int characters, long long planned) {
  for (const UiAction& action : mPlan.Actions) {
    if (Status checked = mDriver.Check(action); !checked) return checked;
  }
  Result<std::unique_ptr<Experiment>> experiment =
      MakeExperiment(mPlan, planned, mDriver, characters);
  if (!experiment) return experiment.AsStatus();
  mExperiment = std::move(*experiment);
  return {};
}

Status RunScript::AtStart() {
  std::vector<UiAction> actions = mPlan.Actions;
  if (mExperiment) {
    for (UiAction& action : mExperiment->StartActions()) actions.push_back(std::move(action));
  }
  for (const UiAction& action : actions) {
    // A signal to stop leaves the rest undone; the loop ends the run.
    if (InterruptSignal() != 0) return {};
    if (Status done = mDriver.Run(action); !done) return done;
  }
  if (!actions.empty()) mRepaint.MarkOutOfDate();
  // Every input has been accepted: the recording may now replace what
  // stands at its path.
  return mMeasured.PlaceRecording();
}

Status RunScript::After(long long frameIndex, long long& frames) {
  if (!mExperiment || mExperiment->Done()) return {};
  bool changed = false;
  if (Status switched = mExperiment->After(frameIndex, mDriver, changed); !switched) {
    return switched;
  }
  if (changed) mRepaint.MarkOutOfDate();
  // One more frame shows the settings the experiment leaves; none is
  // needed after that.
  if (mExperiment->Done() && !mMeasured.OutputFailed()) frames = frameIndex + 2;
  return {};
}

}  // namespace khost

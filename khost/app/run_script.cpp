#include "khost/app/run_script.h"

#include <algorithm>
#include <string>
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
  // An action after frame N needs frame N + 1 to follow it.
  const long long frames = Frames(planned);
  for (const UiAction& action : mPlan.Actions) {
    if (action.AfterFrame + 1 >= frames) {
      return BadInput("--at " + std::to_string(action.AfterFrame) + ": the run draws " +
                      std::to_string(frames) + " frames, so nothing follows frame " +
                      std::to_string(action.AfterFrame) + " (give --frames " +
                      std::to_string(action.AfterFrame + 2) + " or more)");
    }
    if (action.AfterFrame > 0) mLater.push_back(action);
  }
  std::stable_sort(mLater.begin(), mLater.end(), [](const UiAction& a, const UiAction& b) {
    return a.AfterFrame < b.AfterFrame;
  });
  return {};
}

Status RunScript::AtStart() {
  std::vector<UiAction> actions;
  for (const UiAction& action : mPlan.Actions) {
    if (action.AfterFrame == 0) actions.push_back(action);
  }
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
  if (mExperiment && !mExperiment->Done()) {
    bool changed = false;
    if (Status switched = mExperiment->After(frameIndex, mDriver, changed); !switched) {
      return switched;
    }
    if (changed) mRepaint.MarkOutOfDate();
    // One more frame shows the settings the experiment leaves; none is
    // needed after that.
    if (mExperiment->Done() && !mMeasured.OutputFailed()) frames = frameIndex + 2;
  }
  return frameIndex > 0 ? RunActions(frameIndex) : Status();
}

Status RunScript::RunActions(long long frameIndex) {
  bool ran = false;
  for (; mNextLater < mLater.size() && mLater[mNextLater].AfterFrame <= frameIndex; ++mNextLater) {
    if (InterruptSignal() != 0) return {};
    if (Status done = mDriver.Run(mLater[mNextLater]); !done) return done;
    ran = true;
  }
  if (ran) mRepaint.MarkOutOfDate();
  return {};
}

}  // namespace khost

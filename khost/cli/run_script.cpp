#include "khost/cli/run_script.h"

#include <optional>
#include <vector>

#include "khost/app/interrupt.h"

namespace khost {

Status RunScript::Check(int characters) {
  for (const UiAction& action : mPlan.Actions) {
    if (Status checked = mDriver.Check(action); !checked) return checked;
  }
  if (const std::optional<CompareSpec>& compare = mPlan.Outputs.Measured.Compare) {
    for (const std::string& value : {compare->ValueA, compare->ValueB}) {
      const UiAction action{UiAction::kSet, compare->Caption, value};
      if (Status checked = Prefixed("--compare: ", mDriver.Check(action)); !checked) {
        return checked;
      }
    }
  }
  if (mPlan.Tune) {
    Result<std::unique_ptr<TuneRun>> tune = TuneRun::Prepare(
        *mPlan.Tune, mPlan.Frames, mPlan.Outputs.Measured.Clock, mDriver, characters);
    if (!tune) return tune.AsStatus();
    mTune = std::move(*tune);
  }
  return {};
}

Status RunScript::AtStart() {
  std::vector<UiAction> actions = mPlan.Actions;
  if (const ComparisonRun* comparison = mMeasured.Comparison()) {
    // Both values were checked before the run; B is set once before the
    // first block, so an editor that does not take it stops the run at
    // once.
    const CompareSpec& spec = comparison->Spec();
    actions.push_back({UiAction::kSet, spec.Caption, spec.ValueB});
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
  if (const std::optional<std::string> value = mMeasured.SwitchAfter(frameIndex)) {
    const UiAction action{UiAction::kSet, mMeasured.Comparison()->Spec().Caption, *value};
    if (Status done = Prefixed("--compare: ", mDriver.Run(action)); !done) return done;
    mRepaint.MarkOutOfDate();
  }
  if (mTune && !mTune->Finished()) {
    if (Status switched = mTune->After(frameIndex, mDriver); !switched) return switched;
    mRepaint.MarkOutOfDate();
    // One more frame shows the settings the search leaves; none is needed
    // after that.
    if (mTune->Finished() && !mMeasured.OutputFailed()) frames = frameIndex + 2;
  }
  return {};
}

}  // namespace khost

// What the flag table's rows do with their values: the parts of the run's
// plan a row writes into, the common setters (a member set to true, to the
// value's text or number) and the setters that read a value of their own.
// [main thread] while the command line is read.
#pragma once

#include "khost/base/status.h"
#include "khost/cli/cli_flags.h"
#include "khost/cli/run_plan.h"

namespace khost::flag_stores {

// The parts of the plan rows write into. The comparison and the tune are
// made by the first of their flags given, as a companion flag may come
// before the flag it needs (which the parser then checks was given).
inline RunPlan& Whole(RunPlan& p) {
  return p;
}

inline OutputRequest& Outputs(RunPlan& p) {
  return p.Outputs;
}

inline MeasuredRequest& Measured(RunPlan& p) {
  return p.Outputs.Measured;
}

inline CompareRequest& Comparison(RunPlan& p) {
  std::optional<CompareRequest>& compare = p.Outputs.Measured.Compare;
  if (!compare) compare.emplace();
  return *compare;
}

inline CompareTableRequest& Table(RunPlan& p) {
  return p.Outputs.Measured.Table;
}

inline TuneRequest& Tuning(RunPlan& p) {
  if (!p.Tune) p.Tune.emplace();
  return *p.Tune;
}

// What a row's Store does, for the common cases: `Field` is a pointer to the
// member the flag sets in the part of the plan that `Part` gives.
template <auto Field, auto Part = Whole>
Status SetTrue(RunPlan& p, const FlagValue& /*value*/) {
  Part(p).*Field = true;
  return {};
}

template <auto Field, auto Part = Whole>
Status SetText(RunPlan& p, const FlagValue& value) {
  Part(p).*Field = value.Text;
  return {};
}

template <auto Field, auto Part = Whole>
Status SetNumber(RunPlan& p, const FlagValue& value) {
  Part(p).*Field = value.Number;
  return {};
}

template <UiAction::Kind Kind>
Status AddAction(RunPlan& p, const FlagValue& value) {
  p.Actions.push_back({Kind, value.Text, "", p.ActionFrame});
  return {};
}

// The setters that read a value of their own; a bad value is refused as
// bad input, naming it. AddTune makes the tune (from --tune); AddSet
// places a --set action; SetCompare and SetRecordings read their pairs.
Status AddTune(RunPlan& p, const FlagValue& /*value*/);
Status SetUpAxis(RunPlan& p, const FlagValue& value);
Status SetTextures(RunPlan& p, const FlagValue& value);
Status SetSize(RunPlan& p, const FlagValue& value);
Status SetViewport(RunPlan& p, const FlagValue& value);
Status AddSet(RunPlan& p, const FlagValue& value);
Status SetCompare(RunPlan& p, const FlagValue& value);
Status SetRecordings(RunPlan& p, const FlagValue& value);
// "A,B,C": the captions in order; none empty, none twice.
Status SetTuneSettings(RunPlan& p, const FlagValue& value);
Status SetClock(RunPlan& p, const FlagValue& value);

}  // namespace khost::flag_stores

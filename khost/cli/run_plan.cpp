#include "khost/cli/run_plan.h"

#include <climits>

#include "khost/setup/module_loader.h"

namespace khost {

RunPlan PlanRun(const Options& options) {
  RunPlan plan;
  plan.ConfigDir = options.ConfigDir;
  plan.ScenePath = options.ScenePath;
  if (options.UpAxis) plan.SceneUp = ParseUpAxis(*options.UpAxis);
  plan.ModulePath =
      options.ModulePath ? *options.ModulePath : ExecutableFolder() + "/libtoolprofiling.so";
  plan.ToolWidth = options.Width;
  plan.ToolHeight = options.Height;
  if (options.ViewportWidth) plan.ViewportWidth = *options.ViewportWidth;
  plan.ViewportHeight = options.ViewportHeight;
  plan.UiRate = options.UiRate;
  plan.Headless = options.Headless;
  if (options.Frames) plan.Frames = *options.Frames;
  plan.Actions = options.Actions;
  plan.PrintSettings = options.PrintSettings;
  plan.Outputs.Screenshot = options.Screenshot;
  plan.Outputs.WindowScreenshot = options.WindowScreenshot;
  plan.Outputs.Stats = options.StatsFile;
  MeasuredRequest& measured = plan.Outputs.Measured;
  if (options.Comparison) {
    CompareSpec spec;
    spec.Caption = options.Comparison->Caption;
    spec.ValueA = options.Comparison->ValueA;
    spec.ValueB = options.Comparison->ValueB;
    spec.Block = options.CompareBlock ? *options.CompareBlock : kDefaultBlock;
    spec.Depth = options.CompareDepth ? *options.CompareDepth : 0;
    spec.Clock = options.Clock.value_or(spec.Clock);
    measured.Compare = spec;
    measured.CompareCsv = options.CompareCsv;
  }
  if (options.Tune) {
    TuneRequest tune;
    if (options.TuneSettings) tune.Settings = *options.TuneSettings;
    if (options.TuneTarget) tune.Target = *options.TuneTarget;
    tune.Block = options.TuneBlock.value_or(kDefaultBlock);
    if (options.Frames) tune.Frames = *options.Frames;
    tune.Write = options.TuneWrite;
    tune.Apply = options.TuneApply;
    tune.Clock = options.Clock.value_or(tune.Clock);
    plan.Tune = tune;
    measured.TuneCsv = options.TuneCsv;
  }
  measured.Record = options.RecordFile;
  measured.Trace = options.TraceFile;
  return plan;
}

long long RunPlan::FramesToRun(bool live) const {
  long long frames = Frames                     ? *Frames
                     : Outputs.Measured.Compare ? kDefaultCompareFrames
                     : live                     ? LLONG_MAX
                                                : kHeadlessFrames;
  if (!Actions.empty() && frames < 2) frames = 2;
  return frames;
}

}  // namespace khost

namespace khost {

std::string RunPlan::DisplayedItem() const {
  std::string item = "DisplayAll";
  for (const UiAction& action : Actions) {
    if (action.ActionKind == UiAction::kSelect) item = action.Caption;
  }
  return item;
}

}  // namespace khost

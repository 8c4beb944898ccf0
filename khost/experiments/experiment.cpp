#include "khost/experiments/experiment.h"

#include "khost/experiments/comparison_run.h"
#include "khost/experiments/tune_run.h"

namespace khost {

Result<std::unique_ptr<Experiment>> MakeExperiment(const RunPlan& plan, long long plannedFrames,
                                                   UiDriver& driver, int characters) {
  const MeasureClock clock = plan.Outputs.Measured.Clock;
  if (const std::optional<CompareRequest>& compare = plan.Outputs.Measured.Compare) {
    Result<std::unique_ptr<ComparisonRun>> made =
        ComparisonRun::Prepare(*compare, plan.Outputs.Measured.Table, clock, plannedFrames, driver);
    if (!made) return made.GetError();
    return std::unique_ptr<Experiment>(std::move(*made));
  }
  if (plan.Tune) {
    Result<std::unique_ptr<TuneRun>> made =
        TuneRun::Prepare(*plan.Tune, plan.Frames, clock, driver, characters);
    if (!made) return made.GetError();
    return std::unique_ptr<Experiment>(std::move(*made));
  }
  return std::unique_ptr<Experiment>();
}

}  // namespace khost

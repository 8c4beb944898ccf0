#include "khost/cli/run_plan.h"

#include <climits>

#include "khost/setup/module_loader.h"

namespace khost {

std::string RunPlan::ModuleFile() const {
  return ModulePath ? *ModulePath : ExecutableFolder() + "/" + kModuleFileName;
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

#include "khost/cli/run_plan.h"

#include <climits>

#include "khost/base/executable_folder.h"

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

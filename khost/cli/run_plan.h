// What a run is asked to do: the command line's options as the parts of
// the application take them. PlanRun is the one place that reads Options.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "khost/cli/cli.h"
#include "khost/cli/run_requests.h"
#include "khost/scene/up_axis.h"

namespace khost {

constexpr int kDefaultViewportWidth = 640;
constexpr int kHeadlessFrames = 120;

struct RunPlan {
  std::optional<std::string> ConfigDir;
  std::string ModulePath;
  // The scene file, or "builtin"; unset: the configured scene.
  std::optional<std::string> ScenePath;
  std::optional<UpAxis> SceneUp;  // --up; unset: as the file says
  std::optional<int> ToolWidth;   // --size: both or neither
  std::optional<int> ToolHeight;
  int ViewportWidth = kDefaultViewportWidth;
  std::optional<int> ViewportHeight;  // unset: as tall as the tool
  int UiRate = kDefaultUiRate;
  bool Headless = false;
  std::optional<long long> Frames;
  std::vector<UiAction> Actions;
  bool PrintSettings = false;
  OutputRequest Outputs;            // DefaultScreenshot is set once the surface is known
  std::optional<TuneRequest> Tune;  // its frames are the run's (see TuneRun::Frames)

  // How many frames the run draws: as asked, else a comparison's default,
  // else until the window closes live or kHeadlessFrames headless; at least
  // two when actions run (they run after the first frame).
  long long FramesToRun(bool live) const;
  // The display selector's item the chart shows after the actions: the
  // last --select's, else "DisplayAll".
  std::string DisplayedItem() const;
};

// The plan for `options`; the module's default path is beside the
// executable.
RunPlan PlanRun(const Options& options);

}  // namespace khost

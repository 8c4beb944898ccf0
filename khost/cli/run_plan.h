// What a run is asked to do: the command line's flags as the parts of the
// application take them. The parser fills it, each flag's row in the flag
// table (cli_flags.cpp) writing its fields; a field's default is written
// here, or in run_requests.h for the requests' own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "khost/cli/run_requests.h"
#include "khost/import/up_axis.h"

namespace khost {

constexpr int kDefaultViewportWidth = 640;
constexpr int kHeadlessFrames = 120;
// The module loaded without --module, found beside the executable: its
// file name as the build names it.
inline constexpr const char* kModuleFileName = KHOST_MODULE_FILE_NAME;
constexpr bool kDefaultTextures = true;

struct RunPlan {
  bool Help = false;
  std::optional<std::string> ConfigDir;
  // The module; unset: ModuleFile()'s default.
  std::optional<std::string> ModulePath;
  // The scene file, or kBuiltinScene (scene_source.h); unset: the configured
  // scene.
  std::optional<std::string> ScenePath;
  std::optional<UpAxis> SceneUp;  // --up; unset: as the file says
  // --textures: the model's images are read and drawn; off, its meshes are
  // drawn in their base colours.
  bool Textures = kDefaultTextures;
  std::optional<int> ToolWidth;  // --size: both or neither
  std::optional<int> ToolHeight;
  // --viewport: the 3D viewport's size; 0x0 runs without one. Unset:
  // kDefaultViewportWidth wide and as tall as the tool.
  std::optional<int> ViewportWidth;
  std::optional<int> ViewportHeight;
  // --ui-rate: tool repaints per second of scene time; 0 every frame.
  int UiRate = kDefaultUiRate;
  bool Headless = false;
  std::optional<long long> Frames;  // at least 1; with a tune, its budget
  std::vector<UiAction> Actions;
  // --at: the frame after which the actions given next run.
  long long ActionFrame = 0;
  bool PrintSettings = false;
  OutputRequest Outputs;            // DefaultScreenshot is set once the surface is known
  std::optional<TuneRequest> Tune;  // its frames are the run's (see TuneRun::Frames)

  // The module to load: as asked, else kModuleFileName beside the
  // executable.
  std::string ModuleFile() const;
  // How many frames the run draws: as asked, else a comparison's default,
  // else until the window closes live or kHeadlessFrames headless; at least
  // two when actions run (they run after the first frame; RunScript refuses
  // an action after a later frame that the run does not follow with one).
  long long FramesToRun(bool live) const;
};

}  // namespace khost

// khost's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "khost/app/status.h"
#include "khost/cli/cli_values.h"
#include "khost/cli/run_requests.h"

namespace khost {

struct Options {
  bool Help = false;
  std::optional<std::string> ModulePath;
  std::optional<std::string> ConfigDir;
  // --scene: a scene file, or "builtin" for the procedural characters.
  std::optional<std::string> ScenePath;
  std::optional<std::string> UpAxis;  // --up: "y" or "z"
  bool Headless = false;
  std::optional<int> Width;  // --size; both set or neither
  std::optional<int> Height;
  std::optional<int> Frames;  // at least 1
  std::optional<std::string> Screenshot;
  std::vector<UiAction> Actions;
  bool PrintSettings = false;
  std::optional<std::string> StatsFile;
  // --viewport: the 3D viewport's size; 0x0 runs without one. Unset: 640
  // wide and as tall as the tool.
  std::optional<int> ViewportWidth;
  std::optional<int> ViewportHeight;
  // --ui-rate: tool repaints per second of scene time; 0 every frame.
  int UiRate = kDefaultUiRate;
  std::optional<std::string> WindowScreenshot;
  std::optional<std::string> RecordFile;
  std::optional<std::string> TraceFile;
  // --compare "CAPTION=A,B" and its companions (which need it).
  struct Compare {
    std::string Caption;
    std::string ValueA;
    std::string ValueB;
  };
  std::optional<Compare> Comparison;
  std::optional<int> CompareBlock;
  std::optional<int> CompareDepth;
  std::optional<std::string> CompareCsv;
  // --tune and its companions (which need it). TuneSettings holds the
  // captions in the order given, each once.
  bool Tune = false;
  std::optional<std::vector<std::string>> TuneSettings;
  std::optional<std::string> TuneTarget;
  std::optional<int> TuneBlock;
  std::optional<std::string> TuneCsv;
  bool TuneWrite = false;
  bool TuneApply = false;
  // --clock: what --compare or --tune compares (with one of them).
  std::optional<MeasureClock> Clock;
};

// Parses argv[1..argc-1] by the flag table (cli_flags.h). --select, --click
// and --set accumulate in order; every other flag that takes a value may be
// given once. A refusal is an Error with ExitStatus::kBadInput whose
// message names the offending input.
Result<Options> ParseCommandLine(int argc, const char* const* argv);

// The --help text, made from the flag table.
std::string UsageText(const char* programName);

}  // namespace khost

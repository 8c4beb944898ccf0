#include "khost/cli/cli_flags.h"

#include <climits>

#include "khost/cli/cli.h"
#include "khost/cli/flag_stores.h"
#include "khost/cli/run_plan.h"
#include "ksurface.h"

namespace khost {

namespace {

using namespace flag_stores;

using K = ValueKind;

// What the comparison's table flags may be given with instead of --compare.
constexpr std::string_view kOrRecordings[] = {"--compare-recordings"};
constexpr std::string_view kOrTuneOrRecordings[] = {"--tune", "--compare-recordings"};
constexpr std::string_view kOrExperiments[] = {"--compare", "--tune", "--compare-recordings"};

constexpr Flag kFlags[] = {
    {.Name = "--module",
     .Kind = K::kPath,
     .Value = "PATH",
     .Noun = "path",
     .Example = "/x/m.so",
     .Help = "the module to load (default: {module} beside this executable)",
     .Store = SetText<&RunPlan::ModulePath>},
    {.Name = "--config-dir",
     .Kind = K::kPath,
     .Value = "DIR",
     .Noun = "folder name",
     .Example = "cfg",
     .Help = "folder of {application} and {task} (default: the {config-variable} variable, "
             "else {config-folder}/ beside the executable, else the shipped {config-folder}/ "
             "folder)",
     .Store = SetText<&RunPlan::ConfigDir>},
    {.Name = "--scene",
     .Kind = K::kPath,
     .Value = "FILE",
     .Noun = "file name",
     .Example = "model.gltf",
     .Help = "the scene: any file the asset import library reads (glTF, FBX, COLLADA, .X, "
             "BVH, ...), drawn as a crowd of its animated model; '{builtin}': the procedural "
             "characters (default: the {scene-key})",
     .Store = SetText<&RunPlan::ScenePath>},
    {.Name = "--up",
     .Kind = K::kText,
     .Value = "y|z",
     .Noun = "up axis",
     .Example = "z",
     .Help = "the scene file's up axis, whatever the file says (default: the axis the file "
             "states, else its format's: Z for Blender, STL, 3MF, AMF and a few more, Y for "
             "the rest); the model is turned to stand on the ground",
     .Store = SetUpAxis},
    {.Name = "--textures",
     .Kind = K::kText,
     .Value = "off|on",
     .Noun = "texture switch",
     .Example = "off",
     .Help = "read and draw the model's images, its materials' base-colour textures: on or "
             "off; off draws its meshes in their base colours, to measure what the images "
             "cost (default {textures})",
     .Store = SetTextures},
    {.Name = "--headless",
     .Repeats = true,
     .Help = "draw off screen (the default without a display)",
     .Store = SetTrue<&RunPlan::Headless>},
    {.Name = "--size",
     .Kind = K::kSize,
     .Value = "WxH",
     .Noun = "size",
     .Min = 1,
     .Max = kSurfaceMaxSide,
     .Example = "640x480",
     .Help = "the tool window's size in pixels, digits only (default: its start size); each "
             "side {min} to {max}, at most {largest-square} pixels in all, and not below its "
             "minimum, which khost names when refusing a smaller one",
     .Store = SetSize},
    {.Name = "--viewport",
     .Kind = K::kSize,
     .Value = "WxH",
     .Noun = "size",
     .Min = 1,
     .Max = kSurfaceMaxSide,
     .RangeNote = "0x0 for none",
     .Off = "0x0",
     .Example = "320x200",
     .Help = "the 3D viewport's size, left of the tool (default: {viewport-width} wide, the "
             "tool's height; 0x0: no viewport)",
     .Store = SetViewport},
    {.Name = "--ui-rate",
     .Kind = K::kNumber,
     .Value = "HZ",
     .Noun = "rate",
     .Min = 0,
     .Max = 1000,
     .RangeNote = "0: every frame",
     .Example = "10",
     .Help = "tool repaints per second of scene time (default {ui-rate}; 0: every frame); "
             "input and the last frame repaint it at once. Scene time is the wall clock live "
             "and 1/{fixed-rate} s per frame headless",
     .Store = SetNumber<&RunPlan::UiRate>},
    {.Name = "--frames",
     .Kind = K::kNumber,
     .Value = "N",
     .Noun = "frame count",
     .Min = 1,
     .Max = INT_MAX,
     .Example = "7",
     .Help = "frames to run, digits only (headless default {headless-frames}; live: until the "
             "window closes; with --tune, the search's budget)",
     .Store = SetNumber<&RunPlan::Frames>},
    {.Name = "--screenshot",
     .Kind = K::kFileOutput,
     .Value = "FILE",
     .Noun = "file name",
     .Example = "out.png",
     .Help = "write the tool window's client area after the last frame as PNG (headless "
             "default: ./{screenshot})",
     .Store = SetText<&OutputRequest::Screenshot, Outputs>},
    {.Name = "--window-screenshot",
     .Kind = K::kFileOutput,
     .Value = "FILE",
     .Noun = "file name",
     .Example = "w.png",
     .Help = "write the whole window (viewport and tool) after the last frame as PNG",
     .Store = SetText<&OutputRequest::WindowScreenshot, Outputs>},
    {.Name = "--select",
     .Kind = K::kText,
     .Value = "ITEM",
     .Noun = "item",
     .Repeats = true,
     .Example = "Rendering",
     .Help = "pick ITEM in the display selector",
     .Store = AddAction<UiAction::kSelect>},
    {.Name = "--click",
     .Kind = K::kText,
     .Value = "CAPTION",
     .Noun = "caption",
     .Repeats = true,
     .Example = "Reset To Default",
     .Help = "click the control with that caption",
     .Store = AddAction<UiAction::kClick>},
    {.Name = "--set",
     .Kind = K::kText,
     .Value = "CAPTION=VALUE",
     .Noun = "CAPTION=VALUE",
     .Repeats = true,
     .Example = "Buffer Size=40",
     .Help = "edit the property editor with that caption: 0 or 1 for a check box, an integer "
             "for a number field, the item's text for a drop-down\n(--select, --click and --set "
             "go through the window's input, may repeat, and run in order after the first "
             "frame; at least one frame follows them)",
     .Store = AddSet},
    {.Name = "--at",
     .Kind = K::kNumber,
     .Value = "FRAME",
     .Noun = "frame number",
     .Min = 0,
     .Max = INT_MAX,
     .Repeats = true,
     .Example = "40",
     .Help = "run the --select, --click and --set given after it after frame FRAME instead of "
             "after the first frame (0); a later --at moves the ones after it",
     .Store = SetNumber<&RunPlan::ActionFrame>},
    {.Name = "--print-settings",
     .Repeats = true,
     .Help = "on exit, print the ten settings as name=value lines",
     .Store = SetTrue<&RunPlan::PrintSettings>},
    {.Name = "--stats",
     .Kind = K::kTextOutput,
     .Value = "FILE",
     .Noun = "file name",
     .Example = "s.csv",
     .Help = "on exit, write the chart's task cycles as CSV: name, depth, average, minimum, "
             "maximum, average CPU time (microseconds; no CPU time for a character's "
             "cycles), then over the whole run the frames each ran in and its median, p95, "
             "p99 and p99.9",
     .Store = SetText<&OutputRequest::Stats, Outputs>},
    {.Name = "--record",
     .Kind = K::kTextOutput,
     .Value = "FILE",
     .Noun = "file name",
     .Example = "r.csv",
     .Help = "write every frame's measured durations as CSV while running (flushed at the "
             "end of a frame once {flush-ms} ms have passed since the last flush): frame, "
             "time_ms, cycle (its path, such as Evaluation/Character 1/Skeleton), depth, "
             "duration_us, cpu_us (empty for a character's cycles, measured on the steady clock "
             "only); one line per cycle that ran, in the chart's order",
     .Store = SetText<&MeasuredRequest::Record, Measured>},
    {.Name = "--trace",
     .Kind = K::kTextOutput,
     .Value = "FILE",
     .Noun = "file name",
     .Example = "t.json",
     .Help = "write the frames as a trace (JSON trace event format, for trace viewers): one "
             "event per cycle per frame over the time it ran, on the track of the thread that "
             "ran it, nested; Frame and Present, which interleave, as two pieces each",
     .Store = SetText<&MeasuredRequest::Trace, Measured>},
    {.Name = "--report",
     .Kind = K::kTextOutput,
     .Value = "FILE",
     .Noun = "file name",
     .Needs = "--record",
     .NeedsOr = kOrExperiments,
     .Example = "r.html",
     .Help = "at the end, write a report as one HTML page that opens without a network: the "
             "frame period over the run (a comparison's A and B blocks, a tune's "
             "configurations or the two recordings shaded), a histogram of the frame periods "
             "with the median, p95, p99 and p99.9 marked, and the ratios of --compare, --tune "
             "or --compare-recordings with their 95% intervals as a forest plot; with "
             "--record, --compare, --tune or --compare-recordings",
     .Store = SetText<&MeasuredRequest::Report, Measured>},
    {.Name = "--compare",
     .Kind = K::kText,
     .Value = "CAPTION=A,B",
     .Noun = "CAPTION=A,B",
     .Example = "Parallel Evaluation=Serial,Parallel",
     .Help = "measure what a setting changes: alternate blocks of frames with the editor "
             "CAPTION at A and at B (values as for --set, switched through the window's input) "
             "and print, per top-level cycle, the median of A and of B, the ratio B/A with a "
             "95% interval (bootstrap over blocks) and a verdict: faster, slower or no clear "
             "difference; --frames defaults to {compare-frames}",
     .Store = SetCompare},
    {.Name = "--compare-block",
     .Kind = K::kNumber,
     .Value = "K",
     .Noun = "block length",
     .Min = kMinimumBlock,
     .Max = 1000000,
     .RangeNote = "{settle-frames} settling frames, one counted, one carrying the switch",
     .Needs = "--compare",
     .Example = "12",
     .Help = "frames per block (default {block}, at least {minimum-block}); the first "
             "{settle-frames} frames after a switch, the frame that carries a switch and the "
             "run's last frame are not counted",
     .Store = SetNumber<&CompareRequest::Block, Comparison>},
    {.Name = "--compare-depth",
     .Kind = K::kNumber,
     .Value = "D",
     .Noun = "depth",
     .Min = 0,
     .Max = 2,
     .Needs = "--compare",
     .NeedsOr = kOrRecordings,
     .Example = "1",
     .Help = "also list child cycles down to depth D ({min} to {max}, default {depth})",
     .Store = SetNumber<&CompareTableRequest::Depth, Table>},
    {.Name = "--fail-if-slower",
     .Kind = K::kNumber,
     .Value = "PCT",
     .Noun = "percentage",
     .Min = 0,
     .Max = kMaxSlowerPercent,
     .Needs = "--compare",
     .NeedsOr = kOrRecordings,
     .Example = "10",
     .Help = "exit with status 3, naming each cycle, when a cycle's 95% interval lies wholly "
             "above 1 + PCT/100 ({min} to {max}; default: off)",
     .Store = SetNumber<&CompareTableRequest::FailIfSlower, Table>},
    {.Name = "--compare-recordings",
     .Kind = K::kPathPair,
     .Value = "BEFORE.csv AFTER.csv",
     .Noun = "file name",
     .Alone = true,
     .Example = "r.csv",
     .Help = "run no scene: read two files of --record and print, per top-level cycle, the "
             "median and p99 of each, the ratios AFTER/BEFORE with 95% intervals (bootstrap "
             "over blocks of about sqrt(n) consecutive frames) and a verdict on the medians; "
             "only {with-recordings} may be given with it",
     .Store = SetRecordings},
    {.Name = "--compare-csv",
     .Kind = K::kTextOutput,
     .Value = "FILE",
     .Noun = "file name",
     .Needs = "--compare",
     .NeedsOr = kOrRecordings,
     .Example = "c.csv",
     .Help = "also write the table as CSV: cycle, depth, median_a_us, median_b_us, ratio, "
             "ci_low, ci_high, verdict (--compare-recordings: median_before_us, "
             "median_after_us, ratio, ci_low, ci_high, then p99_before_us, p99_after_us, "
             "p99_ratio, p99_ci_low, p99_ci_high, frames_before, frames_after, verdict)",
     .Store = SetText<&MeasuredRequest::CompareCsv, Measured>},
    {.Name = "--tune",
     .Repeats = true,
     .Help = "search the engine settings for the combination with the lowest median of one "
             "cycle: blocks of frames, each with one combination set through the window's "
             "input, then a check of the best in fresh blocks; prints the best, its ratio to "
             "the starting settings with a 95% interval, each setting's effect and every "
             "combination measured. Starts from the current settings and restores them at "
             "the end. --frames is the budget (default: {race-blocks} blocks for each "
             "combination and {check-blocks} for each checked one, {tune-budget} frames for the "
             "{tuned-count} default settings); not with --compare",
     .Store = AddTune},
    {.Name = "--tune-settings",
     .Kind = K::kText,
     .Value = "CAPTION,...",
     .Noun = "caption list",
     .Needs = "--tune",
     .Example = "Frustum Culling,GPU Skinning",
     .Help = "the settings to search, by their editors' captions (default: "
             "{tuned-settings}; {node-count} is never searched)",
     .Store = SetTuneSettings},
    {.Name = "--tune-target",
     .Kind = K::kText,
     .Value = "CYCLE",
     .Noun = "cycle",
     .Needs = "--tune",
     .Example = "Deformation",
     .Help = "the cycle whose median is made smallest, by its path as --record names it "
             "(default {tune-target}, the frame period)",
     .Store = SetText<&TuneRequest::Target, Tuning>},
    {.Name = "--tune-block",
     .Kind = K::kNumber,
     .Value = "K",
     .Noun = "block length",
     .Min = kMinimumBlock,
     .Max = 1000000,
     .RangeNote = "{settle-frames} settling frames, one counted, one carrying the switch",
     .Needs = "--tune",
     .Example = "10",
     .Help = "frames per block (default {block}, at least {minimum-block}); frames are left "
             "out as for --compare-block",
     .Store = SetNumber<&TuneRequest::Block, Tuning>},
    {.Name = "--tune-csv",
     .Kind = K::kTextOutput,
     .Value = "FILE",
     .Noun = "file name",
     .Needs = "--tune",
     .Example = "tune.csv",
     .Help = "also write the answer as CSV: kind, configuration, setting, value, blocks, "
             "frames, median_us, ratio, ci_low, ci_high, note",
     .Store = SetText<&MeasuredRequest::TuneCsv, Measured>},
    {.Name = "--tune-write",
     .Repeats = true,
     .Needs = "--tune",
     .Help = "when the best is measurably faster, write it into {application} and {task} "
             "of the configuration folder (only the searched keys change) and print the "
             "changed lines",
     .Store = SetTrue<&TuneRequest::Write, Tuning>},
    {.Name = "--tune-apply",
     .Repeats = true,
     .Needs = "--tune",
     .Help = "leave the recommended settings set at the end instead of restoring the "
             "starting ones",
     .Store = SetTrue<&TuneRequest::Apply, Tuning>},
    {.Name = "--clock",
     .Kind = K::kText,
     .Value = "wall|cpu",
     .Noun = "clock",
     .Needs = "--compare",
     .NeedsOr = kOrTuneOrRecordings,
     .Example = "cpu",
     .Help = "what --compare, --tune or --compare-recordings compares (default {clock}): wall, "
             "each cycle's steady-clock time and the frame period; cpu, each cycle's CPU time "
             "on its thread and the process's CPU time (every thread) per frame, which other "
             "processes' load barely moves (a recording's cpu_us)",
     .Store = SetClock},
    {.Name = "--help",
     .Alias = "-h",
     .Repeats = true,
     .Help = "show this text",
     .Store = SetTrue<&RunPlan::Help>},
};

}  // namespace

std::span<const Flag> Flags() {
  return kFlags;
}

const Flag* FindFlag(std::string_view spelling) {
  if (spelling.empty()) return nullptr;
  for (const Flag& flag : kFlags) {
    if (spelling == flag.Name || spelling == flag.Alias) return &flag;
  }
  return nullptr;
}

Status CheckFlagsTogether(const RunPlan& p) {
  const std::optional<CompareRequest>& compare = p.Outputs.Measured.Compare;
  if (p.Tune && compare) {
    return BadInput("--tune and --compare cannot be given together; run one at a time");
  }
  if (compare && p.Frames) {
    const int block = compare->Block;
    const long long needed = MinimumCompareFrames(block);
    if (*p.Frames < needed) {
      return BadInput("--frames: " + std::to_string(*p.Frames) +
                      " frames are too few to compare in " + std::to_string(block) +
                      "-frame blocks (at least " + std::to_string(needed) +
                      ": two blocks of each value after the first frame)");
    }
  }
  return {};
}

}  // namespace khost

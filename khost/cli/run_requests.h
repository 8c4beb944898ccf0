// What a run is asked for, part by part: the scripted actions, the outputs,
// the comparison and the tuning search. Plain values with their defaults,
// each default written here once; the classes that carry them out include
// this header, not the other way round.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace khost {

// A scripted user action, run through the toolkit's input after frame
// AfterFrame (0: the first frame), in command-line order.
struct UiAction {
  enum Kind { kSelect, kClick, kSet };
  Kind ActionKind = kClick;
  std::string Caption;  // kSelect: the item; kClick, kSet: the control's caption
  std::string Value;    // kSet only
  long long AfterFrame = 0;
};

// The clock a comparison or a tuning search compares: the steady clock
// (what a frame takes, waits and other processes' time included) or the
// CPU clock (the work done: the running thread's CPU time for a cycle, the
// whole process's for the frame period).
enum class MeasureClock { kWall, kCpu };
// "wall" or "cpu", as --clock takes it.
inline const char* ClockName(MeasureClock clock) {
  return clock == MeasureClock::kCpu ? "cpu" : "wall";
}
// As a table says it.
inline const char* ClockText(MeasureClock clock) {
  return clock == MeasureClock::kCpu ? "CPU time" : "wall-clock time";
}
// Reads --clock's value; false for anything but "wall" and "cpu".
inline bool ReadClock(std::string_view text, MeasureClock& clock) {
  if (text != "wall" && text != "cpu") return false;
  clock = text == "cpu" ? MeasureClock::kCpu : MeasureClock::kWall;
  return true;
}

inline constexpr MeasureClock kDefaultClock = MeasureClock::kWall;

inline constexpr int kDefaultUiRate = 30;  // tool repaints per second of scene time
inline constexpr int kDefaultBlock = 30;   // frames per block, --compare and --tune
// The first frames of a block, which are not counted: a changed setting
// takes a few frames to settle (caches, a rebuilt scene, the pool).
inline constexpr int kSettleFrames = 5;
// The settling frames, one counted, one carrying the next switch.
inline constexpr int kMinimumBlock = kSettleFrames + 2;
inline constexpr int kDefaultCompareDepth = 0;  // top-level cycles only
// --fail-if-slower not given: no ratio fails the run.
inline constexpr int kNoSlowerGate = -1;
inline constexpr int kMaxSlowerPercent = 1000000;
// The frames a comparison in blocks of `block` needs: frame 0, then two
// blocks of each value.
constexpr long long MinimumCompareFrames(int block) {
  return 1 + 4 * static_cast<long long>(block);
}
// A comparison's length without --frames: frame 0, then ten whole blocks
// of each value.
inline constexpr int kDefaultCompareFrames = 1 + 20 * kDefaultBlock;
// The cycle a tune makes fastest by default: the frame period.
inline constexpr const char* kDefaultTuneTarget = "Devices";
// The engine settings a tune searches, by their editors' captions, and the
// order it takes them in when --tune-settings is not given. Each takes two
// values.
inline constexpr std::string_view kFrustumCullingCaption = "Frustum Culling";
inline constexpr std::string_view kParallelPipelineCaption = "Parallel Pipeline";
inline constexpr std::string_view kParallelEvaluationCaption = "Parallel Evaluation";
inline constexpr std::string_view kParallelDeformationCaption = "Parallel Deformation";
inline constexpr std::string_view kGpuSkinningCaption = "GPU Skinning";
inline constexpr std::string_view kTunedSettings[] = {
    kFrustumCullingCaption, kParallelPipelineCaption, kParallelEvaluationCaption,
    kParallelDeformationCaption, kGpuSkinningCaption};
// The tool's one setting that a tune never searches: it changes the scene,
// not how the engine runs it.
inline constexpr std::string_view kNodeCountCaption = "Node Count";
// A tune's budget when --frames is not given, frame 0 aside: kTuneRaceBlocks
// blocks for each configuration the race runs and kTuneCheckBlocks for each
// one the check runs (tune_search.h says which those are).
inline constexpr int kTuneRaceBlocks = 5;
inline constexpr int kTuneCheckBlocks = 10;
constexpr long long DefaultTuneFrames(long long raced, long long checked, int block) {
  return 1 + static_cast<long long>(block) * (kTuneRaceBlocks * raced + kTuneCheckBlocks * checked);
}

// How long the recording and the trace keep lines back while the run goes:
// they are flushed at the end of a frame once this has passed since the
// last flush.
inline constexpr std::chrono::milliseconds kFrameOutputFlush{500};

struct CompareRequest {
  std::string Caption;
  std::string ValueA;
  std::string ValueB;
  int Block = kDefaultBlock;  // frames per block
};

// --compare-recordings BEFORE AFTER: two recordings (--record's files)
// compared cycle by cycle; no scene runs.
struct RecordingsRequest {
  std::string Before;
  std::string After;
};

// How a comparison's table is made and judged, whichever comparison makes
// it (--compare or --compare-recordings).
struct CompareTableRequest {
  int Depth = kDefaultCompareDepth;  // the deepest cycles in the table (0: top level only)
  // --fail-if-slower PCT: the run fails (exit status 3) when a cycle's
  // interval lies wholly above 1 + PCT / 100.
  int FailIfSlower = kNoSlowerGate;
};

struct TuneRequest {
  std::vector<std::string> Settings;  // captions; empty: kTunedSettings
  std::string Target = kDefaultTuneTarget;
  int Block = kDefaultBlock;
  bool Write = false;  // --tune-write
  bool Apply = false;  // --tune-apply
};

// The measured outputs a run asks for.
struct MeasuredRequest {
  std::optional<CompareRequest> Compare;
  std::optional<RecordingsRequest> CompareRecordings;
  CompareTableRequest Table;              // with Compare or CompareRecordings
  std::optional<std::string> CompareCsv;  // with Compare or CompareRecordings only
  std::optional<std::string> Record;
  std::optional<std::string> Trace;
  std::optional<std::string> TuneCsv;  // with a tune only
  // The HTML report of the measured frames (with Record, Compare, a tune or
  // CompareRecordings).
  std::optional<std::string> Report;
  // What Compare, CompareRecordings or a tune compares (--clock, given
  // with one of them).
  MeasureClock Clock = kDefaultClock;
};

inline constexpr const char* kDefaultScreenshot = "profiling-center.png";

// The outputs a run asks for.
struct OutputRequest {
  // The tool's picture: at this path, or (headless without one) at
  // kDefaultScreenshot, with a line on standard output saying where.
  std::optional<std::string> Screenshot;
  bool DefaultScreenshot = false;
  std::optional<std::string> WindowScreenshot;
  std::optional<std::string> Stats;
  MeasuredRequest Measured;
};

}  // namespace khost

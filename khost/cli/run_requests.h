// What a run is asked for, part by part: the scripted actions, the outputs,
// the comparison and the tuning search. Plain values with their defaults,
// each default written here once; the classes that carry them out include
// this header, not the other way round.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace khost {

// A scripted user action, run through the toolkit's input after the first
// frame, in command-line order.
struct UiAction {
  enum Kind { kSelect, kClick, kSet };
  Kind ActionKind = kClick;
  std::string Caption;  // kSelect: the item; kClick, kSet: the control's caption
  std::string Value;    // kSet only
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

inline constexpr int kDefaultUiRate = 30;  // tool repaints per second of scene time
inline constexpr int kDefaultBlock = 30;   // frames per block, --compare and --tune
inline constexpr int kMinimumBlock = 7;    // 5 settling, one counted, one switching
inline constexpr int kDefaultCompareFrames = 600;

struct CompareSpec {
  std::string Caption;
  std::string ValueA;
  std::string ValueB;
  int Block = kDefaultBlock;  // frames per block
  int Depth = 0;              // the deepest cycles in the table (0: top level only)
};

struct TuneRequest {
  std::vector<std::string> Settings;  // captions; empty: every searchable setting
  std::string Target = "Devices";
  int Block = kDefaultBlock;
  bool Write = false;  // --tune-write
  bool Apply = false;  // --tune-apply
};

// The measured outputs a run asks for.
struct MeasuredRequest {
  std::optional<CompareSpec> Compare;
  std::optional<std::string> CompareCsv;  // with Compare only
  std::optional<std::string> Record;
  std::optional<std::string> Trace;
  std::optional<std::string> TuneCsv;  // with a tune only
  // What Compare or a tune compares (--clock, given with one of them).
  MeasureClock Clock = MeasureClock::kWall;
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

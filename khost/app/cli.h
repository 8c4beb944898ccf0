// khost's command line.
#pragma once

#include <optional>
#include <string>
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

constexpr int kDefaultCompareBlock = 30;
constexpr int kMinimumCompareBlock = 7;
constexpr int kDefaultCompareFrames = 600;

struct Options {
  bool Help = false;
  std::optional<std::string> ModulePath;
  std::optional<std::string> ConfigDir;
  // --scene: a scene file, or "builtin" for the procedural characters.
  std::optional<std::string> ScenePath;
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
  int UiRate = 30;
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
};

struct ParseResult {
  Options Parsed;
  std::string Error;  // empty on success; otherwise names the offending input
  bool Ok() const { return Error.empty(); }
};

// Parses argv[1..argc-1]. A repeated single-valued flag keeps its last
// value; --select, --click and --set accumulate in order.
ParseResult ParseCommandLine(int argc, const char* const* argv);

// Parses "WxH": two counts (see ParseCount) joined by 'x' or 'X'. Says
// nothing of whether the size can be drawn: SizeProblem does.
bool ParseSize(const std::string& text, int& width, int& height);
// Parses a decimal integer within [minimum, maximum], with an optional sign
// and nothing else (no blanks, no trailing text).
bool ParseInt(const std::string& text, int minimum, int maximum, int& value);
// Parses a count or a size: decimal digits only (no sign, no blanks), within
// [minimum, maximum].
bool ParseCount(const std::string& text, int minimum, int maximum, int& value);

// The largest window khost draws and captures: kSurfaceMaxSide pixels a
// side, and at most MaxWindowPixels() pixels in all so that the capture can
// be written as PNG.
long long MaxWindowPixels();
// Empty when a window of width x height can be drawn and captured;
// otherwise why not, naming the limit.
std::string SizeProblem(int width, int height);

// `text` in single quotes for a message, cut to about 200 characters with
// an ellipsis.
std::string QuoteArgument(const std::string& text);

std::string UsageText(const char* programName);

}  // namespace khost

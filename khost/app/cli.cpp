#include "khost/app/cli.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "ksurface.h"

namespace khost {

namespace {

// How much of an argument a message quotes.
constexpr std::size_t kMaxQuoted = 200;

std::string Quote(const std::string& text) {
  return QuoteArgument(text);
}

}  // namespace

std::string QuoteArgument(const std::string& text) {
  if (text.size() <= kMaxQuoted) return "'" + text + "'";
  // Cut at a character boundary, not inside a UTF-8 sequence.
  std::size_t cut = kMaxQuoted;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return "'" + text.substr(0, cut) + "...' (" + std::to_string(text.size()) + " bytes)";
}

long long MaxWindowPixels() {
  return static_cast<long long>(kPngMaxRgbaBytes / 4);
}

std::string SizeProblem(int width, int height) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (width < 1 || height < 1 || width > kSurfaceMaxSide || height > kSurfaceMaxSide) {
    return "size " + size + " is outside 1 to " + std::to_string(kSurfaceMaxSide) +
           " pixels a side";
  }
  if (static_cast<long long>(width) * height > MaxWindowPixels()) {
    return "size " + size + " has more than " + std::to_string(MaxWindowPixels()) +
           " pixels (8192x8192), the most a PNG capture takes";
  }
  return "";
}

bool ParseCount(const std::string& text, int minimum, int maximum, int& value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  return ParseInt(text, minimum, maximum, value);
}

bool ParseInt(const std::string& text, int minimum, int maximum, int& value) {
  if (text.empty()) return false;
  std::size_t i = 0;
  if (text[0] == '+' || text[0] == '-') i = 1;
  if (i == text.size()) return false;
  for (std::size_t k = i; k < text.size(); ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
  }
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno == ERANGE || end == nullptr || *end != '\0') return false;
  if (parsed < minimum || parsed > maximum) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool ParseSize(const std::string& text, int& width, int& height) {
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  int pw = 0;
  int ph = 0;
  if (!ParseCount(text.substr(0, x), 0, INT_MAX, pw) ||
      !ParseCount(text.substr(x + 1), 0, INT_MAX, ph)) {
    return false;
  }
  width = pw;
  height = ph;
  return true;
}

ParseResult ParseCommandLine(int argc, const char* const* argv) {
  ParseResult result;
  Options& o = result.Parsed;
  auto fail = [&result](std::string message) {
    result.Error = std::move(message);
    return result;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i] ? argv[i] : "";
    const bool takesValue =
        flag == "--module" || flag == "--config-dir" || flag == "--size" || flag == "--frames" ||
        flag == "--screenshot" || flag == "--select" || flag == "--click" || flag == "--set" ||
        flag == "--stats" || flag == "--record" || flag == "--trace" || flag == "--compare" ||
        flag == "--compare-block" || flag == "--compare-depth" || flag == "--compare-csv" ||
        flag == "--viewport" || flag == "--ui-rate" || flag == "--window-screenshot" ||
        flag == "--scene";
    std::string value;
    if (takesValue) {
      if (i + 1 >= argc || argv[i + 1] == nullptr) {
        return fail("option " + flag + " needs a value");
      }
      value = argv[++i];
    }
    if (flag == "--help" || flag == "-h") {
      o.Help = true;
    } else if (flag == "--headless") {
      o.Headless = true;
    } else if (flag == "--print-settings") {
      o.PrintSettings = true;
    } else if (flag == "--module") {
      if (value.empty()) return fail("--module: empty path");
      o.ModulePath = value;
    } else if (flag == "--scene") {
      if (value.empty()) return fail("--scene: empty file name");
      o.ScenePath = value;
    } else if (flag == "--config-dir") {
      if (value.empty()) return fail("--config-dir: empty folder name");
      o.ConfigDir = value;
    } else if (flag == "--size") {
      int w = 0;
      int h = 0;
      if (!ParseSize(value, w, h)) {
        return fail("--size: malformed size " + Quote(value) + " (expected WxH in digits)");
      }
      if (const std::string problem = SizeProblem(w, h); !problem.empty()) {
        return fail("--size: " + problem);
      }
      o.Width = w;
      o.Height = h;
    } else if (flag == "--frames") {
      int n = 0;
      if (!ParseCount(value, 1, INT_MAX, n)) {
        return fail("--frames: frame count " + Quote(value) +
                    " is not a whole number from 1 to 2147483647 in digits");
      }
      o.Frames = n;
    } else if (flag == "--screenshot") {
      if (value.empty()) return fail("--screenshot: empty file name");
      o.Screenshot = value;
    } else if (flag == "--window-screenshot") {
      if (value.empty()) return fail("--window-screenshot: empty file name");
      o.WindowScreenshot = value;
    } else if (flag == "--viewport") {
      int w = 0;
      int h = 0;
      if (value == "0x0" || value == "0X0") {
        o.ViewportWidth = 0;
        o.ViewportHeight = 0;
      } else if (ParseSize(value, w, h) && !SizeProblem(w, h).empty()) {
        return fail("--viewport: " + SizeProblem(w, h));
      } else if (ParseSize(value, w, h)) {
        o.ViewportWidth = w;
        o.ViewportHeight = h;
      } else {
        return fail("--viewport: malformed size " + Quote(value) +
                    " (expected WxH, 1 to 16384 each, or 0x0 for none)");
      }
    } else if (flag == "--ui-rate") {
      int hz = 0;
      if (!ParseInt(value, 0, 1000, hz)) {
        return fail("--ui-rate: malformed rate " + Quote(value) +
                    " (expected repaints per second, 0 to 1000; 0 every frame)");
      }
      o.UiRate = hz;
    } else if (flag == "--stats") {
      if (value.empty()) return fail("--stats: empty file name");
      o.StatsFile = value;
    } else if (flag == "--record" || flag == "--trace" || flag == "--compare-csv") {
      if (value.empty()) return fail(flag + ": empty file name");
      (flag == "--record" ? o.RecordFile : flag == "--trace" ? o.TraceFile : o.CompareCsv) = value;
    } else if (flag == "--compare") {
      const std::size_t eq = value.find('=');
      const std::size_t comma = eq == std::string::npos ? eq : value.find(',', eq + 1);
      if (eq == std::string::npos || comma == std::string::npos) {
        return fail("--compare: malformed " + Quote(value) + " (expected CAPTION=A,B)");
      }
      Options::Compare compare{value.substr(0, eq), value.substr(eq + 1, comma - eq - 1),
                               value.substr(comma + 1)};
      if (compare.Caption.empty()) return fail("--compare: empty caption in " + Quote(value));
      if (compare.ValueA.empty() || compare.ValueB.empty()) {
        return fail("--compare: empty value in " + Quote(value));
      }
      o.Comparison = compare;
    } else if (flag == "--compare-block") {
      int n = 0;
      if (!ParseInt(value, kMinimumCompareBlock, 1000000, n)) {
        return fail("--compare-block: malformed block length " + Quote(value) +
                    " (expected an integer from " + std::to_string(kMinimumCompareBlock) +
                    ": 5 settling frames, one counted, one carrying the switch)");
      }
      o.CompareBlock = n;
    } else if (flag == "--compare-depth") {
      int n = 0;
      if (!ParseInt(value, 0, 2, n)) {
        return fail("--compare-depth: malformed depth " + Quote(value) + " (expected 0, 1 or 2)");
      }
      o.CompareDepth = n;
    } else if (flag == "--select") {
      if (value.empty()) return fail("--select: empty item");
      o.Actions.push_back({UiAction::kSelect, value, ""});
    } else if (flag == "--click") {
      if (value.empty()) return fail("--click: empty caption");
      o.Actions.push_back({UiAction::kClick, value, ""});
    } else if (flag == "--set") {
      const std::size_t eq = value.find('=');
      if (eq == std::string::npos) {
        return fail("--set: malformed " + Quote(value) + " (expected CAPTION=VALUE)");
      }
      const std::string caption = value.substr(0, eq);
      if (caption.empty()) return fail("--set: empty caption in " + Quote(value));
      const std::string setting = value.substr(eq + 1);
      if (setting.empty()) return fail("--set: empty value for " + Quote(caption));
      o.Actions.push_back({UiAction::kSet, caption, setting});
    } else if (!flag.empty() && flag[0] == '-') {
      return fail("unknown option " + Quote(flag));
    } else {
      return fail("unexpected argument " + Quote(flag));
    }
  }
  if (!o.Comparison) {
    if (o.CompareBlock) return fail("--compare-block needs --compare");
    if (o.CompareDepth) return fail("--compare-depth needs --compare");
    if (o.CompareCsv) return fail("--compare-csv needs --compare");
  } else if (o.Frames) {
    const long long block = o.CompareBlock ? *o.CompareBlock : kDefaultCompareBlock;
    const long long needed = 1 + 4 * block;
    if (*o.Frames < needed) {
      return fail("--frames: " + std::to_string(*o.Frames) + " frames are too few to compare in " +
                  std::to_string(block) + "-frame blocks (at least " + std::to_string(needed) +
                  ": two blocks of each value after the first frame)");
    }
  }
  return result;
}

std::string UsageText(const char* programName) {
  const std::string name = programName && *programName ? programName : "khost";
  return "Usage: " + name +
         " [options]\n"
         "\n"
         "Runs the stand-in host: loads the profiling module, opens its\n"
         "\"ProfilingCenter\" tool window and animates a scene of skinned\n"
         "characters whose costs the tool shows.\n"
         "\n"
         "Options:\n"
         "  --module PATH        the module to load (default: libtoolprofiling.so\n"
         "                       beside this executable)\n"
         "  --config-dir DIR     folder of Application.txt and Task.txt (default: the\n"
         "                       KHOST_CONFIG_DIR variable, else config/ beside the\n"
         "                       executable, else the shipped config/ folder)\n"
         "  --scene FILE         the scene: any file the asset import library reads\n"
         "                       (glTF, FBX, COLLADA, .X, BVH, ...), drawn as a crowd\n"
         "                       of its animated model; 'builtin': the procedural\n"
         "                       characters (default: the [Scene] File of\n"
         "                       Application.txt)\n"
         "  --headless           draw off screen (the default without a display)\n"
         "  --size WxH           the tool window's size in pixels, digits only\n"
         "                       (default: its start size); each side 1 to 16384, at\n"
         "                       most 8192x8192 pixels in all, and not below its\n"
         "                       minimum, which khost names when refusing a smaller one\n"
         "  --viewport WxH       the 3D viewport's size, left of the tool (default:\n"
         "                       640 wide, the tool's height; 0x0: no viewport)\n"
         "  --ui-rate HZ         tool repaints per second of scene time (default 30;\n"
         "                       0: every frame); input and the last frame repaint\n"
         "                       it at once. Scene time is the wall clock live and\n"
         "                       1/60 s per frame headless\n"
         "  --frames N           frames to run, digits only (headless default 120;\n"
         "                       live: until the window closes)\n"
         "  --screenshot FILE    write the tool window's client area after the last\n"
         "                       frame as PNG (headless default:\n"
         "                       ./profiling-center.png)\n"
         "  --window-screenshot FILE\n"
         "                       write the whole window (viewport and tool) after\n"
         "                       the last frame as PNG\n"
         "  --select ITEM        pick ITEM in the display selector\n"
         "  --click CAPTION      click the control with that caption\n"
         "  --set CAPTION=VALUE  edit the property editor with that caption: 0 or 1\n"
         "                       for a check box, an integer for a number field, the\n"
         "                       item's text for a drop-down\n"
         "                       (--select, --click and --set go through the window's\n"
         "                       input, may repeat, and run in order after the first\n"
         "                       frame; at least one frame follows them)\n"
         "  --print-settings     on exit, print the ten settings as name=value lines\n"
         "  --stats FILE         on exit, write the chart's task cycles as CSV: name,\n"
         "                       depth, average, minimum, maximum (microseconds)\n"
         "  --record FILE        write every frame's measured durations as CSV while\n"
         "                       running (flushed at least once a second): frame,\n"
         "                       time_ms, cycle (its path, such as\n"
         "                       Evaluation/Character 1/Skeleton), depth, duration_us;\n"
         "                       one line per cycle that ran, in the chart's order\n"
         "  --trace FILE         write the frames as a trace (JSON trace event format,\n"
         "                       for trace viewers): one event per cycle per frame\n"
         "                       with its real start and duration, on the track of\n"
         "                       the thread that ran it\n"
         "  --compare CAPTION=A,B\n"
         "                       measure what a setting changes: alternate blocks of\n"
         "                       frames with the editor CAPTION at A and at B (values\n"
         "                       as for --set, switched through the window's input)\n"
         "                       and print, per top-level cycle, the median of A and\n"
         "                       of B, the ratio B/A with a 95% interval (bootstrap\n"
         "                       over blocks) and a verdict: faster, slower or no\n"
         "                       clear difference; --frames defaults to 600\n"
         "  --compare-block K    frames per block (default 30, at least 7); the first\n"
         "                       5 frames after a switch, the frame that carries a\n"
         "                       switch and the run's last frame are not counted\n"
         "  --compare-depth D    also list child cycles down to depth D (0 to 2,\n"
         "                       default 0)\n"
         "  --compare-csv FILE   also write the table as CSV: cycle, depth,\n"
         "                       median_a_us, median_b_us, ratio, ci_low, ci_high,\n"
         "                       verdict\n"
         "  --help               show this text\n"
         "\n"
         "Exit status: 0 success, 1 failure (module, surface or file), 2 bad input.\n";
}

}  // namespace khost

#include "khost/app/cli.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace khost {

namespace {

constexpr int kMaxSide = 16384;

std::string Quote(const std::string& text) {
  return "'" + text + "'";
}

}  // namespace

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
  const std::string w = text.substr(0, x);
  const std::string h = text.substr(x + 1);
  // Signs are not part of a size.
  if (w.empty() || h.empty() || w[0] == '+' || w[0] == '-' || h[0] == '+' || h[0] == '-') {
    return false;
  }
  int pw = 0;
  int ph = 0;
  if (!ParseInt(w, 1, kMaxSide, pw) || !ParseInt(h, 1, kMaxSide, ph)) return false;
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
    const bool takesValue = flag == "--module" || flag == "--config-dir" || flag == "--size" ||
                            flag == "--frames" || flag == "--screenshot" || flag == "--select" ||
                            flag == "--click" || flag == "--set" || flag == "--stats" ||
                            flag == "--viewport" || flag == "--ui-rate" ||
                            flag == "--window-screenshot";
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
    } else if (flag == "--config-dir") {
      if (value.empty()) return fail("--config-dir: empty folder name");
      o.ConfigDir = value;
    } else if (flag == "--size") {
      int w = 0;
      int h = 0;
      if (!ParseSize(value, w, h)) {
        return fail("--size: malformed size " + Quote(value) + " (expected WxH, 1 to 16384 each)");
      }
      o.Width = w;
      o.Height = h;
    } else if (flag == "--frames") {
      int n = 0;
      if (!ParseInt(value, 1, INT_MAX, n)) {
        return fail("--frames: malformed frame count " + Quote(value) +
                    " (expected a positive integer)");
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
         "  --headless           draw off screen (the default without a display)\n"
         "  --size WxH           the tool window's size (default: its start size)\n"
         "  --viewport WxH       the 3D viewport's size, left of the tool (default:\n"
         "                       640 wide, the tool's height; 0x0: no viewport)\n"
         "  --ui-rate HZ         tool repaints per second of scene time (default 30;\n"
         "                       0: every frame); input and the last frame repaint\n"
         "                       it at once. Scene time is the wall clock live and\n"
         "                       1/60 s per frame headless\n"
         "  --frames N           frames to run (headless default 120; live: until the\n"
         "                       window closes)\n"
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
         "  --help               show this text\n"
         "\n"
         "Exit status: 0 success, 1 failure (module, surface or file), 2 bad input.\n";
}

}  // namespace khost

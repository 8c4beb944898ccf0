#include "khost/cli/cli.h"

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "khost/base/config_files.h"
#include "khost/base/standard_output.h"
#include "khost/base/stopwatch.h"
#include "khost/cli/cli_flags.h"
#include "khost/import/scene_source.h"
#include "ksurface.h"

namespace khost {

namespace {

std::string Quote(std::string_view text) {
  return QuoteArgument(std::string(text));
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A tune's default budget for kTunedSettings. Each takes two values, so the
// race runs 2^n combinations and the check the best, the start and one
// switch away from the best for each setting.
long long DefaultTuneBudget() {
  const long long n = static_cast<long long>(std::size(kTunedSettings));
  return DefaultTuneFrames(1LL << n, n + 2, kDefaultBlock);
}

// What each "{name}" of a help text stands for, printed from the constant
// the run takes it from.
std::vector<std::pair<std::string_view, std::string>> HelpFacts() {
  const auto n = [](long long value) { return std::to_string(value); };
  std::string tuned;
  for (const std::string_view caption : kTunedSettings) {
    tuned += (tuned.empty() ? "" : ", ") + std::string(caption);
  }
  const std::string square = n(MaxWindowSquareSide());
  return {
      {"module", kModuleFileName},
      {"application", ConfigFileName(kApplicationConfig)},
      {"task", ConfigFileName(kTaskConfig)},
      {"config-variable", kConfigFolderVariable},
      {"config-folder", kConfigFolderName},
      {"builtin", kBuiltinScene},
      {"textures", kDefaultTextures ? "on" : "off"},
      {"scene-key", "[" + std::string(kSceneFileKey.Section) + "] " + kSceneFileKey.Name + " of " +
                        ConfigFileName(kSceneFileKey.File)},
      {"largest-square", square + "x" + square},
      {"viewport-width", n(kDefaultViewportWidth)},
      {"ui-rate", n(kDefaultUiRate)},
      {"fixed-rate", n(kFixedFrameRate)},
      {"headless-frames", n(kHeadlessFrames)},
      {"screenshot", kDefaultScreenshot},
      {"flush-ms", n(kFrameOutputFlush.count())},
      {"compare-frames", n(kDefaultCompareFrames)},
      {"block", n(kDefaultBlock)},
      {"minimum-block", n(kMinimumBlock)},
      {"settle-frames", n(kSettleFrames)},
      {"depth", n(kDefaultCompareDepth)},
      {"race-blocks", n(kTuneRaceBlocks)},
      {"check-blocks", n(kTuneCheckBlocks)},
      {"tune-budget", n(DefaultTuneBudget())},
      {"tuned-count", n(static_cast<long long>(std::size(kTunedSettings)))},
      {"tuned-settings", tuned},
      {"node-count", std::string(kNodeCountCaption)},
      {"tune-target", kDefaultTuneTarget},
      {"clock", ClockName(kDefaultClock)},
  };
}

// `text`, a Help or RangeNote of `flag`, with each "{name}" replaced by what
// it stands for: "{min}" and "{max}" by the row's range, any other name by
// its HelpFacts value. A name that is neither stays as it is.
std::string FlagText(const Flag& flag, std::string_view text) {
  static const std::vector<std::pair<std::string_view, std::string>> facts = HelpFacts();
  std::string out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t open = text.find('{', at);
    const std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
    if (close == std::string_view::npos) break;
    out += text.substr(at, open - at);
    const std::string_view name = text.substr(open + 1, close - open - 1);
    const auto fact =
        std::find_if(facts.begin(), facts.end(), [&](const auto& f) { return f.first == name; });
    if (name == "min" || name == "max") {
      out += std::to_string(name == "min" ? flag.Min : flag.Max);
    } else if (fact != facts.end()) {
      out += fact->second;
    } else {
      out += text.substr(open, close - open + 1);
    }
    at = close + 1;
  }
  return out + std::string(text.substr(at));
}

// "from 1 to 16384 pixels a side; 0x0 for none".
std::string RangeText(const Flag& flag) {
  std::string text = "from " + std::to_string(flag.Min) + " to " + std::to_string(flag.Max);
  if (flag.Kind == ValueKind::kSize) text += " pixels a side";
  if (!flag.RangeNote.empty()) text += "; " + FlagText(flag, flag.RangeNote);
  return text;
}

// Reads `text` as the value of `flag` by its kind: the checks every flag of
// that kind shares. The message is said after "NAME: ".
Result<FlagValue> ReadValue(const Flag& flag, const std::string& text) {
  const std::string noun(flag.Noun);
  FlagValue value;
  value.Text = text;
  switch (flag.Kind) {
    case ValueKind::kNone:
      return value;
    case ValueKind::kNumber: {
      const char* digits = flag.Min < 0 ? "an integer in digits" : "a whole number in digits";
      switch (ReadNumber(text, flag.Min, flag.Max, value.Number)) {
        case ValueRead::kOk:
          return value;
        case ValueRead::kMalformed:
          return BadInput("malformed " + noun + " " + Quote(text) + " (expected " + digits + ", " +
                          RangeText(flag) + ")");
        case ValueRead::kOutOfRange:
          break;
      }
      return BadInput(noun + " " + Quote(text) + " is out of range (" + RangeText(flag) + ")");
    }
    case ValueKind::kSize: {
      if (!flag.Off.empty() && SameIgnoringCase(text, flag.Off)) {
        value.Off = true;
        return value;
      }
      switch (ReadSize(text, flag.Min, flag.Max, value.Width, value.Height)) {
        case ValueRead::kOk:
          break;
        case ValueRead::kMalformed:
          return BadInput("malformed " + noun + " " + Quote(text) + " (expected WxH in digits, " +
                          RangeText(flag) + ")");
        case ValueRead::kOutOfRange:
          return BadInput(noun + " " + Quote(text) + " is out of range (" + RangeText(flag) + ")");
      }
      // Each side fits; the whole must fit a capture too.
      if (std::string problem = SizeProblem(value.Width, value.Height); !problem.empty()) {
        return BadInput(std::move(problem));
      }
      return value;
    }
    case ValueKind::kText:
    case ValueKind::kPath:
    case ValueKind::kFileOutput:
    case ValueKind::kTextOutput:
      break;
  }
  if (text.empty()) return BadInput("empty " + noun);
  if (text == "-") {
    switch (flag.Kind) {
      case ValueKind::kTextOutput:
        value.Text = kStandardOutputName;
        break;
      case ValueKind::kPath:
        return BadInput("'-' names no file khost reads; write ./- for a file of that name");
      case ValueKind::kFileOutput:
        return BadInput(
            "'-' (standard output) is not taken here; write ./- for a file of that name");
      default:
        break;
    }
  }
  return value;
}

// Needs, then each flag of NeedsOr.
std::vector<std::string_view> NeededFlags(const Flag& flag) {
  std::vector<std::string_view> names = {flag.Needs};
  std::string_view rest = flag.NeedsOr;
  while (!rest.empty()) {
    const std::size_t space = rest.find(' ');
    if (space != 0) names.push_back(rest.substr(0, space));
    if (space == std::string_view::npos) break;
    rest.remove_prefix(space + 1);
  }
  return names;
}

// Refuses a value that is itself one of khost's options: the flag's own
// value was most likely left out.
Status CheckNotAnOption(const Flag& flag, const std::string& text) {
  if (!FindFlag(text)) return {};
  std::string message = "option " + std::string(flag.Name) + " needs a value (" +
                        std::string(flag.Value) + "), not the option " + Quote(text);
  if (flag.Kind == ValueKind::kPath || flag.Kind == ValueKind::kFileOutput ||
      flag.Kind == ValueKind::kTextOutput) {
    message += "; write ./" + text + " for a file of that name";
  }
  return BadInput(std::move(message));
}

}  // namespace

Result<RunPlan> ParseCommandLine(int argc, const char* const* argv) {
  const std::span<const Flag> flags = Flags();
  RunPlan plan;
  // Per row: given yet, and the text it was given (for "-").
  std::vector<bool> given(flags.size(), false);
  std::vector<std::string> texts(flags.size());
  for (int i = 1; i < argc; ++i) {
    const std::string spelling = argv[i] ? argv[i] : "";
    const Flag* flag = FindFlag(spelling);
    if (flag == nullptr) {
      if (!spelling.empty() && spelling[0] == '-') {
        return BadInput("unknown option " + Quote(spelling));
      }
      return BadInput("unexpected argument " + Quote(spelling));
    }
    const std::size_t row = static_cast<std::size_t>(flag - flags.data());
    const std::string name(flag->Name);
    if (given[row] && !flag->Repeats) {
      return BadInput("option " + name + " is given more than once; give it once");
    }
    given[row] = true;
    std::string text;
    if (flag->Kind != ValueKind::kNone) {
      if (i + 1 >= argc || argv[i + 1] == nullptr) {
        return BadInput("option " + name + " needs a value");
      }
      text = argv[++i];
      if (Status plain = CheckNotAnOption(*flag, text); !plain) return plain.GetError();
    }
    const Result<FlagValue> value = ReadValue(*flag, text);
    if (!value) return BadInput(name + ": " + value.GetError().Message);
    if (Status stored = flag->Store(plan, *value); !stored) {
      return BadInput(name + ": " + stored.GetError().Message);
    }
    texts[row] = text;
  }
  for (std::size_t row = 0; row < flags.size(); ++row) {
    const Flag& flag = flags[row];
    if (!given[row] || flag.Needs.empty()) continue;
    const std::vector<std::string_view> needs = NeededFlags(flag);
    const bool any = std::any_of(needs.begin(), needs.end(), [&](std::string_view name) {
      return given[static_cast<std::size_t>(FindFlag(name) - flags.data())];
    });
    if (!any) {
      std::string list;
      for (std::size_t i = 0; i < needs.size(); ++i) {
        if (i > 0) list += i + 1 == needs.size() ? " or " : ", ";
        list += needs[i];
      }
      return BadInput(std::string(flag.Name) + " needs " + list);
    }
  }
  // Two outputs on standard output would mix their lines.
  const Flag* first = nullptr;
  for (std::size_t row = 0; row < flags.size(); ++row) {
    if (flags[row].Kind != ValueKind::kTextOutput || !given[row] || texts[row] != "-") continue;
    if (first) {
      return BadInput(std::string(first->Name) + " and " + std::string(flags[row].Name) +
                      " both write to standard output ('-'); give '-' to one of them");
    }
    first = &flags[row];
  }
  if (Status together = CheckFlagsTogether(plan); !together) return together.GetError();
  return plan;
}

namespace {

constexpr std::size_t kHelpColumn = 23;  // where a flag's help text starts
constexpr std::size_t kHelpWidth = 76;   // the longest line

// Appends `text` word-wrapped between the columns `left` and kHelpWidth,
// continuing the current line, which is `column` long; '\n' starts a new
// line.
void AppendWrapped(std::string& out, std::string_view text, std::size_t column, std::size_t left) {
  const std::string indent(left, ' ');
  if (column < left) out += std::string(left - column, ' ');
  column = left;
  bool lineStart = true;
  std::size_t at = 0;
  while (at < text.size()) {
    if (text[at] == '\n') {
      out += "\n" + indent;
      column = left;
      lineStart = true;
      ++at;
      continue;
    }
    if (text[at] == ' ') {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && text[end] != ' ' && text[end] != '\n') ++end;
    const std::string_view word = text.substr(at, end - at);
    if (!lineStart && column + 1 + word.size() > kHelpWidth) {
      out += "\n" + indent;
      column = left;
      lineStart = true;
    }
    if (!lineStart) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    lineStart = false;
    at = end;
  }
  out += "\n";
}

std::string NameList(bool (*pick)(const Flag&)) {
  std::vector<std::string_view> names;
  for (const Flag& flag : Flags()) {
    if (pick(flag)) names.push_back(flag.Name);
  }
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += i + 1 == names.size() ? " and " : ", ";
    list += names[i];
  }
  return list;
}

}  // namespace

std::string UsageText(const char* programName) {
  const std::string name = programName && *programName ? programName : "khost";
  std::string out = "Usage: " + name +
                    " [options]\n"
                    "\n"
                    "Runs the stand-in host: loads the profiling module, opens its\n"
                    "\"ProfilingCenter\" tool window and animates a scene of skinned\n"
                    "characters whose costs the tool shows.\n"
                    "\n"
                    "Options:\n";
  for (const Flag& flag : Flags()) {
    std::string head = "  " + std::string(flag.Name);
    if (!flag.Alias.empty()) head += ", " + std::string(flag.Alias);
    if (!flag.Value.empty()) head += " " + std::string(flag.Value);
    out += head;
    std::size_t column = head.size();
    if (column + 1 > kHelpColumn) {
      out += "\n";
      column = 0;
    }
    std::string help = FlagText(flag, flag.Help);
    if (flag.Kind == ValueKind::kTextOutput) help += "; '-' is standard output";
    AppendWrapped(out, help, column, kHelpColumn);
  }
  out += "\n";
  const std::string notes =
      "A FILE of " + NameList([](const Flag& f) { return f.Kind == ValueKind::kTextOutput; }) +
      " may be - for standard output, for one of them at a time; the others take no -. Write "
      "./- for a file named -. Options that take a value take the next argument, which may not "
      "be another option, and are given once; only " +
      NameList([](const Flag& f) { return f.Repeats && f.Kind != ValueKind::kNone; }) +
      " repeat. Numbers, here and in --set values, are written in digits, with a - before a "
      "negative one and no +.";
  AppendWrapped(out, notes, 0, 0);
  out += "\n";
  const auto code = [](ExitStatus status) { return std::to_string(ExitCode(status)); };
  AppendWrapped(
      out,
      "Exit status: " + code(ExitStatus::kSuccess) + " success; " + code(ExitStatus::kFailure) +
          " failure (module, surface, or a file or standard output that cannot be "
          "written); " +
          code(ExitStatus::kBadInput) + " bad input; " + std::to_string(SignalExitCode(0)) +
          "+N stopped by signal N (" + std::to_string(SignalExitCode(SIGINT)) + " for Ctrl-C); " +
          std::to_string(ClosedPipeStatus()) +
          " standard output's reader went away (as with | head), the run ended quietly.",
      0, 0);
  return out;
}

}  // namespace khost

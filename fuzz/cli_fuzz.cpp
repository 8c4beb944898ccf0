// Fuzz target for khost's command-line parser.
//
// The input is split at NUL bytes into arguments. Besides not crashing,
// parsing must hold these properties:
//   - a refusal names its cause in a message of bounded length, however long
//     the arguments are (quoted arguments are cut), and no control or
//     invisible format character of an argument reaches it unescaped;
//   - what is accepted is usable: a size is one the surfaces and the PNG
//     writer can take, numbers lie in their flag's range, actions have a
//     caption (and --set a value), no value is one of khost's options, and
//     "-" reaches only the text outputs, as standard output;
//   - accepted options written back as a command line parse to the same
//     options.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "khost/cli/cli.h"
#include "khost/cli/cli_flags.h"
#include "khost/cli/quoting.h"

namespace {

constexpr std::size_t kMaxArguments = 64;
// The longest refusal: fixed text around one quoted argument.
constexpr std::size_t kMaxMessage = 600;

[[noreturn]] void Broken(const char* what, const std::string& detail) {
  std::fprintf(stderr, "cli fuzz: %s: %s\n", what, detail.substr(0, 400).c_str());
  std::abort();
}

khost::Result<khost::Options> Parse(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"khost"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return khost::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// The options as a command line that asks for exactly them.
std::vector<std::string> Unparse(const khost::Options& o) {
  std::vector<std::string> args;
  if (o.Help) args.push_back("--help");
  if (o.Headless) args.push_back("--headless");
  if (o.PrintSettings) args.push_back("--print-settings");
  if (o.ModulePath) args.insert(args.end(), {"--module", *o.ModulePath});
  if (o.ConfigDir) args.insert(args.end(), {"--config-dir", *o.ConfigDir});
  if (o.Width) {
    args.insert(args.end(),
                {"--size", std::to_string(*o.Width) + "x" + std::to_string(o.Height.value_or(0))});
  }
  if (o.Frames) args.insert(args.end(), {"--frames", std::to_string(*o.Frames)});
  if (o.Screenshot) args.insert(args.end(), {"--screenshot", *o.Screenshot});
  if (o.StatsFile) args.insert(args.end(), {"--stats", *o.StatsFile});
  if (o.ViewportWidth) {
    args.insert(args.end(), {"--viewport", std::to_string(*o.ViewportWidth) + "x" +
                                               std::to_string(o.ViewportHeight.value_or(-1))});
  }
  args.insert(args.end(), {"--ui-rate", std::to_string(o.UiRate)});
  if (o.WindowScreenshot) args.insert(args.end(), {"--window-screenshot", *o.WindowScreenshot});
  if (o.RecordFile) args.insert(args.end(), {"--record", *o.RecordFile});
  if (o.TraceFile) args.insert(args.end(), {"--trace", *o.TraceFile});
  if (o.Comparison) {
    const khost::Options::Compare& c = *o.Comparison;
    args.insert(args.end(), {"--compare", c.Caption + "=" + c.ValueA + "," + c.ValueB});
  }
  if (o.CompareBlock) args.insert(args.end(), {"--compare-block", std::to_string(*o.CompareBlock)});
  if (o.CompareDepth) args.insert(args.end(), {"--compare-depth", std::to_string(*o.CompareDepth)});
  if (o.CompareCsv) args.insert(args.end(), {"--compare-csv", *o.CompareCsv});
  if (o.Tune) args.push_back("--tune");
  if (o.TuneSettings) {
    std::string list;
    for (const std::string& caption : *o.TuneSettings) list += (list.empty() ? "" : ",") + caption;
    args.insert(args.end(), {"--tune-settings", list});
  }
  if (o.TuneTarget) args.insert(args.end(), {"--tune-target", *o.TuneTarget});
  if (o.TuneBlock) args.insert(args.end(), {"--tune-block", std::to_string(*o.TuneBlock)});
  if (o.TuneCsv) args.insert(args.end(), {"--tune-csv", *o.TuneCsv});
  if (o.TuneWrite) args.push_back("--tune-write");
  if (o.TuneApply) args.push_back("--tune-apply");
  if (o.Clock) args.insert(args.end(), {"--clock", khost::ClockName(*o.Clock)});
  for (const khost::UiAction& a : o.Actions) {
    switch (a.ActionKind) {
      case khost::UiAction::kSelect:
        args.insert(args.end(), {"--select", a.Caption});
        break;
      case khost::UiAction::kClick:
        args.insert(args.end(), {"--click", a.Caption});
        break;
      case khost::UiAction::kSet:
        args.insert(args.end(), {"--set", a.Caption + "=" + a.Value});
        break;
    }
  }
  return args;
}

bool Same(const khost::Options& a, const khost::Options& b) {
  if (a.Help != b.Help || a.Headless != b.Headless || a.PrintSettings != b.PrintSettings ||
      a.ModulePath != b.ModulePath || a.ConfigDir != b.ConfigDir || a.Width != b.Width ||
      a.Height != b.Height || a.Frames != b.Frames || a.Screenshot != b.Screenshot ||
      a.StatsFile != b.StatsFile || a.Actions.size() != b.Actions.size() ||
      a.ViewportWidth != b.ViewportWidth || a.ViewportHeight != b.ViewportHeight ||
      a.UiRate != b.UiRate || a.WindowScreenshot != b.WindowScreenshot ||
      a.RecordFile != b.RecordFile || a.TraceFile != b.TraceFile ||
      a.Comparison.has_value() != b.Comparison.has_value() || a.CompareBlock != b.CompareBlock ||
      a.CompareDepth != b.CompareDepth || a.CompareCsv != b.CompareCsv || a.Tune != b.Tune ||
      a.TuneSettings != b.TuneSettings || a.TuneTarget != b.TuneTarget ||
      a.TuneBlock != b.TuneBlock || a.TuneCsv != b.TuneCsv || a.TuneWrite != b.TuneWrite ||
      a.TuneApply != b.TuneApply || a.Clock != b.Clock) {
    return false;
  }
  if (a.Comparison && (a.Comparison->Caption != b.Comparison->Caption ||
                       a.Comparison->ValueA != b.Comparison->ValueA ||
                       a.Comparison->ValueB != b.Comparison->ValueB)) {
    return false;
  }
  for (std::size_t i = 0; i < a.Actions.size(); ++i) {
    const khost::UiAction& x = a.Actions[i];
    const khost::UiAction& y = b.Actions[i];
    if (x.ActionKind != y.ActionKind || x.Caption != y.Caption || x.Value != y.Value) return false;
  }
  return true;
}

void CheckAccepted(const khost::Options& o) {
  if (o.Width.has_value() != o.Height.has_value()) Broken("width without height", "");
  if (o.Width && !khost::SizeProblem(*o.Width, *o.Height).empty()) {
    Broken("unusable size accepted", std::to_string(*o.Width) + "x" + std::to_string(*o.Height));
  }
  if (o.ViewportWidth.has_value() != o.ViewportHeight.has_value()) {
    Broken("viewport width without height", "");
  }
  if (o.ViewportWidth && (*o.ViewportWidth != 0 || *o.ViewportHeight != 0) &&
      !khost::SizeProblem(*o.ViewportWidth, *o.ViewportHeight).empty()) {
    Broken("unusable viewport accepted",
           std::to_string(*o.ViewportWidth) + "x" + std::to_string(*o.ViewportHeight));
  }
  const auto inRange = [](const char* flag, const std::optional<int>& value) {
    const khost::Flag* row = khost::FindFlag(flag);
    if (value && (*value < row->Min || *value > row->Max)) {
      Broken("number out of its range accepted", std::string(flag) + " " + std::to_string(*value));
    }
  };
  inRange("--frames", o.Frames);
  inRange("--ui-rate", o.UiRate);
  inRange("--compare-block", o.CompareBlock);
  inRange("--compare-depth", o.CompareDepth);
  inRange("--tune-block", o.TuneBlock);
  for (const auto* text :
       {&o.ModulePath, &o.ConfigDir, &o.Screenshot, &o.StatsFile, &o.WindowScreenshot,
        &o.RecordFile, &o.TraceFile, &o.CompareCsv, &o.TuneCsv}) {
    if (!*text) continue;
    if ((*text)->empty()) Broken("empty path accepted", "");
    if (**text == "-") Broken("'-' reached a path", "");
    if (khost::FindFlag(**text)) Broken("an option taken as a path", **text);
  }
  for (const khost::UiAction& a : o.Actions) {
    if (a.Caption.empty()) Broken("action without a caption", "");
    if (a.ActionKind != khost::UiAction::kSet && khost::FindFlag(a.Caption)) {
      Broken("an option taken as a caption", a.Caption);
    }
    if (a.ActionKind == khost::UiAction::kSet &&
        (a.Value.empty() || a.Caption.find('=') != std::string::npos)) {
      Broken("malformed --set accepted", a.Caption + "=" + a.Value);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
      if (args.size() == kMaxArguments) break;
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (args.size() < kMaxArguments && (!current.empty() || size == 0)) args.push_back(current);

  const khost::Result<khost::Options> result = Parse(args);
  if (!result.Ok()) {
    const khost::Error& error = result.GetError();
    if (error.Code != khost::ExitStatus::kBadInput) Broken("refusal not bad input", error.Message);
    if (error.Message.size() > kMaxMessage) Broken("refusal message too long", error.Message);
    // Whatever it echoes is escaped: escaping the message changes nothing.
    if (khost::EscapeControls(error.Message) != error.Message) {
      Broken("refusal echoes a control or format character", error.Message);
    }
    return 0;
  }
  CheckAccepted(*result);
  const khost::Result<khost::Options> again = Parse(Unparse(*result));
  if (!again.Ok()) Broken("written-back options refused", again.GetError().Message);
  if (!Same(*result, *again)) Broken("written-back options differ", "");
  return 0;
}

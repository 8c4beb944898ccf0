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

#include "khost/base/quoting.h"
#include "khost/cli/cli.h"
#include "khost/cli/cli_flags.h"

namespace {

constexpr std::size_t kMaxArguments = 64;
// The longest refusal: fixed text around one quoted argument.
constexpr std::size_t kMaxMessage = 600;

[[noreturn]] void Broken(const char* what, const std::string& detail) {
  std::fprintf(stderr, "cli fuzz: %s: %s\n", what, detail.substr(0, 400).c_str());
  std::abort();
}

khost::Result<khost::RunPlan> Parse(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"khost"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return khost::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// The options as a command line that asks for exactly them.
std::vector<std::string> Unparse(const khost::RunPlan& o) {
  std::vector<std::string> args;
  const khost::MeasuredRequest& compared = o.Outputs.Measured;
  if (compared.CompareRecordings) {
    // A mode of its own: only the table's flags go with it.
    args = {"--compare-recordings",
            compared.CompareRecordings->Before,
            compared.CompareRecordings->After,
            "--compare-depth",
            std::to_string(compared.Table.Depth),
            "--clock",
            khost::ClockName(compared.Clock)};
    if (compared.CompareCsv) args.insert(args.end(), {"--compare-csv", *compared.CompareCsv});
    return args;
  }
  if (o.Help) args.push_back("--help");
  if (o.Headless) args.push_back("--headless");
  if (o.PrintSettings) args.push_back("--print-settings");
  if (o.ModulePath) args.insert(args.end(), {"--module", *o.ModulePath});
  if (o.ConfigDir) args.insert(args.end(), {"--config-dir", *o.ConfigDir});
  if (o.ToolWidth) {
    args.insert(args.end(), {"--size", std::to_string(*o.ToolWidth) + "x" +
                                           std::to_string(o.ToolHeight.value_or(0))});
  }
  if (o.Frames) args.insert(args.end(), {"--frames", std::to_string(*o.Frames)});
  const khost::OutputRequest& out = o.Outputs;
  const khost::MeasuredRequest& measured = out.Measured;
  if (out.Screenshot) args.insert(args.end(), {"--screenshot", *out.Screenshot});
  if (out.Stats) args.insert(args.end(), {"--stats", *out.Stats});
  if (o.ViewportWidth) {
    args.insert(args.end(), {"--viewport", std::to_string(*o.ViewportWidth) + "x" +
                                               std::to_string(o.ViewportHeight.value_or(-1))});
  }
  args.insert(args.end(), {"--ui-rate", std::to_string(o.UiRate)});
  if (out.WindowScreenshot) {
    args.insert(args.end(), {"--window-screenshot", *out.WindowScreenshot});
  }
  if (measured.Record) args.insert(args.end(), {"--record", *measured.Record});
  if (measured.Trace) args.insert(args.end(), {"--trace", *measured.Trace});
  if (measured.Compare) {
    const khost::CompareRequest& c = *measured.Compare;
    args.insert(args.end(), {"--compare", c.Caption + "=" + c.ValueA + "," + c.ValueB});
    args.insert(args.end(), {"--compare-block", std::to_string(c.Block)});
  }
  if (measured.Compare) {
    args.insert(args.end(), {"--compare-depth", std::to_string(measured.Table.Depth)});
  }
  if (measured.CompareCsv) args.insert(args.end(), {"--compare-csv", *measured.CompareCsv});
  if (o.Tune) {
    const khost::TuneRequest& t = *o.Tune;
    args.push_back("--tune");
    if (!t.Settings.empty()) {
      std::string list;
      for (const std::string& caption : t.Settings) list += (list.empty() ? "" : ",") + caption;
      args.insert(args.end(), {"--tune-settings", list});
    }
    args.insert(args.end(), {"--tune-target", t.Target});
    args.insert(args.end(), {"--tune-block", std::to_string(t.Block)});
    if (t.Write) args.push_back("--tune-write");
    if (t.Apply) args.push_back("--tune-apply");
  }
  if (measured.TuneCsv) args.insert(args.end(), {"--tune-csv", *measured.TuneCsv});
  if (measured.Compare || o.Tune) {
    args.insert(args.end(), {"--clock", khost::ClockName(measured.Clock)});
  }
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

bool Same(const khost::RunPlan& a, const khost::RunPlan& b) {
  const khost::MeasuredRequest& am = a.Outputs.Measured;
  const khost::MeasuredRequest& bm = b.Outputs.Measured;
  if (a.Help != b.Help || a.Headless != b.Headless || a.PrintSettings != b.PrintSettings ||
      a.ModulePath != b.ModulePath || a.ConfigDir != b.ConfigDir || a.ToolWidth != b.ToolWidth ||
      a.ToolHeight != b.ToolHeight || a.Frames != b.Frames ||
      a.Outputs.Screenshot != b.Outputs.Screenshot || a.Outputs.Stats != b.Outputs.Stats ||
      a.Actions.size() != b.Actions.size() || a.ViewportWidth != b.ViewportWidth ||
      a.ViewportHeight != b.ViewportHeight || a.UiRate != b.UiRate ||
      a.Outputs.WindowScreenshot != b.Outputs.WindowScreenshot || am.Record != bm.Record ||
      am.Trace != bm.Trace || am.Compare.has_value() != bm.Compare.has_value() ||
      am.CompareCsv != bm.CompareCsv || a.Tune.has_value() != b.Tune.has_value() ||
      am.TuneCsv != bm.TuneCsv || am.Clock != bm.Clock) {
    return false;
  }
  if (am.Compare &&
      (am.Compare->Caption != bm.Compare->Caption || am.Compare->ValueA != bm.Compare->ValueA ||
       am.Compare->ValueB != bm.Compare->ValueB || am.Compare->Block != bm.Compare->Block)) {
    return false;
  }
  if (am.CompareRecordings.has_value() != bm.CompareRecordings.has_value() ||
      (am.CompareRecordings && (am.CompareRecordings->Before != bm.CompareRecordings->Before ||
                                am.CompareRecordings->After != bm.CompareRecordings->After)) ||
      am.Table.Depth != bm.Table.Depth) {
    return false;
  }
  if (a.Tune && (a.Tune->Settings != b.Tune->Settings || a.Tune->Target != b.Tune->Target ||
                 a.Tune->Block != b.Tune->Block || a.Tune->Write != b.Tune->Write ||
                 a.Tune->Apply != b.Tune->Apply)) {
    return false;
  }
  for (std::size_t i = 0; i < a.Actions.size(); ++i) {
    const khost::UiAction& x = a.Actions[i];
    const khost::UiAction& y = b.Actions[i];
    if (x.ActionKind != y.ActionKind || x.Caption != y.Caption || x.Value != y.Value) return false;
  }
  return true;
}

void CheckAccepted(const khost::RunPlan& o) {
  if (o.ToolWidth.has_value() != o.ToolHeight.has_value()) Broken("width without height", "");
  if (o.ToolWidth && !khost::SizeProblem(*o.ToolWidth, *o.ToolHeight).empty()) {
    Broken("unusable size accepted",
           std::to_string(*o.ToolWidth) + "x" + std::to_string(*o.ToolHeight));
  }
  if (o.ViewportWidth.has_value() != o.ViewportHeight.has_value()) {
    Broken("viewport width without height", "");
  }
  if (o.ViewportWidth && (*o.ViewportWidth != 0 || *o.ViewportHeight != 0) &&
      !khost::SizeProblem(*o.ViewportWidth, *o.ViewportHeight).empty()) {
    Broken("unusable viewport accepted",
           std::to_string(*o.ViewportWidth) + "x" + std::to_string(*o.ViewportHeight));
  }
  const auto inRange = [](const char* flag, const std::optional<long long>& value) {
    const khost::Flag* row = khost::FindFlag(flag);
    if (value && (*value < row->Min || *value > row->Max)) {
      Broken("number out of its range accepted", std::string(flag) + " " + std::to_string(*value));
    }
  };
  inRange("--frames", o.Frames);
  inRange("--ui-rate", o.UiRate);
  const khost::MeasuredRequest& measured = o.Outputs.Measured;
  if (measured.Compare) {
    inRange("--compare-block", measured.Compare->Block);
  }
  inRange("--compare-depth", measured.Table.Depth);
  if (o.Tune) inRange("--tune-block", o.Tune->Block);
  if (const auto& recordings = measured.CompareRecordings) {
    for (const std::string* path : {&recordings->Before, &recordings->After}) {
      if (path->empty() || *path == "-" || khost::FindFlag(*path)) {
        Broken("a recording's path accepted that names none", *path);
      }
    }
  }
  for (const auto* text : {&o.ModulePath, &o.ConfigDir, &o.Outputs.Screenshot, &o.Outputs.Stats,
                           &o.Outputs.WindowScreenshot, &measured.Record, &measured.Trace,
                           &measured.CompareCsv, &measured.TuneCsv}) {
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

  const khost::Result<khost::RunPlan> result = Parse(args);
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
  const khost::Result<khost::RunPlan> again = Parse(Unparse(*result));
  if (!again.Ok()) Broken("written-back options refused", again.GetError().Message);
  if (!Same(*result, *again)) Broken("written-back options differ", "");
  return 0;
}

// Fuzz target for khost's command-line parser.
//
// The input is split at NUL bytes into arguments. Besides not crashing,
// parsing must hold these properties:
//   - a refusal names its cause in a message of bounded length, however long
//     the arguments are (quoted arguments are cut);
//   - what is accepted is usable: a size is one the surfaces and the PNG
//     writer can take, a frame count is positive, actions have a caption
//     (and --set a value);
//   - accepted options written back as a command line parse to the same
//     options.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "khost/app/cli.h"

namespace {

constexpr std::size_t kMaxArguments = 64;
// The longest refusal: fixed text around one quoted argument.
constexpr std::size_t kMaxMessage = 600;

[[noreturn]] void Broken(const char* what, const std::string& detail) {
  std::fprintf(stderr, "cli fuzz: %s: %s\n", what, detail.substr(0, 400).c_str());
  std::abort();
}

khost::ParseResult Parse(const std::vector<std::string>& args) {
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
      a.StatsFile != b.StatsFile || a.Actions.size() != b.Actions.size()) {
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
  if (o.Frames && *o.Frames < 1) Broken("frame count below 1", std::to_string(*o.Frames));
  for (const auto* text : {&o.ModulePath, &o.ConfigDir, &o.Screenshot, &o.StatsFile}) {
    if (*text && (*text)->empty()) Broken("empty path accepted", "");
  }
  for (const khost::UiAction& a : o.Actions) {
    if (a.Caption.empty()) Broken("action without a caption", "");
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

  const khost::ParseResult result = Parse(args);
  if (!result.Ok()) {
    if (result.Error.size() > kMaxMessage) Broken("refusal message too long", result.Error);
    return 0;
  }
  CheckAccepted(result.Parsed);
  const khost::ParseResult again = Parse(Unparse(result.Parsed));
  if (!again.Ok()) Broken("written-back options refused", again.Error);
  if (!Same(result.Parsed, again.Parsed)) Broken("written-back options differ", "");
  return 0;
}

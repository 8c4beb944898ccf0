#include "khost/cli/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "khost/base/standard_output.h"
#include "khost/base/stopwatch.h"
#include "khost/cli/cli_flags.h"
#include "khost/experiments/tune_search.h"
#include "khost/scene/scene.h"

namespace {

using khost::ParseCommandLine;
using khost::RunPlan;
using khost::UiAction;
using ParseResult = khost::Result<RunPlan>;

ParseResult Parse(std::vector<std::string> args) {
  std::vector<const char*> argv{"khost"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// The refusal's message; empty when the command line was taken.
std::string Message(const ParseResult& r) {
  return r.Ok() ? std::string() : r.GetError().Message;
}

TEST(KhostCli, NoArgumentsLeavesEveryDefaultOpen) {
  const ParseResult r = Parse({});
  ASSERT_TRUE(r.Ok()) << Message(r);
  EXPECT_FALSE(r->Help);
  EXPECT_FALSE(r->Headless);
  EXPECT_FALSE(r->ModulePath);
  EXPECT_FALSE(r->ConfigDir);
  EXPECT_FALSE(r->ToolWidth);
  EXPECT_FALSE(r->Frames);
  EXPECT_FALSE(r->Outputs.Screenshot);
  EXPECT_FALSE(r->Outputs.Stats);
  EXPECT_FALSE(r->PrintSettings);
  EXPECT_TRUE(r->Actions.empty());
  EXPECT_FALSE(r->ViewportWidth);
  EXPECT_FALSE(r->Outputs.WindowScreenshot);
  EXPECT_EQ(r->UiRate, 30);
}

TEST(KhostCli, EveryFlagIsParsed) {
  const ParseResult r =
      Parse({"--module", "/x/m.so", "--config-dir", "cfg", "--headless", "--size", "640x480",
             "--frames", "7", "--screenshot", "out.png", "--print-settings", "--stats", "s.csv"});
  ASSERT_TRUE(r.Ok()) << Message(r);
  EXPECT_EQ(*r->ModulePath, "/x/m.so");
  EXPECT_EQ(*r->ConfigDir, "cfg");
  EXPECT_TRUE(r->Headless);
  EXPECT_EQ(*r->ToolWidth, 640);
  EXPECT_EQ(*r->ToolHeight, 480);
  EXPECT_EQ(*r->Frames, 7);
  EXPECT_EQ(*r->Outputs.Screenshot, "out.png");
  EXPECT_TRUE(r->PrintSettings);
  EXPECT_EQ(*r->Outputs.Stats, "s.csv");

  const ParseResult v =
      Parse({"--viewport", "320x200", "--ui-rate", "0", "--window-screenshot", "w.png"});
  ASSERT_TRUE(v.Ok()) << Message(v);
  EXPECT_EQ(*v->ViewportWidth, 320);
  EXPECT_EQ(*v->ViewportHeight, 200);
  for (const char* none : {"0x0", "0X0"}) {
    const ParseResult n = Parse({"--viewport", none});
    ASSERT_TRUE(n.Ok()) << Message(n);
    EXPECT_EQ(*n->ViewportWidth, 0);  // no viewport
    EXPECT_EQ(*n->ViewportHeight, 0);
  }
  EXPECT_EQ(v->UiRate, 0);
  EXPECT_EQ(*v->Outputs.WindowScreenshot, "w.png");
}

TEST(KhostCli, ActionsKeepTheirOrderAndSplitAtTheFirstEquals) {
  const ParseResult r = Parse({"--set", "Buffer Size=40", "--click", "Reset To Default", "--select",
                               "Rendering", "--set", "A=b=c"});
  ASSERT_TRUE(r.Ok()) << Message(r);
  ASSERT_EQ(r->Actions.size(), 4u);
  EXPECT_EQ(r->Actions[0].ActionKind, UiAction::kSet);
  EXPECT_EQ(r->Actions[0].Caption, "Buffer Size");
  EXPECT_EQ(r->Actions[0].Value, "40");
  EXPECT_EQ(r->Actions[1].ActionKind, UiAction::kClick);
  EXPECT_EQ(r->Actions[1].Caption, "Reset To Default");
  EXPECT_EQ(r->Actions[2].ActionKind, UiAction::kSelect);
  EXPECT_EQ(r->Actions[2].Caption, "Rendering");
  EXPECT_EQ(r->Actions[3].Caption, "A");
  EXPECT_EQ(r->Actions[3].Value, "b=c");
}

TEST(KhostCli, RepeatedValueFlagIsRefused) {
  // A second value would silently replace the first: refused, naming it.
  const ParseResult r = Parse({"--frames", "3", "--frames", "9"});
  ASSERT_FALSE(r.Ok());
  EXPECT_EQ(r.GetError().Code, khost::ExitStatus::kBadInput);
  EXPECT_NE(Message(r).find("--frames is given more than once"), std::string::npos) << Message(r);
}

TEST(KhostCli, HelpIsRecognisedInBothSpellings) {
  EXPECT_TRUE(Parse({"--help"})->Help);
  EXPECT_TRUE(Parse({"-h"})->Help);
}

struct BadCase {
  std::vector<std::string> Args;
  std::string Named;  // the error must contain this
};

TEST(KhostCli, EveryBadInputIsRefusedWithAMessageNamingIt) {
  const std::vector<BadCase> cases = {
      {{"--bogus"}, "--bogus"},
      {{"-x"}, "-x"},
      {{"stray"}, "stray"},
      {{"--module"}, "--module"},
      {{"--config-dir"}, "--config-dir"},
      {{"--size"}, "--size"},
      {{"--frames"}, "--frames"},
      {{"--screenshot"}, "--screenshot"},
      {{"--stats"}, "--stats"},
      {{"--select"}, "--select"},
      {{"--click"}, "--click"},
      {{"--set"}, "--set"},
      {{"--module", ""}, "--module"},
      {{"--config-dir", ""}, "--config-dir"},
      {{"--screenshot", ""}, "--screenshot"},
      {{"--stats", ""}, "--stats"},
      {{"--select", ""}, "--select"},
      {{"--click", ""}, "--click"},
      {{"--size", "800"}, "800"},
      {{"--size", "800x"}, "800x"},
      {{"--size", "x600"}, "x600"},
      {{"--size", "0x600"}, "0x600"},
      {{"--size", "800x0"}, "800x0"},
      {{"--size", "-800x600"}, "-800x600"},
      {{"--size", "+800x600"}, "+800x600"},
      {{"--size", "800x600x2"}, "800x600x2"},
      {{"--size", "16385x10"}, "16385x10"},
      {{"--size", "99999999999x10"}, "99999999999x10"},
      {{"--size", " 800x600"}, " 800x600"},
      {{"--size", "abcxdef"}, "abcxdef"},
      {{"--frames", "abc"}, "abc"},
      {{"--frames", "0"}, "'0'"},
      {{"--frames", "-5"}, "-5"},
      {{"--frames", "12abc"}, "12abc"},
      {{"--frames", "3.5"}, "3.5"},
      {{"--frames", "99999999999"}, "from 1 to 2147483647"},
      {{"--frames", ""}, "--frames"},
      {{"--set", "NoEquals"}, "NoEquals"},
      {{"--set", "=5"}, "=5"},
      {{"--set", "Buffer Size="}, "Buffer Size"},
      {{"--viewport"}, "--viewport"},
      {{"--viewport", "0x200"}, "0x200"},
      {{"--viewport", "320x0"}, "320x0"},
      {{"--viewport", "-320x200"}, "-320x200"},
      {{"--viewport", "big"}, "big"},
      {{"--ui-rate", "-1"}, "-1"},
      {{"--ui-rate", "1001"}, "1001"},
      {{"--ui-rate", "fast"}, "fast"},
      {{"--ui-rate", "2.5"}, "2.5"},
      {{"--window-screenshot", ""}, "--window-screenshot"},
  };
  for (const BadCase& c : cases) {
    const ParseResult r = Parse(c.Args);
    std::string joined;
    for (const std::string& a : c.Args) joined += "[" + a + "]";
    EXPECT_FALSE(r.Ok()) << joined;
    EXPECT_NE(Message(r).find(c.Named), std::string::npos) << joined << " -> " << Message(r);
  }
}

TEST(KhostCli, ComparisonFlagsAreParsedAndCheckedTogether) {
  const ParseResult r =
      Parse({"--compare", "Parallel Evaluation=Serial,Parallel", "--compare-block", "12",
             "--compare-depth", "1", "--compare-csv", "c.csv", "--frames", "49", "--record",
             "r.csv", "--trace", "t.json"});
  ASSERT_TRUE(r.Ok()) << Message(r);
  EXPECT_EQ(r->Outputs.Measured.Compare->Caption, "Parallel Evaluation");
  EXPECT_EQ(r->Outputs.Measured.Compare->ValueA, "Serial");
  EXPECT_EQ(r->Outputs.Measured.Compare->ValueB, "Parallel");
  EXPECT_EQ(r->Outputs.Measured.Compare->Block, 12);
  EXPECT_EQ(r->Outputs.Measured.Table.Depth, 1);
  EXPECT_EQ(*r->Outputs.Measured.CompareCsv, "c.csv");
  EXPECT_EQ(*r->Outputs.Measured.Record, "r.csv");
  EXPECT_EQ(*r->Outputs.Measured.Trace, "t.json");
  // Only the first comma after the caption separates the values.
  EXPECT_EQ(Parse({"--compare", "A=B=1,2"})->Outputs.Measured.Compare->ValueA, "B=1");

  const std::vector<BadCase> cases = {
      {{"--compare", "Node Count"}, "Node Count"},
      {{"--compare", "Node Count=400"}, "Node Count=400"},
      {{"--compare", "=1,2"}, "=1,2"},
      {{"--compare", "Node Count=,2"}, "Node Count=,2"},
      {{"--compare", "Node Count=1,"}, "Node Count=1,"},
      {{"--compare", "X=1,2", "--compare-block", "6"}, "'6'"},
      {{"--compare", "X=1,2", "--compare-depth", "3"}, "'3'"},
      {{"--compare", "X=1,2", "--frames", "120"}, "120"},
      {{"--compare", "X=1,2", "--compare-block", "10", "--frames", "40"}, "40"},
      {{"--compare-block", "10"}, "needs --compare"},
      {{"--compare-csv", "c.csv"}, "needs --compare"},
      {{"--compare-depth", "1"}, "needs --compare"},
      {{"--record", ""}, "--record"},
      {{"--trace"}, "--trace"},
  };
  for (const BadCase& c : cases) {
    const ParseResult bad = Parse(c.Args);
    EXPECT_FALSE(bad.Ok()) << c.Named;
    EXPECT_NE(Message(bad).find(c.Named), std::string::npos) << c.Named << " -> " << Message(bad);
  }
  // Enough frames for two blocks of each value after the first frame.
  EXPECT_TRUE(Parse({"--compare", "X=1,2", "--compare-block", "10", "--frames", "41"}).Ok());
}

TEST(KhostCli, TuneFlagsAreParsedAndCheckedTogether) {
  const ParseResult r = Parse({"--tune", "--tune-settings", "GPU Skinning,Frustum Culling",
                               "--tune-target", "Evaluation/Character 1", "--tune-block", "10",
                               "--tune-write", "--tune-apply", "--tune-csv", "-"});
  ASSERT_TRUE(r.Ok()) << Message(r);
  EXPECT_TRUE(r->Tune);
  EXPECT_EQ(r->Tune->Settings, (std::vector<std::string>{"GPU Skinning", "Frustum Culling"}));
  EXPECT_EQ(r->Tune->Target, "Evaluation/Character 1");
  EXPECT_EQ(r->Tune->Block, 10);
  EXPECT_TRUE(r->Tune->Write);
  EXPECT_TRUE(r->Tune->Apply);
  EXPECT_EQ(*r->Outputs.Measured.TuneCsv, khost::kStandardOutputName);
  const std::vector<BadCase> cases = {
      {{"--tune", "--tune-settings", ","}, "','"},
      {{"--tune", "--tune-settings", "GPU Skinning,"}, "empty caption in 'GPU Skinning,'"},
      {{"--tune", "--tune-settings", ",GPU Skinning"}, "empty caption"},
      {{"--tune", "--tune-settings", "A,,B"}, "empty caption in 'A,,B'"},
      {{"--tune", "--tune-settings", "A,B,A"}, "'A' is named twice"},
      {{"--tune", "--compare", "X=1,2"}, "--tune and --compare"},
      {{"--tune-apply"}, "needs --tune"},
  };
  for (const BadCase& c : cases) {
    const ParseResult bad = Parse(c.Args);
    ASSERT_FALSE(bad.Ok()) << c.Named;
    EXPECT_EQ(bad.GetError().Code, khost::ExitStatus::kBadInput);
    EXPECT_NE(Message(bad).find(c.Named), std::string::npos) << c.Named << " -> " << Message(bad);
  }
}

TEST(KhostCli, AFlagValueMayLookLikeAFlagButNotBeOne) {
  // A value that is one of khost's options means the value was left out.
  const ParseResult r = Parse({"--click", "--headless"});
  ASSERT_FALSE(r.Ok());
  EXPECT_NE(Message(r).find("--click"), std::string::npos) << Message(r);
  EXPECT_NE(Message(r).find("'--headless'"), std::string::npos) << Message(r);
  // Anything else is taken whatever it looks like.
  const ParseResult dashes = Parse({"--click", "--headless=1", "--select", "-", "--stats", "./-"});
  ASSERT_TRUE(dashes.Ok()) << Message(dashes);
  EXPECT_FALSE(dashes->Headless);
  ASSERT_EQ(dashes->Actions.size(), 2u);
  EXPECT_EQ(dashes->Actions[0].Caption, "--headless=1");
  EXPECT_EQ(dashes->Actions[1].Caption, "-");
  EXPECT_EQ(*dashes->Outputs.Stats, "./-");
}

TEST(KhostCli, SizeAcceptsEitherSeparatorAndTheFullSideRange) {
  int w = 0, h = 0;
  EXPECT_TRUE(khost::ParseSize("1x1", w, h));
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  EXPECT_TRUE(khost::ParseSize("16384X16384", w, h));
  EXPECT_EQ(w, 16384);
  EXPECT_EQ(h, 16384);
}

TEST(KhostCli, SizeIsLimitedToWhatCanBeDrawnAndCaptured) {
  for (const char* good : {"16384x4096", "8192x8192", "1x16384"}) {
    const ParseResult r = Parse({"--size", good});
    EXPECT_TRUE(r.Ok()) << good << ": " << Message(r);
  }
  // Each side fits a surface, but the capture would exceed what the PNG
  // writer takes: refused up front, naming the limit.
  for (const char* big : {"8193x8192", "16384x16384"}) {
    const ParseResult r = Parse({"--size", big});
    EXPECT_FALSE(r.Ok()) << big;
    EXPECT_NE(Message(r).find(big), std::string::npos) << Message(r);
    EXPECT_NE(Message(r).find("8192x8192"), std::string::npos) << Message(r);
  }
  EXPECT_NE(Message(Parse({"--size", "16385x1"})).find("16384"), std::string::npos);
  EXPECT_NE(khost::UsageText("khost").find("8192x8192"), std::string::npos);
}

TEST(KhostCli, CountsAndSizesFollowOneRuleAndLongArgumentsAreCut) {
  // Digits only, for a frame count as for a size.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--frames", "+5"}, {"--size", "+5x10"}, {"--size", "5x+10"}, {"--frames", "-0"}}) {
    EXPECT_FALSE(Parse(args).Ok()) << args[1];
  }
  EXPECT_EQ(*Parse({"--frames", "05"})->Frames, 5);
  EXPECT_EQ(*Parse({"--size", "05x010"})->ToolHeight, 10);

  const std::string huge(100000, 'z');
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{huge}, {"--frames", huge}, {"--set", huge}}) {
    const ParseResult r = Parse(args);
    ASSERT_FALSE(r.Ok());
    EXPECT_LT(Message(r).size(), 400u);
    EXPECT_NE(Message(r).find(std::string(150, 'z') + "..."), std::string::npos) << Message(r);
  }
  // A cut never splits a UTF-8 character.
  std::string accents = "a";
  for (int i = 0; i < 150; ++i) accents += "\xc3\xa9";
  const std::string quoted = khost::QuoteArgument(accents);
  EXPECT_EQ(quoted.find("..."), 200u) << quoted.substr(0, 20);
  EXPECT_EQ(khost::QuoteArgument("short"), "'short'");
}

TEST(KhostCli, EchoedArgumentsShowControlCharactersEscaped) {
  // A terminal title sequence, a C1 CSI in UTF-8, DEL and a NUL-free C0 mix:
  // the message shows them written out, and other UTF-8 as it is.
  const std::string hostile =
      "\x1b]0;x\x07\xc2\x9b"
      "2J\x7f\x01\t\xc3\xa9";
  const std::string message = Message(Parse({"--frames", hostile}));
  for (const char c : message) {
    const auto u = static_cast<unsigned char>(c);
    EXPECT_TRUE(u >= 0x20 && u != 0x7f) << "raw control " << static_cast<int>(u) << ": " << message;
  }
  EXPECT_NE(message.find("'\\e]0;x\\a\\u009b2J\\x7f\\x01\\t\xc3\xa9'"), std::string::npos)
      << message;
  EXPECT_EQ(message.find("\xc2\x9b"), std::string::npos);
  // A lone 0xC2 before a printable byte is not a control.
  EXPECT_EQ(khost::QuoteArgument("\xc2"
                                 "A"),
            "'\xc2"
            "A'");
  // A stray 8-bit CSI (not UTF-8), bidirectional overrides and isolates,
  // the byte order mark and a tag character are written out; a Latin-1 byte
  // and other UTF-8 are kept.
  EXPECT_EQ(khost::QuoteArgument("a\x9b"
                                 "2Jb\xe2\x80\xae"
                                 "c\xe2\x81\xa6"
                                 "d\xef\xbb\xbf\xf3\xa0\x81\x81\xe9\xe2\x82\xac"),
            "'a\\x9b2Jb\\u202ec\\u2066d\\ufeff\\U000e0041\xe9\xe2\x82\xac'");
  // A truncated character before a stray C1 byte: the lead kept, the
  // continuation written out.
  EXPECT_EQ(khost::EscapeControls("\xe2\x80"), "\xe2\\x80");
  // The cut bounds the escaped text; the mark gives the argument's own
  // length.
  const std::string quoted = khost::QuoteArgument(std::string(300, '\x1b'));
  EXPECT_EQ(quoted.substr(0, 5), "'\\e\\e");
  EXPECT_NE(quoted.find("...' (300 bytes)"), std::string::npos);
  EXPECT_EQ(quoted.size(), std::string("'...' (300 bytes)").size() + 200);
}

TEST(KhostCli, IntegerParsingIsStrictAboutRangeAndText) {
  int v = 0;
  EXPECT_TRUE(khost::ParseInt("-2147483648", INT_MIN, INT_MAX, v));
  EXPECT_EQ(v, INT_MIN);
  // No '+' anywhere, and a '-' only before a negative number.
  EXPECT_FALSE(khost::ParseInt("+12", 0, 100, v));
  EXPECT_FALSE(khost::ParseInt("-0", -5, 5, v));
  EXPECT_TRUE(khost::ParseInt("-05", -5, 5, v));
  EXPECT_EQ(v, -5);
  // Well written but too large, however long: out of range, not malformed.
  EXPECT_EQ(khost::ReadNumber(std::string(1000, '9'), INT_MIN, INT_MAX, v),
            khost::ValueRead::kOutOfRange);
  EXPECT_EQ(khost::ReadNumber("-2147483649", INT_MIN, INT_MAX, v), khost::ValueRead::kOutOfRange);
  EXPECT_EQ(khost::ReadNumber("1e3", INT_MIN, INT_MAX, v), khost::ValueRead::kMalformed);
  EXPECT_EQ(khost::ReadSize("5x99999999999", 1, 10, v, v), khost::ValueRead::kOutOfRange);
  EXPECT_EQ(khost::ReadSize("5x-", 1, 10, v, v), khost::ValueRead::kMalformed);
  EXPECT_FALSE(khost::ParseInt("2147483648", INT_MIN, INT_MAX, v));
  EXPECT_FALSE(khost::ParseInt("-", INT_MIN, INT_MAX, v));
  EXPECT_FALSE(khost::ParseInt("1 ", INT_MIN, INT_MAX, v));
  EXPECT_FALSE(khost::ParseInt("101", 0, 100, v));
}

TEST(KhostCli, UsageDocumentsEveryFlag) {
  const std::string usage = khost::UsageText("khost");
  for (const char* flag : {"--module",         "--config-dir",  "--headless",
                           "--size",           "--frames",      "--screenshot",
                           "--select",         "--click",       "--set",
                           "--print-settings", "--stats",       "--record",
                           "--trace",          "--compare",     "--compare-block",
                           "--compare-depth",  "--compare-csv", "--help",
                           "--viewport",       "--ui-rate",     "--window-screenshot"}) {
    EXPECT_NE(usage.find(flag), std::string::npos) << flag;
  }
}

// The tests below go over the flag table, so a flag added to it is tested
// the same way.

using khost::Flag;
using khost::ValueKind;

// `args` after what `flag` needs to be given at all.
// The arguments that give the flag `flag` needs (none when it needs none).
std::vector<std::string> NeededBy(const Flag& flag) {
  if (flag.Needs.empty()) return {};
  const Flag* needed = khost::FindFlag(flag.Needs);
  if (needed->Kind == ValueKind::kNone) return {std::string(needed->Name)};
  return {std::string(needed->Name), std::string(needed->Example)};
}

// `args` after what `flag` needs to be given at all (unless `args` gives it).
std::vector<std::string> With(const Flag& flag, std::vector<std::string> args) {
  std::vector<std::string> all = NeededBy(flag);
  if (!all.empty() && std::find(args.begin(), args.end(), all.front()) != args.end()) return args;
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

// A pair of paths takes `value` for both.
std::vector<std::string> Given(const Flag& flag, const std::string& value) {
  if (flag.Kind == ValueKind::kNone) return With(flag, {std::string(flag.Name)});
  if (flag.Kind == ValueKind::kPathPair) return With(flag, {std::string(flag.Name), value, value});
  return With(flag, {std::string(flag.Name), value});
}

std::string Joined(const std::vector<std::string>& args) {
  std::string joined;
  for (const std::string& a : args) joined += "[" + a + "]";
  return joined;
}

// Refused as bad input, the message holding every one of `named`.
void ExpectRefused(const std::vector<std::string>& args, const std::vector<std::string>& named) {
  const ParseResult r = Parse(args);
  ASSERT_FALSE(r.Ok()) << Joined(args);
  EXPECT_EQ(r.GetError().Code, khost::ExitStatus::kBadInput) << Joined(args);
  for (const std::string& part : named) {
    EXPECT_NE(Message(r).find(part), std::string::npos)
        << Joined(args) << " -> " << Message(r) << "\n  should name " << part;
  }
}

std::string RangeOf(const Flag& flag) {
  return "from " + std::to_string(flag.Min) + " to " + std::to_string(flag.Max);
}

TEST(KhostCliTable, RowsAreCompleteAndNamesUnique) {
  std::vector<std::string_view> spellings;
  for (const Flag& flag : khost::Flags()) {
    SCOPED_TRACE(std::string(flag.Name));
    EXPECT_EQ(flag.Name.substr(0, 2), "--");
    EXPECT_NE(flag.Store, nullptr);
    EXPECT_FALSE(flag.Help.empty());
    const bool takesValue = flag.Kind != ValueKind::kNone;
    EXPECT_EQ(flag.Value.empty(), !takesValue);
    EXPECT_EQ(flag.Noun.empty(), !takesValue);
    EXPECT_EQ(flag.Example.empty(), !takesValue);
    if (flag.Kind == ValueKind::kNumber || flag.Kind == ValueKind::kSize) {
      EXPECT_LE(flag.Min, flag.Max);
    }
    if (!flag.Needs.empty()) {
      EXPECT_NE(khost::FindFlag(flag.Needs), nullptr);
    }
    for (std::string_view spelling : {flag.Name, flag.Alias}) {
      if (spelling.empty()) continue;
      EXPECT_EQ(std::count(spellings.begin(), spellings.end(), spelling), 0);
      spellings.push_back(spelling);
      EXPECT_EQ(khost::FindFlag(spelling), &flag);
    }
  }
}

TEST(KhostCliTable, EveryFlagTakesItsExampleAndRepeatsOnlyWhenItMay) {
  for (const Flag& flag : khost::Flags()) {
    const std::vector<std::string> once = Given(flag, std::string(flag.Example));
    const ParseResult r = Parse(once);
    EXPECT_TRUE(r.Ok()) << Joined(once) << ": " << Message(r);

    std::vector<std::string> twice = once;
    twice.push_back(std::string(flag.Name));
    if (flag.Kind != ValueKind::kNone) twice.push_back(std::string(flag.Example));
    if (flag.Repeats) {
      const ParseResult again = Parse(twice);
      EXPECT_TRUE(again.Ok()) << Joined(twice) << ": " << Message(again);
    } else {
      ExpectRefused(twice, {std::string(flag.Name) + " is given more than once"});
    }
    if (!flag.Needs.empty()) {
      std::vector<std::string> alone(
          once.begin() + static_cast<std::ptrdiff_t>(NeededBy(flag).size()), once.end());
      ExpectRefused(alone, {std::string(flag.Name) + " needs " + std::string(flag.Needs)});
    }
  }
}

TEST(KhostCliTable, AValueIsNeitherMissingNorAnotherOption) {
  for (const Flag& flag : khost::Flags()) {
    if (flag.Kind == ValueKind::kNone) continue;
    const std::string name(flag.Name);
    ExpectRefused({name}, {"option " + name + " needs a value"});
    // Left at the end after a needed flag too.
    ExpectRefused(With(flag, {name}), {name});
    for (const Flag& other : khost::Flags()) {
      for (std::string_view spelling : {other.Name, other.Alias}) {
        if (spelling.empty()) continue;
        ExpectRefused(Given(flag, std::string(spelling)),
                      {"option " + name + " needs a value", "'" + std::string(spelling) + "'"});
      }
    }
  }
}

TEST(KhostCliTable, EveryValueIsCheckedByItsKind) {
  for (const Flag& flag : khost::Flags()) {
    const std::string name(flag.Name);
    SCOPED_TRACE(name);
    auto refused = [&](const std::string& value, std::vector<std::string> named) {
      named.push_back(name + ": ");
      ExpectRefused(Given(flag, value), named);
    };
    auto taken = [&](const std::string& value) {
      const ParseResult r = Parse(Given(flag, value));
      EXPECT_TRUE(r.Ok()) << Joined(Given(flag, value)) << ": " << Message(r);
    };
    const std::string below = std::to_string(static_cast<long long>(flag.Min) - 1);
    const std::string above = std::to_string(static_cast<long long>(flag.Max) + 1);
    switch (flag.Kind) {
      case ValueKind::kNone:
        break;
      case ValueKind::kNumber:
        for (const std::string bad : {"", "abc", "+5", "+0", " 5", "5 ", "1e3", "0x10", "-0", "3.5",
                                      "--5", "\xd9\xa5", "5\xc3\xa9"}) {
          refused(bad, {"malformed", "'" + bad + "'", RangeOf(flag)});
        }
        for (const std::string& far : {below, above, std::string("99999999999"),
                                       std::string("-99999999999"), std::string(400, '7')}) {
          refused(far, {"is out of range", RangeOf(flag)});
        }
        taken(std::to_string(flag.Min));
        taken(std::to_string(flag.Max));
        taken("0" + std::to_string(flag.Max));
        break;
      case ValueKind::kSize: {
        const std::string side = std::to_string(flag.Min);
        for (const std::string bad : {"", "800", "800x", "x600", "+8x6", "8x+6", "8x6x2", " 8x6",
                                      "8 x6", "abcxdef", "8*6", "-0x5", "0x10x", "5X-"}) {
          refused(bad, {"malformed", "'" + bad + "'", RangeOf(flag) + " pixels a side"});
        }
        for (const std::string& far :
             {below + "x" + side, side + "x" + above, "-5x" + side, "99999999999x" + side}) {
          refused(far, {"is out of range", "'" + far + "'", RangeOf(flag) + " pixels a side"});
        }
        taken(side + "X" + side);
        if (flag.Max >= 8193) refused("8193x8192", {"8193x8192", "8192x8192"});
        if (!flag.Off.empty()) {
          std::string upper(flag.Off);
          for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
          taken(std::string(flag.Off));
          taken(upper);
        }
        break;
      }
      case ValueKind::kText:
      case ValueKind::kPath:
      case ValueKind::kPathPair:
      case ValueKind::kFileOutput:
      case ValueKind::kTextOutput:
        refused("", {"empty " + std::string(flag.Noun)});
        if (flag.Kind == ValueKind::kPath || flag.Kind == ValueKind::kPathPair ||
            flag.Kind == ValueKind::kFileOutput) {
          refused("-", {"'-'", "./-"});
        } else if (flag.Kind == ValueKind::kTextOutput) {
          taken("-");
        }
        break;
    }
  }
}

TEST(KhostCliTable, DashIsStandardOutputForOneTextOutputAtATime) {
  std::vector<const Flag*> outputs;
  for (const Flag& flag : khost::Flags()) {
    if (flag.Kind == ValueKind::kTextOutput) outputs.push_back(&flag);
  }
  ASSERT_GE(outputs.size(), 4u);
  for (const Flag* a : outputs) {
    for (const Flag* b : outputs) {
      if (a == b) continue;
      const std::vector<std::string> args =
          With(*a, With(*b, {std::string(a->Name), "-", std::string(b->Name), "-"}));
      ExpectRefused(args, {std::string(a->Name), std::string(b->Name), "standard output"});
    }
  }
  // What "-" becomes: written in place through standard output.
  const ParseResult r =
      Parse({"--compare", "X=1,2", "--stats", "-", "--record", "r.csv", "--compare-csv", "./-"});
  ASSERT_TRUE(r.Ok()) << Message(r);
  EXPECT_EQ(*r->Outputs.Stats, khost::kStandardOutputName);
  EXPECT_EQ(*r->Outputs.Measured.Record, "r.csv");
  EXPECT_EQ(*r->Outputs.Measured.CompareCsv, "./-");
  EXPECT_EQ(*Parse({"--trace", "-"})->Outputs.Measured.Trace, khost::kStandardOutputName);
}

// `text` with every run of blanks and line ends as one space, so that a
// phrase of --help is found wherever its lines break.
std::string Words(const std::string& text) {
  std::string words;
  for (const char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!words.empty() && words.back() != ' ') words += ' ';
    } else {
      words += c;
    }
  }
  return words;
}

TEST(KhostCliTable, UsageIsMadeFromTheTable) {
  const std::string usage = khost::UsageText("khost");
  for (const Flag& flag : khost::Flags()) {
    std::string head = "  " + std::string(flag.Name);
    if (!flag.Alias.empty()) head += ", " + std::string(flag.Alias);
    if (!flag.Value.empty()) head += " " + std::string(flag.Value);
    EXPECT_NE(usage.find("\n" + head + (head.size() < 23 ? " " : "\n")), std::string::npos) << head;
  }
  std::size_t start = 0;
  while (start < usage.size()) {
    const std::size_t end = usage.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end - start, 78u) << usage.substr(start, end - start);
    start = end + 1;
  }
  // The rules for "-", repeats and numbers are told (wherever lines break).
  const std::string words = Words(usage);
  for (const char* rule : {"; '-' is standard output", "./-",
                           "only --select, --click, --set and --at repeat", "no +"}) {
    EXPECT_NE(words.find(rule), std::string::npos) << rule;
  }
}

// The defaults --help names are printed from the constants the run takes
// them from; the tune's budget is the search's own for the default settings.
TEST(KhostCliTable, UsageNamesTheDefaultsTheRunTakes) {
  const std::string words = Words(khost::UsageText("khost"));
  EXPECT_EQ(words.find('{'), std::string::npos) << "a name the help facts lack";
  using std::to_string;
  std::vector<khost::TuneSetting> tuned;
  for (const std::string_view caption : khost::kTunedSettings) {
    tuned.push_back({std::string(caption), {"0", "1"}, 0});
    EXPECT_NE(words.find(std::string(caption)), std::string::npos) << caption;
  }
  const long long budget = khost::TuneSearch::DefaultFrames(tuned, khost::kDefaultBlock);
  for (const std::string& phrase : {
           "default: " + to_string(khost::kDefaultViewportWidth) + " wide",
           "(default " + to_string(khost::kDefaultUiRate) + "; 0: every frame)",
           "1/" + to_string(khost::kFixedFrameRate) + " s per frame headless",
           "headless default " + to_string(khost::kHeadlessFrames) + ";",
           "--frames defaults to " + to_string(khost::kDefaultCompareFrames),
           "(default " + to_string(khost::kDefaultBlock) + ", at least " +
               to_string(khost::kMinimumBlock) + ")",
           "the first " + to_string(khost::kSettleFrames) + " frames after a switch",
           "once " + to_string(khost::kFrameOutputFlush.count()) + " ms have passed",
           to_string(budget) + " frames for the",
           "./" + std::string(khost::kDefaultScreenshot),
           std::string(khost::kModuleFileName) + " beside this executable",
       }) {
    EXPECT_NE(words.find(phrase), std::string::npos) << phrase;
  }
}

}  // namespace

#include "khost/app/cli.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using khost::ParseCommandLine;
using khost::ParseResult;
using khost::UiAction;

ParseResult Parse(std::vector<std::string> args) {
  std::vector<const char*> argv{"khost"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(KhostCli, NoArgumentsLeavesEveryDefaultOpen) {
  const ParseResult r = Parse({});
  ASSERT_TRUE(r.Ok()) << r.Error;
  EXPECT_FALSE(r.Parsed.Help);
  EXPECT_FALSE(r.Parsed.Headless);
  EXPECT_FALSE(r.Parsed.ModulePath);
  EXPECT_FALSE(r.Parsed.ConfigDir);
  EXPECT_FALSE(r.Parsed.Width);
  EXPECT_FALSE(r.Parsed.Frames);
  EXPECT_FALSE(r.Parsed.Screenshot);
  EXPECT_FALSE(r.Parsed.StatsFile);
  EXPECT_FALSE(r.Parsed.PrintSettings);
  EXPECT_TRUE(r.Parsed.Actions.empty());
  EXPECT_FALSE(r.Parsed.ViewportWidth);
  EXPECT_FALSE(r.Parsed.WindowScreenshot);
  EXPECT_EQ(r.Parsed.UiRate, 30);
}

TEST(KhostCli, EveryFlagIsParsed) {
  const ParseResult r =
      Parse({"--module", "/x/m.so", "--config-dir", "cfg", "--headless", "--size", "640x480",
             "--frames", "7", "--screenshot", "out.png", "--print-settings", "--stats", "s.csv"});
  ASSERT_TRUE(r.Ok()) << r.Error;
  EXPECT_EQ(*r.Parsed.ModulePath, "/x/m.so");
  EXPECT_EQ(*r.Parsed.ConfigDir, "cfg");
  EXPECT_TRUE(r.Parsed.Headless);
  EXPECT_EQ(*r.Parsed.Width, 640);
  EXPECT_EQ(*r.Parsed.Height, 480);
  EXPECT_EQ(*r.Parsed.Frames, 7);
  EXPECT_EQ(*r.Parsed.Screenshot, "out.png");
  EXPECT_TRUE(r.Parsed.PrintSettings);
  EXPECT_EQ(*r.Parsed.StatsFile, "s.csv");

  const ParseResult v = Parse({"--viewport", "320x200", "--ui-rate", "0", "--window-screenshot",
                               "w.png", "--viewport", "0x0"});
  ASSERT_TRUE(v.Ok()) << v.Error;
  EXPECT_EQ(*v.Parsed.ViewportWidth, 0);  // the last one wins: no viewport
  EXPECT_EQ(*v.Parsed.ViewportHeight, 0);
  EXPECT_EQ(v.Parsed.UiRate, 0);
  EXPECT_EQ(*v.Parsed.WindowScreenshot, "w.png");
}

TEST(KhostCli, ActionsKeepTheirOrderAndSplitAtTheFirstEquals) {
  const ParseResult r = Parse({"--set", "Buffer Size=40", "--click", "Reset To Default", "--select",
                               "Rendering", "--set", "A=b=c"});
  ASSERT_TRUE(r.Ok()) << r.Error;
  ASSERT_EQ(r.Parsed.Actions.size(), 4u);
  EXPECT_EQ(r.Parsed.Actions[0].ActionKind, UiAction::kSet);
  EXPECT_EQ(r.Parsed.Actions[0].Caption, "Buffer Size");
  EXPECT_EQ(r.Parsed.Actions[0].Value, "40");
  EXPECT_EQ(r.Parsed.Actions[1].ActionKind, UiAction::kClick);
  EXPECT_EQ(r.Parsed.Actions[1].Caption, "Reset To Default");
  EXPECT_EQ(r.Parsed.Actions[2].ActionKind, UiAction::kSelect);
  EXPECT_EQ(r.Parsed.Actions[2].Caption, "Rendering");
  EXPECT_EQ(r.Parsed.Actions[3].Caption, "A");
  EXPECT_EQ(r.Parsed.Actions[3].Value, "b=c");
}

TEST(KhostCli, RepeatedValueFlagKeepsTheLastValue) {
  const ParseResult r = Parse({"--frames", "3", "--frames", "9"});
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(*r.Parsed.Frames, 9);
}

TEST(KhostCli, HelpIsRecognisedInBothSpellings) {
  EXPECT_TRUE(Parse({"--help"}).Parsed.Help);
  EXPECT_TRUE(Parse({"-h"}).Parsed.Help);
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
    EXPECT_NE(r.Error.find(c.Named), std::string::npos) << joined << " -> " << r.Error;
  }
}

TEST(KhostCli, ComparisonFlagsAreParsedAndCheckedTogether) {
  const ParseResult r =
      Parse({"--compare", "Parallel Evaluation=Serial,Parallel", "--compare-block", "12",
             "--compare-depth", "1", "--compare-csv", "c.csv", "--frames", "49", "--record",
             "r.csv", "--trace", "t.json"});
  ASSERT_TRUE(r.Ok()) << r.Error;
  EXPECT_EQ(r.Parsed.Comparison->Caption, "Parallel Evaluation");
  EXPECT_EQ(r.Parsed.Comparison->ValueA, "Serial");
  EXPECT_EQ(r.Parsed.Comparison->ValueB, "Parallel");
  EXPECT_EQ(*r.Parsed.CompareBlock, 12);
  EXPECT_EQ(*r.Parsed.CompareDepth, 1);
  EXPECT_EQ(*r.Parsed.CompareCsv, "c.csv");
  EXPECT_EQ(*r.Parsed.RecordFile, "r.csv");
  EXPECT_EQ(*r.Parsed.TraceFile, "t.json");
  // Only the first comma after the caption separates the values.
  EXPECT_EQ(Parse({"--compare", "A=B=1,2"}).Parsed.Comparison->ValueA, "B=1");

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
    EXPECT_NE(bad.Error.find(c.Named), std::string::npos) << c.Named << " -> " << bad.Error;
  }
  // Enough frames for two blocks of each value after the first frame.
  EXPECT_TRUE(Parse({"--compare", "X=1,2", "--compare-block", "10", "--frames", "41"}).Ok());
}

TEST(KhostCli, AFlagValueMayLookLikeAFlag) {
  // The value of --click is taken whatever it looks like.
  const ParseResult r = Parse({"--click", "--headless"});
  ASSERT_TRUE(r.Ok()) << r.Error;
  EXPECT_FALSE(r.Parsed.Headless);
  ASSERT_EQ(r.Parsed.Actions.size(), 1u);
  EXPECT_EQ(r.Parsed.Actions[0].Caption, "--headless");
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
    EXPECT_TRUE(r.Ok()) << good << ": " << r.Error;
  }
  // Each side fits a surface, but the capture would exceed what the PNG
  // writer takes: refused up front, naming the limit.
  for (const char* big : {"8193x8192", "16384x16384"}) {
    const ParseResult r = Parse({"--size", big});
    EXPECT_FALSE(r.Ok()) << big;
    EXPECT_NE(r.Error.find(big), std::string::npos) << r.Error;
    EXPECT_NE(r.Error.find("8192x8192"), std::string::npos) << r.Error;
  }
  EXPECT_NE(Parse({"--size", "16385x1"}).Error.find("16384"), std::string::npos);
  EXPECT_NE(khost::UsageText("khost").find("8192x8192"), std::string::npos);
}

TEST(KhostCli, CountsAndSizesFollowOneRuleAndLongArgumentsAreCut) {
  // Digits only, for a frame count as for a size.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--frames", "+5"}, {"--size", "+5x10"}, {"--size", "5x+10"}, {"--frames", "-0"}}) {
    EXPECT_FALSE(Parse(args).Ok()) << args[1];
  }
  EXPECT_EQ(*Parse({"--frames", "05"}).Parsed.Frames, 5);
  EXPECT_EQ(*Parse({"--size", "05x010"}).Parsed.Height, 10);

  const std::string huge(100000, 'z');
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{huge}, {"--frames", huge}, {"--set", huge}}) {
    const ParseResult r = Parse(args);
    ASSERT_FALSE(r.Ok());
    EXPECT_LT(r.Error.size(), 400u);
    EXPECT_NE(r.Error.find(std::string(150, 'z') + "..."), std::string::npos) << r.Error;
  }
  // A cut never splits a UTF-8 character.
  std::string accents = "a";
  for (int i = 0; i < 150; ++i) accents += "\xc3\xa9";
  const std::string quoted = khost::QuoteArgument(accents);
  EXPECT_EQ(quoted.find("..."), 200u) << quoted.substr(0, 20);
  EXPECT_EQ(khost::QuoteArgument("short"), "'short'");
}

TEST(KhostCli, IntegerParsingIsStrictAboutRangeAndText) {
  int v = 0;
  EXPECT_TRUE(khost::ParseInt("-2147483648", INT_MIN, INT_MAX, v));
  EXPECT_EQ(v, INT_MIN);
  EXPECT_TRUE(khost::ParseInt("+12", 0, 100, v));
  EXPECT_EQ(v, 12);
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

}  // namespace

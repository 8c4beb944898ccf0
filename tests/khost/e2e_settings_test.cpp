// End-to-end: the settings khost starts with, edits through the window and
// restores with "Reset To Default".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "khost/e2e_pictures.h"
#include "khost/e2e_support.h"
#include "khost/scene/scene.h"
#include "ksurface.h"

namespace {

using namespace khost_e2e;
namespace fs = std::filesystem;

TEST(KhostSettings, StartUpReadsTheConfigurationFolderAndResetRestoresIt) {
  Workspace w;
  const fs::path config = w.Config(
      "[Display]\nEarlyFrustumCulling = No\nUseGPUSkinDeform = yes\n"
      "[Benchmark]\nBufferSize = 37\nFrameReference = No\nEvaluationDepth = 2\nProfilingType = 1\n",
      "[Evaluation]\nPipeline = Parallel\nEvaluation = 1\nDeformation = Serial\n" +
          std::string(kSmallScene));
  const std::map<std::string, std::string> fromFiles = {
      {"FrustumCulling", "0"},      {"ParallelPipeline", "1"}, {"ParallelEvaluation", "1"},
      {"ParallelDeformation", "0"}, {"GPUSkinning", "1"},      {"ProfilingType", "1"},
      {"EvaluationDepth", "2"},     {"BufferSize", "37"},      {"FrameReference", "0"}};

  const std::vector<std::string> base = w.Headless(3, config, {"--print-settings"});
  const RunResult start = w.Run(base);
  ASSERT_EQ(start.Status, 0) << start.Err;
  std::map<std::string, std::string> printed = ParseSettings(start.Out);
  for (const auto& [key, value] : fromFiles) EXPECT_EQ(printed[key], value) << "start-up " << key;
  EXPECT_EQ(printed.size(), 10u) << start.Out;

  // Change settings through the window, then reset: the files' values return.
  std::vector<std::string> args = base;
  for (const char* a :
       {"--set", "Buffer Size=55", "--set", "Frustum Culling=1", "--set", "GPU Skinning=0", "--set",
        "Parallel Evaluation=Serial", "--click", "Reset To Default"}) {
    args.push_back(a);
  }
  const RunResult reset = w.Run(args);
  ASSERT_EQ(reset.Status, 0) << reset.Err;
  printed = ParseSettings(reset.Out);
  for (const auto& [key, value] : fromFiles) EXPECT_EQ(printed[key], value) << "reset " << key;
}

// The reset stores the evaluation depth into the profiler's value itself,
// past its property: the file's value stands as written there.
TEST(KhostSettings, RangedSettingsStayInRangeAtStartUpAndAfterReset) {
  Workspace w;
  struct Case {
    std::string BufferText;
    std::string DepthText;
    std::string Buffer;  // in effect, and shown
    std::string Depth;   // at start-up, through the property
  };
  for (const Case& c : {Case{"99999999999", "99", "100000", "16"}, Case{"-1", "-5", "1", "0"}}) {
    const fs::path config = w.Config(
        "[Benchmark]\nBufferSize = " + c.BufferText + "\nEvaluationDepth = " + c.DepthText + "\n",
        kSmallScene);
    const std::vector<std::string> base = w.Headless(2, config, {"--print-settings"});
    const RunResult start = w.Run(base);
    ASSERT_EQ(start.Status, 0) << start.Err;
    EXPECT_EQ(ParseSettings(start.Out)["BufferSize"], c.Buffer) << "start-up " << c.BufferText;
    EXPECT_EQ(ParseSettings(start.Out)["EvaluationDepth"], c.Depth) << "start-up " << c.DepthText;
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--set", "Buffer Size=7", "--set", "Evaluation Depth=3", "--click",
                             "Reset To Default"});
    const RunResult reset = w.Run(args);
    ASSERT_EQ(reset.Status, 0) << reset.Err;
    EXPECT_EQ(ParseSettings(reset.Out)["BufferSize"], c.Buffer) << "reset " << c.BufferText;
    EXPECT_EQ(ParseSettings(reset.Out)["EvaluationDepth"], c.DepthText) << "reset " << c.DepthText;
  }
}

TEST(KhostSettings, ResetToANegativeEvaluationDepthKeepsItAndTheChartShowsTheTree) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = -1\n"
      "ProfilingType = 1\n",
      kSmallScene);
  const fs::path csv = w.Path("stats.csv");
  const RunResult r =
      w.Run(w.Headless(6, config,
                       {"--scene", "builtin", "--print-settings", "--select", "Evaluation",
                        "--click", "Reset To Default", "--stats", csv.string()}));
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ParseSettings(r.Out)["EvaluationDepth"], "-1") << r.Out;
  // Frame, Present, Evaluation and its two characters with two children each.
  std::istringstream in(ReadAll(csv));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u + 2u + 7u) << ReadAll(csv);
  EXPECT_EQ(lines[4].rfind("Character 1,1,", 0), 0u) << lines[4];
}

TEST(KhostSettings, ShippedConfigurationGivesTheDocumentedDefaults) {
  Workspace w;
  const RunResult r = w.Run(w.Headless(2, KHOST_SHIPPED_CONFIG, {"--print-settings"}));
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::map<std::string, std::string> printed = ParseSettings(r.Out);
  const std::map<std::string, std::string> expected = {
      {"FrustumCulling", "1"},      {"ParallelPipeline", "0"}, {"ParallelEvaluation", "0"},
      {"ParallelDeformation", "0"}, {"GPUSkinning", "0"},      {"ProfilingType", "1"},
      {"EvaluationDepth", "0"},     {"BufferSize", "20"},      {"FrameReference", "1"}};
  for (const auto& [key, value] : expected) EXPECT_EQ(printed.at(key), value) << key;
  EXPECT_GT(std::stoi(printed.at("NodeCount")), 0);
}

// A relative [Scene] File names a file beside the configuration file that
// holds it, whatever folder khost runs in (the runs here start in the
// workspace, above the configuration folder).
TEST(KhostSettings, ARelativeSceneFileIsTakenFromTheConfigurationFolder) {
  const fs::path model = "/usr/share/assimp/models/X/Testwuson.X";
  if (!fs::exists(model)) GTEST_SKIP() << "needs the assimp-testmodels package";
  Workspace w;
  const auto run = [&](const std::string& file) {
    const fs::path config =
        w.Config(std::string(kQuietApplication) + "[Scene]\nFile = " + file + "\nInstances = 2\n",
                 kSmallScene);
    fs::create_directory(config / "models");
    fs::create_symlink(model, config / "models" / "wuson.X");
    const RunResult r = w.Run(w.Headless(2, config, {"--print-settings"}));
    EXPECT_EQ(r.Status, 0) << r.Err;
    return std::make_pair(ParseSettings(r.Out)["NodeCount"], r.Err);
  };
  const auto [relative, err] = run("models/wuson.X");
  EXPECT_EQ(err.find("built-in"), std::string::npos) << err;
  EXPECT_EQ(relative, run(model.string()).first);
  EXPECT_NE(relative, run("builtin").first);  // the node count tells the scenes apart
  // A missing one is named by the path it was looked for at.
  const auto [fallback, missing] = run("models/none.X");
  EXPECT_NE(missing.find("config3/models/none.X' is missing"), std::string::npos) << missing;
}

// What the reader cannot take is named at start: a file in an encoding it
// does not read (which reads as empty), and the lines it leaves out, a few
// by number and then a count, those past the most of a file it reads too;
// and a value that holds what other formats take for a comment.
TEST(KhostSettings, StartUpNamesWhatTheReaderCannotTake) {
  Workspace w;
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("[Display]\nUseGPUSkinDeform = Yes\n")) utf16 += {c, '\0'};
  std::string task = "[Scene]\nCharacters = 2\n";
  task += std::string("Nul = a\0b\n", 10);                 // line 3
  task += "; a comment with a bell \x07 loses nothing\n";  // line 4
  task += "Bell = \x07\n";                                 // line 5
  task += "Long = " + std::string(70 * 1024, 'x') + "\n";  // line 6
  task += "Noted = Yes ; a note\n";                        // line 7: read whole, said
  task += "Quoted = \"Yes\" ; a note\n";                   // line 8: the note is skipped
  const std::string filler = "; " + std::string(1000, 'f') + "\n";
  while (task.size() < 16u * 1024u * 1024u + 500u) task += filler;
  task += "[Evaluation]\nPipeline = Parallel\n; past the cap, a comment\n";
  const fs::path config = w.Config(utf16, task);
  const RunResult r = w.Run(w.Headless(2, config, {"--print-settings"}));
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::string application = "'" + (config / "Application.txt").string() + "'";
  const std::string taskName = "'" + (config / "Task.txt").string() + "'";
  for (const std::string& warning :
       {"configuration file " + application + " is UTF-16 text, which the reader does not read",
        "configuration file " + taskName + " line 3 is left out: it holds a NUL byte\n",
        "configuration file " + taskName + " line 5 is left out: it holds a control character\n",
        "configuration file " + taskName + " line 6 is left out: it is longer than 65536 bytes\n",
        "configuration file " + taskName + ": and 2 more lines are left out\n",
        "configuration file " + taskName +
            " line 7: the value of 'Noted' is 'Yes ; a note' as a whole"}) {
    EXPECT_NE(r.Err.find(warning), std::string::npos) << warning << "\n" << r.Err;
  }
  EXPECT_EQ(r.Err.find("line 4"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find("line 8"), std::string::npos) << r.Err;
  // As the warnings say: both files' keys are lost.
  EXPECT_EQ(ParseSettings(r.Out)["GPUSkinning"], "0") << r.Out;
  EXPECT_EQ(ParseSettings(r.Out)["ParallelPipeline"], "0") << r.Out;
}

TEST(KhostSettings, SetEditsBooleansIntegersAndDropDownsThroughTheWindow) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const RunResult r = w.Run(w.Headless(
      3, config,
      {"--print-settings", "--set", "Frustum Culling=0", "--set", "Parallel Deformation=1", "--set",
       "Buffer Size=33", "--set", "Parallel Evaluation=Parallel", "--set", "Evaluation Depth=4"}));
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::map<std::string, std::string> printed = ParseSettings(r.Out);
  EXPECT_EQ(printed.at("FrustumCulling"), "0");
  EXPECT_EQ(printed.at("ParallelDeformation"), "1");
  EXPECT_EQ(printed.at("BufferSize"), "33");
  EXPECT_EQ(printed.at("ParallelEvaluation"), "1");
  EXPECT_EQ(printed.at("EvaluationDepth"), "4");
}

TEST(KhostSettings, EditingNodeCountRebuildsTheScene) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const std::vector<std::string> base =
      w.Headless(3, config, {"--print-settings", "--scene", "builtin"});
  const RunResult before = w.Run(base);
  ASSERT_EQ(before.Status, 0) << before.Err;
  const int twoCharacters = std::stoi(ParseSettings(before.Out).at("NodeCount"));
  EXPECT_GE(twoCharacters, 40);
  EXPECT_LE(twoCharacters, 80);

  std::vector<std::string> args = base;
  args.insert(args.end(), {"--set", "Node Count=300"});
  const RunResult after = w.Run(args);
  ASSERT_EQ(after.Status, 0) << after.Err;
  // The fewest characters reaching 300 nodes: at most one skeleton (35
  // joints) more than asked for.
  const int nodes = std::stoi(ParseSettings(after.Out).at("NodeCount"));
  EXPECT_GE(nodes, 300);
  EXPECT_LT(nodes, 300 + 36);

  // Going down (from 16 characters), the scene keeps at most the nodes
  // asked for.
  const fs::path bigger = w.Config(kQuietApplication, "[Scene]\nCharacters = 16\n");
  const RunResult smaller = w.Run(
      w.Headless(3, bigger, {"--print-settings", "--set", "Node Count=100", "--scene", "builtin"}));
  ASSERT_EQ(smaller.Status, 0) << smaller.Err;
  const int fewer = std::stoi(ParseSettings(smaller.Out).at("NodeCount"));
  EXPECT_LE(fewer, 100);
  EXPECT_GT(fewer, 100 - 36);
}

}  // namespace

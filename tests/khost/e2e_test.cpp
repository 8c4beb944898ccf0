// End-to-end: the built khost executable, run as a user runs it.
//
// Screenshot checks look at pixel positions that follow from the tool's
// layout at its start size of 800 x 420:
//   - the tool puts its settings panel ("Adaptable") at (6, 37), 788 x 382;
//   - the panel puts the drawing view ("DrawingRegion") at (215, 9) inside
//     it, up to 6 pixels from its right and bottom edges: the view spans
//     window x 221..781 and y 46..411 (567 x 367);
//   - in the view, the chart's first separator is at y 90 (scrolled to the
//     top), the upper block holds two 15-pixel rows from y 95, the block
//     separator follows at 127, the lower block's rows start at 130 and its
//     closing separator lies 2 pixels below its last row. Separators run
//     from x = 20 - 10 = 10 rightwards in grey 0.8 (204), where the view is
//     otherwise the background grey 128; the column x 15 crosses nothing
//     else below the header.
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

TEST(KhostCommandLine, HelpDocumentsTheFlags) {
  Workspace w;
  const RunResult r = w.Run({"--help"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  for (const char* flag :
       {"--module",        "--config-dir",  "--headless", "--size",    "--frames",
        "--screenshot",    "--select",      "--click",    "--set",     "--print-settings",
        "--stats",         "--record",      "--trace",    "--compare", "--compare-block",
        "--compare-depth", "--compare-csv", "--viewport", "--ui-rate", "--window-screenshot"}) {
    EXPECT_NE(r.Out.find(flag), std::string::npos) << flag;
  }
}

TEST(KhostCommandLine, BadInputExitsWithStatus2AndNamesIt) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  struct Case {
    std::vector<std::string> Args;
    std::string Named;
  };
  const std::vector<Case> cases = {
      {{"--bogus"}, "--bogus"},
      {{"--size", "800"}, "800"},
      {{"--frames", "abc"}, "abc"},
      {{"--frames"}, "--frames"},
      {{"--set", "NoEquals"}, "NoEquals"},
      {{"stray"}, "stray"},
      {{"--config-dir", (w.Path("missing")).string()}, "missing"},
      {{"--frames", "+5"}, "+5"},
      {{"--size", "8193x8192"}, "8192x8192"},
      {{"--click", std::string(100000, 'q')}, std::string(190, 'q') + "..."},
      // Captions, items and values are checked against the open tool.
      {{"--click", "No Such Button"}, "No Such Button"},
      {{"--select", "Nowhere"}, "Nowhere"},
      {{"--set", "No Such Editor=1"}, "No Such Editor"},
      {{"--set", "Frustum Culling=2"}, "'2'"},
      {{"--set", "Buffer Size=abc"}, "abc"},
      {{"--set", "Buffer Size=0"}, "'0'"},
      // One rule for numbers: no '+', and a long number is out of range.
      {{"--set", "Buffer Size=+40"}, "'+40'"},
      {{"--set", "Buffer Size=99999999999"}, "out of range"},
      {{"--ui-rate", "+30"}, "'+30'"},
      // An option in a value's place, a repeat, a PNG to standard output.
      {{"--record", "--print-settings"}, "'--print-settings'"},
      {{"--stats", "a.csv", "--stats", "b.csv"}, "more than once"},
      {{"--window-screenshot", "-"}, "./-"},
      {{"--set", "Profiling Mode=Sometimes"}, "Sometimes"},
      {{"--click", "Display Details"}, "Display Details"},
      {{"--viewport", "0x10"}, "0x10"},
      {{"--viewport", "16000x100"}, "--viewport"},  // too wide beside the tool
      {{"--ui-rate", "often"}, "often"},
      // Both values of a comparison are tried before the first block.
      {{"--compare", "No Such Editor=1,2", "--frames", "29", "--compare-block", "7"},
       "No Such Editor"},
      {{"--compare", "Frustum Culling=1,7", "--frames", "29", "--compare-block", "7"}, "'7'"},
      {{"--compare", "Frustum Culling=0,1", "--compare-block", "200"}, "too few"},
  };
  for (const Case& c : cases) {
    const RunResult r = w.Run(w.Headless(2, config, c.Args));
    EXPECT_EQ(r.Status, 2) << c.Named << "\n" << r.Err;
    EXPECT_NE(r.Err.find(c.Named), std::string::npos) << c.Named << "\n" << r.Err;
  }
  // Nothing was written for a refused command line.
  for (const char* file : {"--print-settings", "-", "a.csv", "b.csv"}) {
    EXPECT_FALSE(fs::exists(w.Path(file))) << file;
  }
}

TEST(KhostCommandLine, MissingOrIncompleteModuleExitsWithStatus1) {
  Workspace w;
  const RunResult missing = w.Run({"--headless", "--module", w.Path("nothing.so").string()});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_NE(missing.Err.find("nothing.so"), std::string::npos) << missing.Err;
  // A real shared library that is not a module: no entry points.
  const fs::path library = fs::path(KHOST_EXE).parent_path() / "libkbaselib.so";
  ASSERT_TRUE(fs::exists(library));
  const RunResult wrong = w.Run({"--headless", "--module", library.string()});
  EXPECT_EQ(wrong.Status, 1);
  EXPECT_NE(wrong.Err.find("EntryPointtoolprofiling"), std::string::npos) << wrong.Err;
  // Not a shared library at all.
  std::ofstream(w.Path("junk.so")) << "not an ELF file";
  const RunResult junk = w.Run({"--headless", "--module", w.Path("junk.so").string()});
  EXPECT_EQ(junk.Status, 1);
  EXPECT_NE(junk.Err.find("junk.so"), std::string::npos) << junk.Err;
}

TEST(KhostCommandLine, BrokenModulesGiveAMessageAndStatus1) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const std::vector<std::string> base = w.Headless(2, config);
  // Truncated copies of the real module: refused before the loader maps them.
  const std::string module = ReadAll(fs::path(KHOST_EXE).parent_path() / "libtoolprofiling.so");
  ASSERT_GT(module.size(), 20000u);
  for (const std::size_t size : {std::size_t{1000}, std::size_t{5000}, std::size_t{20000}}) {
    const fs::path cut = w.Path("cut.so");
    std::ofstream(cut, std::ios::binary) << module.substr(0, size);
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--module", cut.string()});
    const RunResult r = w.Run(args);
    EXPECT_EQ(r.Status, 1) << size << " bytes: " << r.Err;
    EXPECT_NE(r.Err.find("cut.so"), std::string::npos) << r.Err;
  }
  // A module that throws from its entry points or its factory, an int as
  // well as a standard exception.
  for (const char* what : {"init", "entry", "factory", "tool"}) {
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--module", KHOST_THROWING_MODULE});
    const RunResult r = w.Run(args, {{"KHOST_TEST_THROW", what}});
    EXPECT_EQ(r.Status, 1) << what << ": " << r.Err;
    EXPECT_NE(r.Err.find("threw"), std::string::npos) << what << ": " << r.Err;
  }
  // A bare name is a file in the current folder, not a library the loader
  // would find elsewhere.
  std::ofstream(w.Path("libm.so.6")) << "not a library";
  std::vector<std::string> args = base;
  args.insert(args.end(), {"--module", "libm.so.6"});
  const RunResult bare = w.Run(args);
  EXPECT_EQ(bare.Status, 1) << bare.Err;
  EXPECT_NE(bare.Err.find("not an ELF"), std::string::npos) << bare.Err;
}

TEST(KhostCommandLine, ConfigurationFolderProblemsAreNamed) {
  Workspace w;
  std::ofstream(w.Path("plain.txt")) << "x";
  const RunResult file = w.Run({"--headless", "--config-dir", w.Path("plain.txt").string()});
  EXPECT_EQ(file.Status, 2);
  EXPECT_NE(file.Err.find("is not a folder"), std::string::npos) << file.Err;
  const RunResult env = w.Run({"--headless", "--screenshot", w.Path("s.png").string()},
                              {{"KHOST_CONFIG_DIR", w.Path("missing").string()}});
  EXPECT_EQ(env.Status, 2) << env.Err;
  EXPECT_NE(env.Err.find("KHOST_CONFIG_DIR"), std::string::npos) << env.Err;
  EXPECT_NE(env.Err.find("missing"), std::string::npos) << env.Err;
  EXPECT_FALSE(fs::exists(w.Path("s.png")));

  // Files in the folder that are there but cannot be read are named; the run
  // goes on with their defaults, and a reset leaves them as they are.
  const fs::path config = w.Config("", kSmallScene);
  fs::remove(config / "Application.txt");
  fs::create_directory(config / "Application.txt");
  fs::remove(config / "Task.txt");
  fs::create_symlink(config / "gone.txt", config / "Task.txt");
  const RunResult odd =
      w.Run(w.Headless(2, config, {"--print-settings", "--click", "Reset To Default"}));
  EXPECT_EQ(odd.Status, 0) << odd.Err;
  EXPECT_NE(odd.Err.find("Application.txt' is a folder"), std::string::npos) << odd.Err;
  EXPECT_NE(odd.Err.find("Task.txt' is a link that leads nowhere"), std::string::npos) << odd.Err;
  EXPECT_EQ(ParseSettings(odd.Out)["BufferSize"], "20") << odd.Out;
  EXPECT_TRUE(fs::is_directory(config / "Application.txt"));
  EXPECT_TRUE(fs::is_symlink(config / "Task.txt"));
}

// One headless capture with the display selector on `item` (empty: left
// alone), an evaluation depth of 1 and two characters.
std::vector<int> ChartForSelection(Workspace& w, const std::string& item, const fs::path& config) {
  const fs::path png = w.Path("select_" + (item.empty() ? std::string("none") : item) + ".png");
  std::vector<std::string> args = {"--headless",   "--frames",      "4",
                                   "--config-dir", config.string(), "--screenshot",
                                   png.string(),   "--scene",       "builtin"};
  if (!item.empty()) args.insert(args.end(), {"--select", item});
  const RunResult r = w.Run(args);
  EXPECT_EQ(r.Status, 0) << r.Err;
  const Image image = Load(png);
  EXPECT_EQ(image.Width, 800);
  EXPECT_EQ(image.Height, 420);
  if (image.Rgba.empty()) return {};
  return SeparatorRows(image);
}

TEST(KhostChart, SelectingEachDisplayItemChangesWhatTheChartShows) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 1\n"
      "ProfilingType = 1\n",
      kSmallScene);
  // Evaluation: its row, two characters with Skeleton and Constraints each
  // (7 rows). Rendering: its row with Culling and Submission (3 rows).
  // Devices: one row. The full chart: 9 rows plus 6 + 2 children, whose
  // closing separator falls below the view.
  const int lowerTop = 130;
  ExpectSeparators(ChartForSelection(w, "Evaluation", config), {90, 127, lowerTop + 7 * 15 + 2},
                   "Evaluation");
  ExpectSeparators(ChartForSelection(w, "Rendering", config), {90, 127, lowerTop + 3 * 15 + 2},
                   "Rendering");
  ExpectSeparators(ChartForSelection(w, "Devices", config), {90, 127, lowerTop + 15 + 2},
                   "Devices");
  ExpectSeparators(ChartForSelection(w, "DisplayAll", config), {90, 127}, "DisplayAll");
  ExpectSeparators(ChartForSelection(w, "", config), {90, 127}, "no selection");
}

TEST(KhostChart, FullChartWithoutChildrenEndsBelowItsNineRows) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  ExpectSeparators(ChartForSelection(w, "", config), {90, 127, 130 + 9 * 15 + 2}, "full chart");
}

TEST(KhostChart, ProfilingTypeZeroDrawsNoChartButKeepsTheHeader) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 0\n"
      "ProfilingType = 0\n",
      kSmallScene);
  const fs::path png = w.Path("off.png");
  const RunResult r = w.Run({"--headless", "--frames", "3", "--config-dir", config.string(),
                             "--screenshot", png.string(), "--print-settings"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ParseSettings(r.Out).at("ProfilingType"), "0");
  const Image image = Load(png);
  ASSERT_FALSE(image.Rgba.empty());
  EXPECT_TRUE(SeparatorRows(image).empty()) << ::testing::PrintToString(SeparatorRows(image));
  // The header strip and the dark band below it are still painted.
  EXPECT_TRUE(IsGrey(image.At(kChartColumn, kViewTop + 10), 128, 2));
  EXPECT_TRUE(IsGrey(image.At(kChartColumn, kViewTop + 82), 68, 2));

  // Switching profiling off in the window makes the chart go away too.
  const fs::path config2 = w.Config(kQuietApplication, kSmallScene);
  const fs::path png2 = w.Path("off2.png");
  const RunResult r2 = w.Run({"--headless", "--frames", "3", "--config-dir", config2.string(),
                              "--screenshot", png2.string(), "--set", "Profiling Mode=Off"});
  ASSERT_EQ(r2.Status, 0) << r2.Err;
  EXPECT_TRUE(SeparatorRows(Load(png2)).empty());

  // Switched off after frame 30, the statistics stand still at what the
  // window held then: the frame periods of frames 10 to 29 (frame 30's is
  // known only once frame 31 starts), which --stats still writes.
  const fs::path record = w.Path("frames.csv");
  const fs::path stats = w.Path("stats.csv");
  const RunResult r3 =
      w.Run({"--headless", "--frames", "60", "--config-dir", config2.string(), "--screenshot",
             png2.string(), "--at", "30", "--set", "Profiling Mode=Off", "--record",
             record.string(), "--stats", stats.string()});
  ASSERT_EQ(r3.Status, 0) << r3.Err;
  double sum = 0.0;
  double longest = 0.0;
  for (const auto& row : ReadCsv(record)) {
    if (row.size() < 5 || row[2] != "Devices") continue;
    const int frame = std::stoi(row[0]);
    if (frame < 10 || frame > 29) continue;
    sum += std::stod(row[4]);
    longest = std::max(longest, std::stod(row[4]));
  }
  bool found = false;
  for (const auto& row : ReadCsv(stats)) {
    if (row.empty() || row[0] != "Devices") continue;
    found = true;
    ASSERT_GE(row.size(), 5u);
    EXPECT_NEAR(std::stod(row[2]), sum / 20.0, 0.01) << "the frozen average";
    EXPECT_NEAR(std::stod(row[4]), longest, 0.01) << "the frozen maximum";
  }
  EXPECT_TRUE(found) << ReadAll(stats);
}

TEST(KhostChart, StatsFileListsTheChartsRows) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 1\n"
      "ProfilingType = 1\n",
      kSmallScene);
  const fs::path csv = w.Path("stats.csv");
  const RunResult r = w.Run(w.Headless(
      3, config, {"--select", "Evaluation", "--stats", csv.string(), "--scene", "builtin"}));
  ASSERT_EQ(r.Status, 0) << r.Err;
  std::istringstream in(ReadAll(csv));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u + 2u + 7u) << ReadAll(csv);
  EXPECT_EQ(lines[0],
            "name,depth,average_us,minimum_us,maximum_us,average_cpu_us,frames,median_us,p95_us,"
            "p99_us,p999_us");
  EXPECT_EQ(lines[1].rfind("Frame,0,", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("Present,0,", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("Evaluation,0,", 0), 0u) << lines[3];
  EXPECT_EQ(lines[4].rfind("Character 1,1,", 0), 0u) << lines[4];
  EXPECT_EQ(lines[5].rfind("Skeleton,2,", 0), 0u) << lines[5];
  EXPECT_EQ(lines[6].rfind("Constraints,2,", 0), 0u) << lines[6];
  // Every average lies between its minimum and maximum; a character's
  // cycles have no CPU time, every other cycle has one. Each row's run
  // percentiles, found by its cycle's path, cover the run's 3 frames.
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f;
    std::stringstream s(lines[i]);
    for (std::string x; std::getline(s, x, ',');) f.push_back(x);
    const bool character = i >= 4 && i <= 9;
    ASSERT_EQ(f.size(), 11u) << lines[i];
    EXPECT_EQ(f[5].empty(), character) << lines[i];
    EXPECT_EQ(f[6], "3") << lines[i];
    // Ordered, and positive for every cycle that ran.
    EXPECT_GT(std::stod(f[7]), 0.0) << lines[i];
    for (std::size_t p = 8; p < 11; ++p) {
      EXPECT_LE(std::stod(f[p - 1]), std::stod(f[p])) << lines[i];
    }
    if (!character) {
      EXPECT_GE(std::stod(f[5]), 0.0) << lines[i];
    }
    EXPECT_LE(std::stod(f[2]), std::stod(f[4]) + 1e-3) << lines[i];
  }
}

// The chart's rows from a --stats file: name -> {average, minimum, maximum}.
std::map<std::string, std::vector<double>> ReadStats(const fs::path& path) {
  std::map<std::string, std::vector<double>> rows;
  std::istringstream in(ReadAll(path));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, depth, average, minimum, maximum;
    std::getline(fields, name, ',');
    std::getline(fields, depth, ',');
    std::getline(fields, average, ',');
    std::getline(fields, minimum, ',');
    std::getline(fields, maximum, ',');
    rows[name] = {std::stod(average), std::stod(minimum), std::stod(maximum)};
  }
  return rows;
}

TEST(KhostUiRate, FramesBetweenRepaintsRecordNoToolPaint) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const auto stats = [&](const std::string& rate) {
    const fs::path csv = w.Path("rate" + rate + ".csv");
    const RunResult r =
        w.Run({"--headless", "--frames", "40", "--config-dir", config.string(), "--ui-rate", rate,
               "--stats", csv.string(), "--record", w.Path("frames" + rate + ".csv").string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    return ReadStats(csv);
  };
  // 10 Hz with 1/60 s steps: one frame in six paints the tool.
  const auto slow = stats("10");
  ASSERT_TRUE(slow.count("Tool Paint"));
  EXPECT_EQ(slow.at("Tool Paint")[1], 0.0);
  EXPECT_GT(slow.at("Tool Paint")[2], 0.0);
  // The profiler gets the 0s; a recording lists only the paints that ran
  // (about 40 / 6, plus the last frame's), each with a real duration.
  int paints = 0;
  for (const auto& row : ReadCsv(w.Path("frames10.csv"))) {
    if (row[2] != "Tool Paint") continue;
    ++paints;
    EXPECT_GT(std::stod(row[4]), 0.0);
  }
  EXPECT_GE(paints, 6);
  EXPECT_LE(paints, 9);
  const auto every = stats("0");
  EXPECT_GT(every.at("Tool Paint")[1], 0.0);
}

TEST(KhostStatistics, OnlyWholeFramesArePublished) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  // One frame has no measured period: nothing is published. From two on,
  // every cycle of a published frame has its sample, the period included.
  for (const char* frames : {"1", "2"}) {
    const fs::path csv = w.Path(std::string("f") + frames + ".csv");
    const RunResult r = w.Run({"--headless", "--frames", frames, "--config-dir", config.string(),
                               "--stats", csv.string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto rows = ReadStats(csv);
    ASSERT_TRUE(rows.count("Devices")) << frames;
    const bool published = rows.at("Devices")[0] > 0.0;
    EXPECT_EQ(published, std::string(frames) == "2") << frames;
    for (const char* name : {"Frame", "Input", "Evaluation", "Rendering", "Tool Paint"}) {
      ASSERT_TRUE(rows.count(name)) << name;
      EXPECT_EQ(rows.at(name)[0] > 0.0, published) << frames << " frames: " << name;
    }
  }
}

TEST(KhostMessages, TheSelectorsLabelPointsToSelectAndAnUnreachableDisplayIsNamed) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  for (const std::vector<std::string>& action :
       {std::vector<std::string>{"--click", "Display Details"},
        std::vector<std::string>{"--set", "Display Details=Evaluation"}}) {
    std::vector<std::string> args = {"--headless", "--frames", "2", "--config-dir",
                                     config.string()};
    args.insert(args.end(), action.begin(), action.end());
    const RunResult r = w.Run(args);
    EXPECT_EQ(r.Status, 2) << r.Err;
    EXPECT_NE(r.Err.find("--select"), std::string::npos) << r.Err;
  }
  // A display that is named but does not exist: said, then headless.
  const RunResult r = w.Run({"--frames", "2", "--config-dir", config.string(), "--screenshot",
                             w.Path("nodisplay.png").string()},
                            {{"DISPLAY", ":251"}, {"WAYLAND_DISPLAY", ""}});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Err.find("cannot open the display DISPLAY=:251"), std::string::npos) << r.Err;
}

}  // namespace

// End-to-end: comparisons, recordings and traces of real runs.
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

TEST(KhostMeasure, ComparingNodeCountsFindsEvaluationAndDeformationSlower) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path csv = w.Path("compare.csv");
  // Four blocks of each value, 10 frames each (4 counted): few enough for
  // the sanitizer builds, enough for an interval that excludes 1.
  const RunResult r =
      w.Run({"--headless", "--frames", "81", "--config-dir", config.string(), "--screenshot",
             w.Path("c.png").string(), "--compare", "Node Count=400,1845", "--compare-block", "10",
             "--compare-csv", csv.string(), "--print-settings"},
            {}, 300);  // the thread sanitizer's build paints a frame in about 0.3 s
  ASSERT_EQ(r.Status, 0) << r.Err;
  // B is rounded up to whole characters of 40 nodes, and the table says so.
  EXPECT_NE(r.Out.find("A = 400, B = 1880 (asked 1845); 4 blocks of A and 4 of B"),
            std::string::npos)
      << r.Out;
  // The run ends in a block of B: the scene has B's node count.
  EXPECT_GE(std::stoi(ParseSettings(r.Out)["NodeCount"]), 1845) << r.Out;
  const auto rows = ReadCsv(csv);
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"cycle", "depth", "median_a_us", "median_b_us",
                                               "ratio", "ci_low", "ci_high", "verdict"}));
  std::vector<std::string> cycles;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto& row = rows[i];
    ASSERT_EQ(row.size(), 8u);
    cycles.push_back(row[0]);
    EXPECT_EQ(row[1], "0");  // top level only by default
    const double a = std::stod(row[2]);
    const double b = std::stod(row[3]);
    const double ratio = std::stod(row[4]);
    // The medians are printed to 0.001 us: for cycles of a microsecond or
    // so that rounding alone moves b / a by more than a thousandth.
    EXPECT_NEAR(ratio, b / a, ratio * (1e-3 + 0.0005 / a + 0.0005 / b) + 1e-3) << row[0];
    EXPECT_LE(std::stod(row[5]), ratio + 1e-3) << row[0];
    EXPECT_GE(std::stod(row[6]), ratio - 1e-3) << row[0];
    if (row[0] == "Evaluation" || row[0] == "Deformation") {
      EXPECT_EQ(row[7], "slower") << row[0];
      EXPECT_GT(ratio, 2.0) << row[0];
      EXPECT_GT(std::stod(row[5]), 1.0) << row[0];
    }
  }
  EXPECT_EQ(cycles, (std::vector<std::string>{"Frame", "Present", "Devices", "Input", "Animation",
                                              "Evaluation", "Deformation", "Upload", "Rendering",
                                              "Tool Paint", "Scene Update"}));
  // The same table on standard output.
  EXPECT_NE(r.Out.find("Deformation"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("slower"), std::string::npos) << r.Out;
}

TEST(KhostMeasure, RecordingAndTraceHoldEveryCycleOfEveryFrame) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 1\n"
      "ProfilingType = 1\n",
      kSmallScene);
  const fs::path record = w.Path("frames.csv");
  const fs::path trace = w.Path("trace.json");
  const fs::path stats = w.Path("stats.csv");
  constexpr int kFrames = 6;
  // Work on the pool too: parallel evaluation, deformation and the pipeline.
  const std::vector<std::string> args = {"--headless",
                                         "--scene",
                                         "builtin",
                                         "--frames",
                                         std::to_string(kFrames),
                                         "--ui-rate",
                                         "0",
                                         "--config-dir",
                                         config.string(),
                                         "--screenshot",
                                         w.Path("r.png").string(),
                                         "--set",
                                         "Parallel Evaluation=Parallel",
                                         "--set",
                                         "Parallel Deformation=1",
                                         "--set",
                                         "Parallel Pipeline=1",
                                         "--record",
                                         record.string(),
                                         "--trace",
                                         trace.string(),
                                         "--stats",
                                         stats.string()};
  const RunResult r = w.Run(args);
  ASSERT_EQ(r.Status, 0) << r.Err;

  // The chart's rows, as --stats lists them: name and depth.
  std::vector<std::pair<std::string, std::string>> chart;
  for (const auto& row : ReadCsv(stats)) {
    if (row[0] != "name") chart.emplace_back(row[0], row[1]);
  }
  ASSERT_EQ(chart.size(), 11u + 2u * 3u + 2u);  // two characters, rendering's two parts

  const auto rows = ReadCsv(record);
  ASSERT_EQ(rows.size(), 1u + kFrames * chart.size());
  EXPECT_EQ(rows[0], (std::vector<std::string>{"frame", "time_ms", "cycle", "depth", "duration_us",
                                               "cpu_us"}));
  // The CPU clock's granularity, and the recording's rounding to 1 ns.
  timespec resolution{};
  clock_getres(CLOCK_THREAD_CPUTIME_ID, &resolution);
  const double granularity = static_cast<double>(resolution.tv_nsec) / 1000.0 + 0.002;
  // Per frame and cycle: the recording's times on both clocks.
  std::map<std::pair<long long, std::string>, std::pair<double, double>> recorded;
  double lastTime = -1.0;
  for (int frame = 0; frame < kFrames; ++frame) {
    std::vector<std::pair<std::string, std::string>> cycles;
    for (std::size_t k = 0; k < chart.size(); ++k) {
      const auto& row = rows[1 + frame * chart.size() + k];
      ASSERT_EQ(row.size(), 6u);
      const double wall = std::stod(row[4]);
      // A character's cycles are measured on the steady clock only.
      const bool character = row[2].rfind("Evaluation/Character ", 0) == 0;
      EXPECT_EQ(row[5].empty(), character) << row[2];
      const double cpu = character ? -1.0 : std::stod(row[5]);
      recorded[{frame, row[2]}] = {wall, cpu};
      // Every cycle but the period runs on one thread, whose CPU time
      // cannot exceed the wall time around it; the period's is the whole
      // process's, every thread's.
      if (row[2] != "Devices") {
        EXPECT_LE(cpu, wall + granularity) << "frame " << frame << " " << row[2];
      }
      EXPECT_EQ(row[0], std::to_string(frame));
      const double time = std::stod(row[1]);
      if (k == 0) {
        EXPECT_GT(time, lastTime);
        lastTime = time;
      }
      EXPECT_EQ(time, lastTime);
      EXPECT_GE(std::stod(row[4]), 0.0) << row[2];
      const std::size_t slash = row[2].rfind('/');
      cycles.emplace_back(slash == std::string::npos ? row[2] : row[2].substr(slash + 1), row[3]);
    }
    EXPECT_EQ(cycles, chart) << "frame " << frame;
  }
  // The names the outputs keep: the recording's cycle paths, in the
  // chart's order, and the trace's event names.
  std::vector<std::string> paths;
  for (std::size_t k = 0; k < chart.size(); ++k) paths.push_back(rows[1 + k][2]);
  EXPECT_EQ(paths, (std::vector<std::string>{
                       "Frame", "Present", "Devices", "Input", "Animation", "Evaluation",
                       "Evaluation/Character 1", "Evaluation/Character 1/Skeleton",
                       "Evaluation/Character 1/Constraints", "Evaluation/Character 2",
                       "Evaluation/Character 2/Skeleton", "Evaluation/Character 2/Constraints",
                       "Deformation", "Upload", "Rendering", "Rendering/Culling",
                       "Rendering/Submission", "Tool Paint", "Scene Update"}));

  // The trace: complete events with name, ts and dur, each child inside
  // one of its parent's events of the same frame, pool work inside its
  // cycle, some of it off the loop's thread. Each cycle's events carry the
  // recording's times of that frame: its event's length, or the
  // measured_us of an event that is not its time alone, and its cpu_us.
  const nlohmann::json document = nlohmann::json::parse(ReadAll(trace));
  const nlohmann::json& events = document.at("traceEvents");
  std::set<std::pair<long long, std::string>> traced;
  for (const auto& e : events) {
    if (e.at("ph") != "X" || e.at("cat") != "cycle") continue;
    const auto key = std::make_pair(e.at("args").at("frame").get<long long>(),
                                    e.at("args").at("cycle").get<std::string>());
    const auto found = recorded.find(key);
    ASSERT_NE(found, recorded.end()) << e.dump();
    const nlohmann::json& carried = e.at("args");
    const double wall = carried.contains("measured_us") ? carried.at("measured_us").get<double>()
                                                        : e.at("dur").get<double>();
    EXPECT_NEAR(wall, found->second.first, 0.002) << e.dump();
    if (found->second.second < 0.0) {
      EXPECT_TRUE(carried.at("cpu_us").is_null()) << e.dump();
    } else {
      EXPECT_NEAR(carried.at("cpu_us").get<double>(), found->second.second, 0.002) << e.dump();
    }
    traced.insert(key);
  }
  EXPECT_EQ(traced.size(), recorded.size());
  std::set<std::string> names;
  std::set<std::string> poolNames;
  for (const auto& e : events) {
    if (e.at("ph") != "X") continue;
    (e.at("cat") == "cycle" ? names : poolNames).insert(e.at("name").get<std::string>());
  }
  EXPECT_EQ(names, (std::set<std::string>{"Frame (1 of 2)", "Frame (2 of 2)", "Present (1 of 2)",
                                          "Present (2 of 2)", "Devices", "Input", "Animation",
                                          "Evaluation", "Character 1", "Character 2", "Skeleton",
                                          "Constraints", "Deformation", "Upload", "Rendering",
                                          "Culling", "Submission", "Tool Paint", "Scene Update"}));
  // A pool thread's share of a parallel pass is named by its cycle.
  for (const std::string& name : poolNames) {
    EXPECT_TRUE(name == "Animation" || name == "Deformation") << name;
  }
  std::map<std::pair<long long, std::string>, std::vector<std::pair<double, double>>> spans;
  int complete = 0;
  int loopThread = -1;
  for (const auto& e : events) {
    ASSERT_TRUE(e.contains("name") && e.contains("ts") && e.contains("dur")) << e.dump();
    if (e.at("ph") != "X") continue;
    ++complete;
    ASSERT_GE(e.at("dur").get<double>(), 0.0);
    if (e.at("args").at("cycle") == "Frame") loopThread = e.at("tid").get<int>();
    if (e.at("cat") == "cycle") {
      spans[{e.at("args").at("frame").get<long long>(), e.at("args").at("cycle")}].emplace_back(
          e.at("ts").get<double>(), e.at("ts").get<double>() + e.at("dur").get<double>());
    }
  }
  EXPECT_GE(complete, kFrames * static_cast<int>(chart.size()));
  bool offLoop = false;
  for (const auto& e : events) {
    if (e.at("ph") != "X") continue;
    const std::string path = e.at("args").at("cycle");
    const std::size_t slash = path.rfind('/');
    if (e.at("tid").get<int>() != loopThread) offLoop = true;
    const bool pool = e.at("cat") == "pool";
    if (slash == std::string::npos && !pool) continue;
    const std::string parent = pool ? path : path.substr(0, slash);
    const auto found = spans.find({e.at("args").at("frame").get<long long>(), parent});
    ASSERT_NE(found, spans.end()) << e.dump();
    const double begin = e.at("ts").get<double>();
    const double end = begin + e.at("dur").get<double>();
    bool inside = false;
    for (const auto& [b, x] : found->second) inside |= b <= begin + 1e-3 && end <= x + 1e-3;
    EXPECT_TRUE(inside) << e.dump();
  }
  EXPECT_TRUE(offLoop) << "no event on a pool thread";
}

TEST(KhostMeasure, AKilledRunKeepsItsRecordingAtThePath) {
  Workspace w;
  const fs::path record = w.Path("frames.csv");
  std::ofstream(record) << "an older recording\n";
  // Far more frames than the run gets through before it is killed.
  const RunResult r = w.Run({"--headless", "--frames", "1000000", "--config-dir",
                             KHOST_SHIPPED_CONFIG, "--record", record.string()},
                            {}, 8);
  ASSERT_EQ(r.Status, 128 + SIGKILL) << r.Err;
  const std::string text = ReadAll(record);
  EXPECT_EQ(text.rfind("frame,time_ms,cycle,depth,duration_us,cpu_us\n", 0), 0u)
      << text.substr(0, 200);
  EXPECT_EQ(text.find("older"), std::string::npos);
  // It is written in whole rows, so the kill leaves no torn last row.
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << text.substr(text.size() - std::min<std::size_t>(text.size(), 80));
  // Nothing is left beside it.
  for (const auto& entry : fs::directory_iterator(w.Path("."))) {
    EXPECT_EQ(entry.path().filename().string().rfind(".frames.csv", 0), std::string::npos);
    EXPECT_EQ(entry.path().filename().string().rfind(".khost-", 0), std::string::npos);
  }
}

TEST(KhostMeasure, ARefusedActionLeavesAnOlderRecordingAlone) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path record = w.Path("frames.csv");
  // Actions and a comparison's values are checked against the tool as
  // built, before the first frame and before any output is opened.
  const std::vector<std::vector<std::string>> refused = {
      {"--set", "No Such Editor=1"},
      {"--select", "Nowhere"},
      {"--compare", "Frustum Culling=1,7", "--frames", "29", "--compare-block", "7"},
      // The same value twice is no comparison.
      {"--compare", "Node Count=40,040", "--frames", "29", "--compare-block", "7"}};
  for (const std::vector<std::string>& extra : refused) {
    std::ofstream(record) << "an older recording\n";
    std::vector<std::string> args = {"--headless",   "--frames",      "3",
                                     "--config-dir", config.string(), "--record",
                                     record.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = w.Run(args);
    EXPECT_EQ(r.Status, 2) << extra[1] << ": " << r.Err;
    EXPECT_EQ(ReadAll(record), "an older recording\n") << extra[1];
    for (const auto& entry : fs::directory_iterator(w.Path("."))) {
      EXPECT_EQ(entry.path().filename().string().rfind(".frames.csv", 0), std::string::npos);
    }
  }
  // Before any output is opened: a FIFO nobody reads, which opening
  // refuses (status 1), is not reached.
  const fs::path fifo = w.Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const RunResult r = w.Run({"--headless", "--frames", "3", "--config-dir", config.string(),
                             "--trace", fifo.string(), "--select", "Nowhere"});
  EXPECT_EQ(r.Status, 2) << r.Err;
  EXPECT_NE(r.Err.find("'Nowhere'"), std::string::npos) << r.Err;
}

TEST(KhostMeasure, OutputsThatAreOneFileOrAnInputAreRefusedBeforeAnythingIsWritten) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path target = w.Path("out.csv");
  const fs::path link = w.Path("link.csv");
  const std::string application = (config / "Application.txt").string();
  const std::string before = ReadAll(application);
  const std::vector<std::vector<std::string>> refused = {
      {"--record", target.string(), "--trace", target.string()},
      {"--record", target.string(), "--stats", link.string()},  // a link to it
      {"--screenshot", target.string(), "--window-screenshot", target.string()},
      {"--trace", application}};
  for (const std::vector<std::string>& outputs : refused) {
    std::ofstream(target) << "older\n";
    fs::remove(link);
    fs::create_symlink(target, link);
    std::vector<std::string> args = {"--headless", "--frames", "3", "--config-dir",
                                     config.string()};
    args.insert(args.end(), outputs.begin(), outputs.end());
    const RunResult r = w.Run(args);
    EXPECT_EQ(r.Status, 2) << outputs[0] << " " << outputs[1] << ": " << r.Err;
    EXPECT_NE(r.Err.find(outputs[0]), std::string::npos) << r.Err;
    EXPECT_EQ(ReadAll(target), "older\n") << outputs[0];
    EXPECT_EQ(ReadAll(application), before);
    EXPECT_FALSE(fs::exists(w.Path("profiling-center.png")));
  }
}

}  // namespace

// Whatever changes a compared setting during a block (here a scripted
// --set after frame 19, inside the third block, the second of A) leaves
// that block out; the table says so and counts only the blocks that ran
// their value throughout. A number field the host rounds is shown as the
// scene ran it, and values that round to one are refused as no comparison.
TEST(KhostMeasure, ABlockWhoseSettingWasChangedIsLeftOutAndTheValuesShownAreTheOnesThatRan) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  // Six whole blocks of 8 frames (2 counted): A, B, A, B, A, B.
  const RunResult r =
      w.Run(w.Headless(50, config,
                       {"--scene", "builtin", "--compare", "Frustum Culling=0,1", "--compare-block",
                        "8", "--at", "19", "--set", "Frustum Culling=1", "--print-settings"}),
            {}, 300);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("A = 0, B = 1; 2 blocks of A and 3 of B, 8 frames each (2 counted), 4 + 6 "
                       "frames; 1 block left out ("),
            std::string::npos)
      << r.Out;

  // Undisturbed, nothing is left out and nothing is said of it.
  const RunResult quiet = w.Run(w.Headless(50, config,
                                           {"--scene", "builtin", "--compare",
                                            "Frustum Culling=0,1", "--compare-block", "8"}),
                                {}, 300);
  ASSERT_EQ(quiet.Status, 0) << quiet.Err;
  EXPECT_NE(quiet.Out.find("3 blocks of A and 3 of B, 8 frames each (2 counted), 6 + 6 frames; "
                           "wall-clock"),
            std::string::npos)
      << quiet.Out;

  // The builtin characters have 23, 27 and 31 joints: 41 nodes run as one
  // character (23) coming down from B, and 60 as three (81) going up.
  const RunResult rounded = w.Run(
      w.Headless(50, config,
                 {"--scene", "builtin", "--compare", "Node Count=41,60", "--compare-block", "8"}),
      {}, 300);
  ASSERT_EQ(rounded.Status, 0) << rounded.Err;
  EXPECT_NE(rounded.Out.find("A = 23 (asked 41), B = 81 (asked 60); "), std::string::npos)
      << rounded.Out;

  // 1 and 2 both run as one character, the fewest a scene has: the blocks
  // of A and B ran alike, which is no comparison.
  const fs::path csv = w.Path("same.csv");
  const RunResult same = w.Run(w.Headless(50, config,
                                          {"--scene", "builtin", "--compare", "Node Count=1,2",
                                           "--compare-block", "8", "--compare-csv", csv.string()}),
                               {}, 300);
  EXPECT_EQ(same.Status, 1) << same.Err;
  EXPECT_NE(same.Err.find("A and B both ran 'Node Count' = "), std::string::npos) << same.Err;
  EXPECT_FALSE(fs::exists(csv));
}

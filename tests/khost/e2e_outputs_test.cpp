// End-to-end: what khost's outputs hold when a reader opens them (the
// trace's slices nest on every track, the statistics list the chart's rows)
// and what a run that is interrupted leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "khost/e2e_support.h"
#include "ksurface.h"

namespace {

using namespace khost_e2e;
namespace fs = std::filesystem;

struct Slice {
  long long Start = 0;  // nanoseconds
  long long End = 0;
  std::string Name;
};

// The slices of every track that lie across another's end: each pair as
// "outer / inner (frame F)". Slices sharing an end point are fine.
std::vector<std::string> PartialOverlaps(const nlohmann::json& trace) {
  std::map<std::pair<long long, long long>, std::vector<Slice>> tracks;
  for (const auto& e : trace.at("traceEvents")) {
    if (e.at("ph") != "X") continue;
    const long long start = std::llround(e.at("ts").get<double>() * 1000.0);
    const long long dur = std::llround(e.at("dur").get<double>() * 1000.0);
    EXPECT_GE(dur, 0) << e.dump();
    tracks[{e.at("pid").get<long long>(), e.at("tid").get<long long>()}].push_back(
        {start, start + dur,
         e.at("name").get<std::string>() + " (frame " +
             std::to_string(e.at("args").at("frame").get<long long>()) + ")"});
  }
  std::vector<std::string> overlaps;
  for (auto& [track, slices] : tracks) {
    std::sort(slices.begin(), slices.end(), [](const Slice& a, const Slice& b) {
      return std::tie(a.Start, b.End) < std::tie(b.Start, a.End);
    });
    std::vector<const Slice*> open;  // the slices holding the current one
    for (const Slice& s : slices) {
      while (!open.empty() && open.back()->End <= s.Start) open.pop_back();
      if (!open.empty() && s.End > open.back()->End) {
        overlaps.push_back("tid " + std::to_string(track.second) + ": " + open.back()->Name +
                           " / " + s.Name);
      }
      open.push_back(&s);
    }
  }
  return overlaps;
}

TEST(KhostTrace, SlicesAreRealIntervalsThatNestOnEveryTrack) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 1\n"
      "ProfilingType = 1\n",
      "[Scene]\nCharacters = 6\n");
  // Every engine setting off, then on (GPU skinning apart, as it leaves
  // nothing for parallel deformation), repainting every frame and not.
  struct Case {
    std::vector<std::string> Sets;
    std::vector<std::string> Flags;
  };
  const std::vector<Case> cases = {
      {{"Frustum Culling=0"}, {}},
      {{"Parallel Pipeline=1", "Parallel Evaluation=Parallel", "Parallel Deformation=1"}, {}},
      {{"GPU Skinning=1", "Parallel Pipeline=1"}, {"--ui-rate", "0"}}};
  const fs::path trace = w.Path("trace.json");
  for (const Case& c : cases) {
    std::vector<std::string> more = {"--trace", trace.string()};
    for (const std::string& s : c.Sets) more.insert(more.end(), {"--set", s});
    more.insert(more.end(), c.Flags.begin(), c.Flags.end());
    const std::string what = ::testing::PrintToString(c.Sets);
    const RunResult r = w.Run(w.Headless(24, config, more));
    ASSERT_EQ(r.Status, 0) << what << r.Err;
    const nlohmann::json document = nlohmann::json::parse(ReadAll(trace));
    const std::vector<std::string> overlaps = PartialOverlaps(document);
    EXPECT_TRUE(overlaps.empty()) << what << ": " << overlaps.size() << " partial overlaps, first "
                                  << overlaps.front();

    // Per frame on the loop: one "Rendering" holding culling and
    // submission; "Frame" and "Present" as two pieces each that add up to
    // their measured times, but for the tool paint's wait.
    std::map<long long, std::map<std::string, std::vector<nlohmann::json>>> frames;
    for (const auto& e : document.at("traceEvents")) {
      if (e.at("ph") == "X" && e.at("cat") == "cycle") {
        frames[e.at("args").at("frame").get<long long>()][e.at("name").get<std::string>()]
            .push_back(e);
      }
    }
    ASSERT_EQ(frames.size(), 24u) << what;
    for (auto& [frame, byName] : frames) {
      ASSERT_EQ(byName["Rendering"].size(), 1u) << what << " frame " << frame;
      const nlohmann::json& rendering = byName["Rendering"][0];
      const double begin = rendering.at("ts").get<double>();
      const double end = begin + rendering.at("dur").get<double>();
      double parts = 0.0;
      for (const char* part : {"Culling", "Submission"}) {
        ASSERT_EQ(byName[part].size(), 1u) << what << " " << part;
        const nlohmann::json& p = byName[part][0];
        EXPECT_GE(p.at("ts").get<double>(), begin - 1e-3);
        EXPECT_LE(p.at("ts").get<double>() + p.at("dur").get<double>(), end + 1e-3);
        parts += p.at("dur").get<double>();
      }
      EXPECT_NEAR(rendering.at("args").at("measured_us").get<double>(), parts, 0.01);
      // The tool paint's wait for the renderer: the part of its event that
      // is not its own work, counted in Present instead of Frame.
      double wait = 0.0;
      for (const nlohmann::json& paint : byName["Tool Paint"]) {
        if (paint.at("args").contains("measured_us")) {
          wait = paint.at("dur").get<double>() - paint.at("args").at("measured_us").get<double>();
          EXPECT_GT(wait, 0.0);
          // The own work is at least the paint's CPU time.
          EXPECT_GE(paint.at("args").at("measured_us").get<double>(),
                    paint.at("args").at("cpu_us").get<double>() - 0.01);
        }
      }
      for (const std::string cycle : {"Frame", "Present"}) {
        const auto& first = byName[cycle + " (1 of 2)"];
        const auto& second = byName[cycle + " (2 of 2)"];
        ASSERT_EQ(first.size(), 1u) << what << " " << cycle << " frame " << frame;
        ASSERT_EQ(second.size(), 1u) << what << " " << cycle << " frame " << frame;
        EXPECT_TRUE(byName[cycle].empty());
        EXPECT_NEAR(first[0].at("dur").get<double>() + second[0].at("dur").get<double>() +
                        (cycle == "Frame" ? -wait : wait),
                    first[0].at("args").at("measured_us").get<double>(), 0.02)
            << what << " " << cycle;
      }
    }
  }
}

// The statistics' rows follow the chart: the upper block, then what the
// display selector shows at the end of the run (the whole lower block for
// DisplayAll), the children with the evaluation depth. The names and depths
// are those of the module's chart.
TEST(KhostStatistics, RowsAndNamesFollowTheDisplayedCycle) {
  Workspace w;
  const fs::path config = w.Config(
      "[Benchmark]\nBufferSize = 20\nFrameReference = Yes\nEvaluationDepth = 1\n"
      "ProfilingType = 1\n",
      kSmallScene);
  const std::string upper = "Frame,0;Present,0;";
  const std::string evaluation =
      "Evaluation,0;Character 1,1;Skeleton,2;Constraints,2;Character 2,1;Skeleton,2;"
      "Constraints,2;";
  const std::string rendering = "Rendering,0;Culling,1;Submission,1;";
  const std::string all = upper + "Devices,0;Input,0;Animation,0;" + evaluation +
                          "Deformation,0;Upload,0;" + rendering + "Tool Paint,0;Scene Update,0;";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, all},
      {{"--select", "Evaluation"}, upper + evaluation},
      {{"--select", "Rendering"}, upper + rendering},
      {{"--select", "Devices"}, upper + "Devices,0;"},
      {{"--select", "Rendering", "--select", "DisplayAll"}, all},
      {{"--select", "Devices", "--set", "Evaluation Depth=0"}, upper + "Devices,0;"},
      {{"--set", "Evaluation Depth=0"},
       upper + "Devices,0;Input,0;Animation,0;Evaluation,0;Deformation,0;Upload,0;Rendering,0;"
               "Tool Paint,0;Scene Update,0;"},
      // Off, the chart goes away but its rows keep the numbers they had.
      {{"--set", "Profiling Mode=Off"}, all},
  };
  for (const auto& [more, expected] : cases) {
    std::vector<std::string> args = {"--scene", "builtin", "--stats", w.Path("s.csv").string()};
    args.insert(args.end(), more.begin(), more.end());
    const RunResult r = w.Run(w.Headless(3, config, args));
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::istringstream in(ReadAll(w.Path("s.csv")));
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header,
              "name,depth,average_us,minimum_us,maximum_us,average_cpu_us,frames,median_us,p95_us,"
              "p99_us,p999_us");
    std::string rows;
    for (std::string line; std::getline(in, line);) {
      const std::size_t second = line.find(',', line.find(',') + 1);
      rows += line.substr(0, second) + ";";
    }
    EXPECT_EQ(rows, expected) << (more.empty() ? "" : more.back());
  }
}

TEST(KhostSignals, AnInterruptedRunFinishesEveryOutputAndSaysSo) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  const fs::path record = w.Path("frames.csv");
  const fs::path trace = w.Path("trace.json");
  const fs::path stats = w.Path("stats.csv");
  const fs::path shot = w.Path("shot.png");
  const fs::path report = w.Path("report.html");
  const std::vector<std::string> args = {
      "--headless",   "--frames",      "1000000",     "--config-dir", config.string(),
      "--record",     record.string(), "--trace",     trace.string(), "--stats",
      stats.string(), "--screenshot",  shot.string(), "--report",     report.string()};

  // SIGINT while it runs: the frame completes, the outputs are finished.
  const pid_t pid = w.Start(args);
  ASSERT_TRUE(WaitForGrowth(record, 4096));
  kill(pid, SIGINT);
  const RunResult r = w.Wait(pid, 60);
  ASSERT_EQ(r.Status, 128 + SIGINT) << r.Err;
  EXPECT_NE(r.Err.find("interrupted by SIGINT"), std::string::npos) << r.Err;
  const nlohmann::json document = nlohmann::json::parse(ReadAll(trace));
  EXPECT_GT(document.at("traceEvents").size(), 100u);
  const std::string rows = ReadAll(record);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back(), '\n');
  const std::string last = rows.substr(rows.rfind('\n', rows.size() - 2) + 1);
  EXPECT_EQ(std::count(last.begin(), last.end(), ','), 5) << last;
  EXPECT_EQ(ReadAll(stats).rfind(
                "name,depth,average_us,minimum_us,maximum_us,average_cpu_us,frames,median_us,"
                "p95_us,p99_us,p999_us\nFrame,0,",
                0),
            0u);
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
  std::string error;
  EXPECT_TRUE(KPng_Read(shot.c_str(), width, height, pixels, &error)) << error;
  // The report of the frames that ran, a whole page.
  const std::string page = ReadAll(report);
  ASSERT_GT(page.size(), 8u);
  EXPECT_NE(page.find("(1000000 planned)"), std::string::npos);
  EXPECT_NE(page.find("</svg>\n<h2>Frame periods: histogram"), std::string::npos);
  EXPECT_EQ(page.substr(page.size() - 8), "</html>\n");
  const std::vector<std::string> expected = {"config0",    "frames.csv", "report.html",
                                             "shot.png",   "stats.csv",  "stderr.txt",
                                             "stdout.txt", "trace.json"};
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(w.Path("."))) {
    entries.push_back(entry.path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, expected);

#if !defined(__SANITIZE_THREAD__)
  // Two signals (two kinds, which the kernel does not merge): it stops at
  // once, leaving no temporary and the older trace as it was. Left out under
  // ThreadSanitizer, which holds a handler back until the thread next calls
  // into the C library, so the second one can run only after the outputs
  // were finished.
  std::ofstream(trace) << "an older trace\n";
  fs::remove(record);
  const pid_t again = w.Start(args);
  ASSERT_TRUE(WaitForGrowth(record, 4096));
  kill(again, SIGINT);
  kill(again, SIGTERM);
  const RunResult twice = w.Wait(again, 60);
  EXPECT_TRUE(twice.Status == 128 + SIGINT || twice.Status == 128 + SIGTERM) << twice.Status;
  EXPECT_NE(twice.Err.find("stopped at once"), std::string::npos) << twice.Err;
  EXPECT_EQ(ReadAll(trace), "an older trace\n");
  for (const auto& entry : fs::directory_iterator(w.Path("."))) {
    EXPECT_EQ(entry.path().filename().string().rfind(".khost-", 0), std::string::npos);
  }
#endif
}

TEST(KhostMessages, EchoedTextShowsControlCharactersEscaped) {
  Workspace w;
  const fs::path config = w.Config(kQuietApplication, kSmallScene);
  // A terminal title sequence as a display item and as a --set value.
  for (const std::vector<std::string>& action :
       {std::vector<std::string>{"--select", "\x1b]0;x\x07"},
        std::vector<std::string>{"--set", "Frustum Culling=\x1b]0;x\x07"}}) {
    const RunResult r = w.Run(w.Headless(2, config, action));
    EXPECT_EQ(r.Status, 2) << r.Err;
    EXPECT_NE(r.Err.find("\\e]0;x\\a"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find('\x1b'), std::string::npos);
    EXPECT_EQ(r.Err.find('\x07'), std::string::npos);
  }
}

}  // namespace

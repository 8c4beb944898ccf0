// End-to-end: what khost's outputs hold when a reader opens them (the
// trace's slices nest on every track) and what a run that is interrupted
// leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "khost/e2e_support.h"

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
    // their measured times.
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
      for (const std::string cycle : {"Frame", "Present"}) {
        const auto& first = byName[cycle + " (1 of 2)"];
        const auto& second = byName[cycle + " (2 of 2)"];
        ASSERT_EQ(first.size(), 1u) << what << " " << cycle << " frame " << frame;
        ASSERT_EQ(second.size(), 1u) << what << " " << cycle << " frame " << frame;
        EXPECT_TRUE(byName[cycle].empty());
        EXPECT_NEAR(first[0].at("dur").get<double>() + second[0].at("dur").get<double>(),
                    first[0].at("args").at("measured_us").get<double>(), 0.01)
            << what << " " << cycle;
      }
    }
  }
}

}  // namespace

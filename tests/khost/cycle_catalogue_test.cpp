#include "khost/frame/cycle_catalogue.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "khost/experiments/tune_run.h"
#include "khost/frame/frame_capture.h"
#include "khost/frame/profiler_feed.h"
#include "khost/outputs/frame_outputs.h"
#include "standin/kbaselib/profiler.h"

namespace {

using namespace khost;
using std::chrono::microseconds;

// A stage the workload does not have: the test measures it.
constexpr WorkStage kStageOcclusion = kStageCount;

// The standard catalogue with one more child of Rendering, after
// Submission, measured by the occlusion stage: the one row that adding a
// cycle takes.
std::vector<CycleRow> WithOcclusion() {
  const CycleCatalogue& standard = CycleCatalogue::Standard();
  std::vector<CycleRow> rows(standard.Rows().begin(), standard.Rows().end());
  rows.push_back({"Occlusion", ChildOf("Rendering"), {0.9f, 0.6f, 0.2f}, kStageOcclusion, true});
  return rows;
}

// Every cycle a frame outputs, from its names.
TEST(KhostCycleCatalogue, AnAddedChildCycleReachesEveryOutput) {
  const std::vector<CycleRow> rows = WithOcclusion();
  const CycleCatalogue catalogue(rows, CycleCatalogue::Standard().Characters());

  // One frame of two characters, the occlusion stage between culling and
  // submission.
  const TimePoint start = TimePoint{} + std::chrono::seconds(10);
  StageTiming stages[kStageCount + 1] = {};
  for (StageTiming& s : stages) s = {start, 10.0, 9.0, 0};
  stages[kStageCulling] = {start + microseconds(100), 4.0, 3.0, 0};
  stages[kStageOcclusion] = {start + microseconds(110), 20.0, 18.0, 0};
  stages[kStageSubmission] = {start + microseconds(300), 6.0, 5.0, 0};
  const std::vector<CharacterTimings> characters = {{{3, 1, 2}, start, 0}, {{3, 1, 2}, start, 0}};
  MeasuredFrame frame;
  frame.Start = start;
  for (CycleTiming& loop : frame.Loops) {
    loop.Micros = 100.0;
    loop.CpuMicros = 90.0;
    loop.Parts[0] = {start, start + microseconds(100)};
    loop.PartCount = 1;
  }
  frame.Stages = stages;
  frame.Characters = characters;

  // The profiler's tree: Rendering's third child, and Rendering the sum of
  // its children.
  KProfiler* profiler = KProfiler::TheOne();
  int on = 1;
  profiler->ProfilingType.SetFromPointer(&on, 0, 0);
  profiler->EvaluationDepth = 1;
  profiler->FrameReference = true;
  {
    ProfilerFeed feed(catalogue);
    feed.SetCharacterCount(2);
    feed.Install();
    feed.Publish(frame);
    KProfilingSampling* rendering = profiler->RootCycles[kSlotRendering];
    ASSERT_EQ(rendering->GetChildCount(1), 3);
    EXPECT_STREQ(rendering->GetChild(1, 2)->GetName(), "Occlusion");
    EXPECT_EQ(rendering->GetAvgUsage(), 30u);
    // --stats: its row under Rendering, with its CPU time.
    std::ostringstream stats;
    WriteChartRowsCsv(feed.ChartRows(kSlotRendering), stats);
    EXPECT_NE(
        stats.str().find("\nRendering,0,30.000,30.000,30.000,26.000,0,0.000,0.000,0.000,0.000\n"
                         "Culling,1,4.000,4.000,4.000,3.000,0,0.000,0.000,0.000,0.000\n"
                         "Submission,1,6.000,6.000,6.000,5.000,0,0.000,0.000,0.000,0.000\n"
                         "Occlusion,1,20.000,20.000,20.000,18.000,0,0.000,0.000,0.000,0.000\n"),
        std::string::npos)
        << stats.str();
    feed.Uninstall();
  }
  profiler->EvaluationDepth = 0;

  // --record and --trace: its path after Submission's, its event inside
  // Rendering's.
  FrameCapture capture(catalogue);
  std::ostringstream record;
  std::ostringstream trace;
  FrameRecorder recorder(record);
  TraceWriter writer(trace);
  capture.AddSink(&recorder);
  capture.AddSink(&writer);
  capture.Capture(frame);
  ASSERT_TRUE(recorder.Finish());
  ASSERT_TRUE(writer.Finish());
  std::istringstream lines(record.str());
  std::string header;
  std::getline(lines, header);
  EXPECT_EQ(header, "frame,time_ms,cycle,depth,duration_us,cpu_us");
  std::vector<std::string> paths;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t cycle = line.find(',', line.find(',') + 1) + 1;
    paths.push_back(line.substr(cycle, line.find(',', line.find(',', cycle) + 1) - cycle));
  }
  EXPECT_EQ(paths, (std::vector<std::string>{
                       "Frame,0",
                       "Present,0",
                       "Devices,0",
                       "Input,0",
                       "Animation,0",
                       "Evaluation,0",
                       "Evaluation/Character 1,1",
                       "Evaluation/Character 1/Skeleton,2",
                       "Evaluation/Character 1/Constraints,2",
                       "Evaluation/Character 2,1",
                       "Evaluation/Character 2/Skeleton,2",
                       "Evaluation/Character 2/Constraints,2",
                       "Deformation,0",
                       "Upload,0",
                       "Rendering,0",
                       "Rendering/Culling,1",
                       "Rendering/Submission,1",
                       "Rendering/Occlusion,1",
                       "Tool Paint,0",
                       "Scene Update,0",
                   }));
  const nlohmann::json events = nlohmann::json::parse(trace.str()).at("traceEvents");
  const nlohmann::json* occlusion = nullptr;
  const nlohmann::json* rendering = nullptr;
  for (const nlohmann::json& e : events) {
    if (e.at("name") == "Occlusion") occlusion = &e;
    if (e.at("name") == "Rendering") rendering = &e;
  }
  ASSERT_TRUE(occlusion && rendering);
  EXPECT_EQ(occlusion->at("args").at("cycle"), "Rendering/Occlusion");
  EXPECT_EQ(occlusion->at("args").at("cpu_us"), 18.0);
  EXPECT_EQ(occlusion->at("ts").get<double>(), rendering->at("ts").get<double>() + 10.0);
  EXPECT_EQ(rendering->at("dur").get<double>(), 206.0);  // culling's start to submission's end
  EXPECT_EQ(rendering->at("args").at("measured_us"), 30.0);

  // --tune-target: known, on either clock; unknown without the row.
  EXPECT_TRUE(CheckTuneTarget("Rendering/Occlusion", MeasureClock::kCpu, 2, catalogue));
  const Status unknown = CheckTuneTarget("Rendering/Occlusion", MeasureClock::kWall, 2);
  ASSERT_FALSE(unknown);
  EXPECT_NE(
      unknown.GetError().Message.find("'Rendering/Culling', 'Rendering/Submission', 'Tool Paint'"),
      std::string::npos)
      << unknown.GetError().Message;
}

// The characters' cycles are a pattern: named and ordered for any count,
// on the steady clock only, and a target only within the scene's count.
TEST(KhostCycleCatalogue, TheCharacterPatternNamesEveryCharacterAndOnlyThose) {
  const CycleCatalogue& standard = CycleCatalogue::Standard();
  const CapturedCycle skeleton = standard.NamedCharacter(11, 1);
  EXPECT_EQ(skeleton.Path, "Evaluation/Character 12/Skeleton");
  EXPECT_EQ(skeleton.Name, "Skeleton");
  EXPECT_EQ(skeleton.Depth, 2);
  const int evaluation = standard.RootOfSlot(kSlotEvaluation);
  EXPECT_EQ(skeleton.Order[0], standard.Named(evaluation).Order[0]);
  EXPECT_EQ(skeleton.Order[1], 12);
  EXPECT_TRUE(standard.Find("Evaluation/Character 12/Constraints", 12).has_value());
  EXPECT_FALSE(standard.Find("Evaluation/Character 13", 12).has_value());
  EXPECT_FALSE(standard.Find("Evaluation/Character 0", 12).has_value());
  EXPECT_FALSE(standard.Find("Evaluation/Character 012", 12).has_value());
  const Status cpu =
      CheckTuneTarget("Evaluation/Character 2/Skeleton", MeasureClock::kCpu, 2, standard);
  ASSERT_FALSE(cpu);
  EXPECT_NE(cpu.GetError().Message.find("steady clock only"), std::string::npos);
  EXPECT_TRUE(CheckTuneTarget("Evaluation/Character 2/Skeleton", MeasureClock::kWall, 2));
}

// A table that does not hold together is refused when it is built.
TEST(KhostCycleCatalogue, ATableThatDoesNotHoldTogetherIsRefused) {
  const CharacterPattern none;
  const auto build = [&](const std::vector<CycleRow>& rows) {
    const CycleCatalogue built(rows, none);
  };
  const CycleRow frame = {"Frame", Upper(kSlotFrame)};
  const CycleRow devices = {"Devices", Lower(kSlotDevices)};
  const CycleRow child = {"Child", ChildOf("Devices")};
  EXPECT_NO_THROW(build({frame, devices, child}));
  EXPECT_THROW(build({frame, child, devices}), std::invalid_argument);  // child first
  EXPECT_THROW(build({frame, devices, {"Again", Lower(kSlotDevices)}}), std::invalid_argument);
  EXPECT_THROW(build({frame, devices, {"Outside", Lower(KProfiler::kRootCycleCount)}}),
               std::invalid_argument);
  EXPECT_THROW(build({devices, frame}), std::invalid_argument);  // upper after lower
  EXPECT_THROW(build({frame, devices, child, child}), std::invalid_argument);
  EXPECT_THROW(build({frame,
                      devices,
                      child,
                      {"Grandchild", ChildOf("Child")},
                      {"Deeper", ChildOf("Grandchild")}}),
               std::invalid_argument);
  const std::vector<CycleRow> alone = {frame};
  const CharacterPattern nowhere = {"Nowhere", CycleCatalogue::Standard().Characters().Rows};
  EXPECT_THROW(const CycleCatalogue built(alone, nowhere), std::invalid_argument);
}

}  // namespace

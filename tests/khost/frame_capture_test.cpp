#include "khost/frame/frame_capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "khost/frame/frame_clock.h"

namespace {

using namespace khost;
using std::chrono::microseconds;

// Keeps what the capture hands on.
class Keep : public FrameSink {
 public:
  void Take(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) override {
    Frames.push_back(frame);
    Cycles = cycles;
  }
  // The frame's sample of `path` (Cycle -1 when the frame lists none).
  CycleSample Find(std::size_t frame, const std::string& path) const {
    for (const CycleSample& c : Frames[frame].Cycles) {
      if (Cycles[static_cast<std::size_t>(c.Cycle)].Path == path) return c;
    }
    CycleSample none;
    none.Cycle = -1;
    return none;
  }
  std::vector<FrameSample> Frames;
  std::vector<CapturedCycle> Cycles;
};

const TimePoint kOrigin = TimePoint{} + std::chrono::seconds(100);

// Frame `index` starts at index * 10 ms and takes 10 ms; its work follows
// the loop's order. Every cycle's CPU time is its wall time less 1 us.
MeasuredFrame Measured(int index, FrameTimings& work) {
  const TimePoint start = kOrigin + microseconds(10000 * index);
  MeasuredFrame f;
  f.Index = index;
  f.Start = start;
  f.Loop[kSlotDevices] = {10000, 12000, start, 0};  // the process's CPU: two threads
  f.Loop[kSlotFrame] = {3000.0 + index, 2999.0 + index, start, 0};
  f.Loop[kSlotInput] = {5, 4, start + microseconds(1), 0};
  f.Loop[kSlotSceneUpdate] = {2, 1, start + microseconds(6), 0};
  f.Loop[kSlotToolPaint] = {0, 0, start, 0};  // not painted: left out
  work.Characters = {{30, 10, 20, start + microseconds(120), 1}};
  work.EvaluationStart = start + microseconds(110);
  work.Evaluation = 50;
  work.EvaluationCpu = 49;
  work.CullingStart = start + microseconds(200);
  work.Culling = 4;
  work.CullingCpu = 3;
  work.SubmissionStart = start + microseconds(400);
  work.Submission = 6;
  work.SubmissionCpu = 5;
  // The workload's stages are read from its timings: none is copied.
  f.Work = &work;
  return f;
}

TEST(KhostFrameCapture, AFrameIsHandedOnWholeInTheChartsOrderWithBothClocks) {
  FrameCapture capture;
  Keep keep;
  capture.AddSink(&keep);
  FrameTimings work;
  capture.Take(Measured(0, work));
  ASSERT_EQ(keep.Frames.size(), 1u);  // at once: nothing waits for a next frame
  capture.Take(Measured(1, work));
  ASSERT_EQ(keep.Frames.size(), 2u);

  EXPECT_EQ(keep.Frames[0].Index, 0);
  EXPECT_EQ(keep.Frames[1].StartNs, 10000000);
  EXPECT_EQ(keep.Find(0, "Frame").Micros, 3000);
  EXPECT_EQ(keep.Find(1, "Frame").Micros, 3001);
  EXPECT_EQ(keep.Find(1, "Frame").CpuMicros, 3000);
  EXPECT_EQ(keep.Find(0, "Devices").Micros, 10000);
  EXPECT_EQ(keep.Find(0, "Devices").CpuMicros, 12000);
  EXPECT_EQ(keep.Find(1, "Input").Micros, 5);
  EXPECT_EQ(keep.Find(0, "Tool Paint").Cycle, -1);  // did not run: not listed
  EXPECT_EQ(keep.Find(0, "Present").Cycle, -1);     // not measured: not listed

  // The chart's order, parents before children, paths from the root.
  std::vector<std::string> paths;
  for (const CycleSample& c : keep.Frames[0].Cycles) {
    paths.push_back(keep.Cycles[static_cast<std::size_t>(c.Cycle)].Path);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{
                       "Frame", "Devices", "Input", "Animation", "Evaluation",
                       "Evaluation/Character 1", "Evaluation/Character 1/Skeleton",
                       "Evaluation/Character 1/Constraints", "Deformation", "Upload", "Rendering",
                       "Rendering/Culling", "Rendering/Submission", "Scene Update"}));
  EXPECT_EQ(keep.Find(0, "Evaluation").Micros, 50);
  EXPECT_EQ(keep.Find(0, "Evaluation").CpuMicros, 49);
  EXPECT_EQ(keep.Find(0, "Evaluation").Parts[0].StartNs, 110000);
  EXPECT_EQ(keep.Find(0, "Rendering").Micros, 10);
  EXPECT_EQ(keep.Find(0, "Rendering").CpuMicros, 8);
  EXPECT_LT(keep.Find(0, "Evaluation/Character 1/Constraints").CpuMicros, 0.0);  // not measured

  // Where each part ran: the constraints follow the skeleton to the
  // nanosecond on the character's thread; rendering is its two parts.
  const CycleSample skeleton = keep.Find(0, "Evaluation/Character 1/Skeleton");
  const CycleSample constraints = keep.Find(0, "Evaluation/Character 1/Constraints");
  EXPECT_EQ(skeleton.Parts[0].StartNs, 120000);
  EXPECT_EQ(constraints.Parts[0].StartNs, 130000);
  EXPECT_EQ(constraints.Parts[0].EndNs, 150000);
  EXPECT_EQ(constraints.Parts[0].Thread, 1);
  // Rendering is one interval from culling's start to submission's end,
  // longer than its measured time, with its parts inside it.
  const CycleSample rendering = keep.Find(0, "Rendering");
  ASSERT_EQ(rendering.PartCount, 1);
  EXPECT_TRUE(rendering.Encloses);
  EXPECT_EQ(rendering.Parts[0].StartNs, 200000);
  EXPECT_EQ(rendering.Parts[0].EndNs, 406000);
  EXPECT_EQ(keep.Find(0, "Rendering/Submission").Parts[0].StartNs, 400000);
}

TEST(KhostFrameCapture, FrameAndPresentArePiecesAroundTheViewportsSubmission) {
  FrameCapture capture;
  Keep keep;
  capture.AddSink(&keep);
  FrameTimings work;
  MeasuredFrame f = Measured(0, work);
  // Frame 0 submits its viewport at 3 ms for 1 ms, paints the tool, and
  // swaps from 5 ms to 6 ms: work 4 ms, present 2 ms.
  f.Loop[kSlotFrame] = {4000, 3900, kOrigin, 0};
  f.Loop[kSlotPresent] = {2000, 100, kOrigin + microseconds(3000), 0};
  f.Presented = {kOrigin + microseconds(3000),
                 kOrigin + microseconds(4000),
                 kOrigin + microseconds(5000),
                 kOrigin + microseconds(6000),
                 0.0,
                 true};
  capture.Take(f);
  ASSERT_EQ(keep.Frames.size(), 1u);
  const CycleSample frame = keep.Find(0, "Frame");
  const CycleSample present = keep.Find(0, "Present");
  ASSERT_EQ(frame.PartCount, 2);
  ASSERT_EQ(present.PartCount, 2);
  EXPECT_EQ(frame.Micros, 4000);
  EXPECT_EQ(present.Micros, 2000);
  EXPECT_EQ(present.CpuMicros, 100);
  const Interval expected[4] = {
      {0, 3000000, 0}, {3000000, 4000000, 0}, {4000000, 5000000, 0}, {5000000, 6000000, 0}};
  const Interval got[4] = {frame.Parts[0], present.Parts[0], frame.Parts[1], present.Parts[1]};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(got[i].StartNs, expected[i].StartNs) << i;
    EXPECT_EQ(got[i].EndNs, expected[i].EndNs) << i;
  }
  // The pieces add up to the measured times.
  EXPECT_EQ((frame.Parts[0].EndNs - frame.Parts[0].StartNs) +
                (frame.Parts[1].EndNs - frame.Parts[1].StartNs),
            4000000);
}

// The clock's split of a paint that waits: a paint that spends 4 ms asleep
// (as one waiting for the renderer) bills that wait to Present, not to
// Tool Paint or Frame, and the periods still add up.
TEST(KhostFrameClock, APaintsWaitIsCountedInPresentNotInToolPaint) {
  FrameClock clock;
  EXPECT_EQ(clock.StartFrame(0), nullptr);
  clock.TimeSubmission([] {});
  clock.TimePaint([] {
    const long long busyUntil = ThreadCpuNanos() + 500000;
    while (ThreadCpuNanos() < busyUntil) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(4));
  });
  clock.TimeSwap([] {});
  const MeasuredFrame* done = clock.StartFrame(1);
  ASSERT_NE(done, nullptr);
  const double paint = done->Loop[kSlotToolPaint].Micros;
  const double wait = done->Presented.PaintWait;
  // The busy half millisecond of CPU time is the tool's own work.
  EXPECT_GE(paint, 500.0);
  EXPECT_LT(paint, 1500.0);
  EXPECT_GE(wait, 4000.0);
  EXPECT_GE(done->Loop[kSlotPresent].Micros, wait);
  EXPECT_LT(done->Loop[kSlotFrame].Micros, paint + 2500.0);  // no sleep in it
  // Work and presenting still make up the period.
  EXPECT_LE(done->Loop[kSlotFrame].Micros + done->Loop[kSlotPresent].Micros,
            done->Loop[kSlotDevices].Micros + 0.01);
}

}  // namespace

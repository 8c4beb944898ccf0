#include "khost/frame/frame_capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "khost/frame/frame_clock.h"

namespace {

using namespace khost;
using std::chrono::microseconds;

// Keeps what the capture hands on.
class Keep : public FrameSink {
 public:
  void Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) override {
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
  std::vector<std::string> Paths(std::size_t frame) const {
    std::vector<std::string> paths;
    for (const CycleSample& c : Frames[frame].Cycles) {
      paths.push_back(Cycles[static_cast<std::size_t>(c.Cycle)].Path);
    }
    return paths;
  }
  std::vector<FrameSample> Frames;
  std::vector<CapturedCycle> Cycles;
};

const TimePoint kOrigin = TimePoint{} + std::chrono::seconds(100);

// A loop cycle of one interval from `start`.
CycleTiming OneInterval(double micros, double cpu, TimePoint start) {
  CycleTiming t;
  t.Micros = micros;
  t.CpuMicros = cpu;
  t.Parts[0] = {start, start + microseconds(static_cast<long long>(micros))};
  t.PartCount = 1;
  return t;
}

// Frame `index` starts at index * 10 ms and takes 10 ms; its work follows
// the loop's order and did not present or repaint the tool.
MeasuredFrame Measured(int index, FrameTimings& work) {
  const TimePoint start = kOrigin + microseconds(10000 * index);
  MeasuredFrame f;
  f.Index = index;
  f.Start = start;
  f.Loops[kLoopDevices] = OneInterval(10000, 12000, start);  // the process's CPU: two threads
  f.Loops[kLoopInput] = OneInterval(5, 4, start + microseconds(1));
  f.Loops[kLoopSceneUpdate] = OneInterval(2, 1, start + microseconds(6));
  work.Characters = {{{30, 10, 20}, start + microseconds(120), 1}};
  work.Stages[kStageEvaluation] = {start + microseconds(110), 50, 49, 0};
  work.Stages[kStageCulling] = {start + microseconds(200), 4, 3, 0};
  work.Stages[kStageDeformation] = {start + microseconds(210), 100, 90, 0};
  work.Stages[kStageSubmission] = {start + microseconds(400), 6, 5, 0};
  // Deformation on the loop and on worker 2: the worker's share is kept.
  work.Shares[kStageDeformation] = {{start + microseconds(210), 90, 0},
                                    {start + microseconds(212), 80, 2}};
  // The workload's stages are read from its timings: none is copied.
  f.Stages = work.Stages;
  f.Shares = work.Shares;
  f.Characters = work.Characters;
  return f;
}

TEST(KhostFrameCapture, AFrameIsHandedOnWholeInTheChartsOrderWithBothClocks) {
  FrameCapture capture;
  Keep keep;
  capture.AddSink(&keep);
  FrameTimings work;
  capture.Capture(Measured(0, work));
  ASSERT_EQ(keep.Frames.size(), 1u);  // at once: nothing waits for a next frame
  capture.Capture(Measured(1, work));
  ASSERT_EQ(keep.Frames.size(), 2u);

  EXPECT_EQ(keep.Frames[0].Index, 0);
  EXPECT_EQ(keep.Frames[1].StartNs, 10000000);
  EXPECT_EQ(keep.Find(0, "Devices").Micros, 10000);
  EXPECT_EQ(keep.Find(0, "Devices").CpuMicros, 12000);
  EXPECT_EQ(keep.Find(1, "Input").Micros, 5);
  EXPECT_EQ(keep.Find(0, "Frame").Cycle, -1);  // did not present: not listed

  // The chart's order, parents before children, paths from the root.
  EXPECT_EQ(
      keep.Paths(0),
      (std::vector<std::string>{
          "Devices", "Input", "Animation", "Evaluation", "Evaluation/Character 1",
          "Evaluation/Character 1/Skeleton", "Evaluation/Character 1/Constraints", "Deformation",
          "Upload", "Rendering", "Rendering/Culling", "Rendering/Submission", "Scene Update"}));
  EXPECT_EQ(keep.Find(0, "Evaluation").Micros, 50);
  EXPECT_EQ(keep.Find(0, "Evaluation").CpuMicros, 49);
  EXPECT_EQ(keep.Find(0, "Evaluation").Parts[0].StartNs, 110000);
  EXPECT_EQ(keep.Find(0, "Rendering").Micros, 10);
  EXPECT_EQ(keep.Find(0, "Rendering").CpuMicros, 8);
  EXPECT_LT(keep.Find(0, "Evaluation/Character 1/Constraints").CpuMicros, 0.0);  // not measured

  // Where each part ran: the constraints follow the skeleton to the
  // nanosecond on the character's thread.
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
  // The deformation's share on another thread than its own.
  ASSERT_EQ(keep.Frames[0].Work.size(), 1u);
  EXPECT_EQ(keep.Cycles[static_cast<std::size_t>(keep.Frames[0].Work[0].Cycle)].Path,
            "Deformation");
  EXPECT_EQ(keep.Frames[0].Work[0].Span.StartNs, 212000);
  EXPECT_EQ(keep.Frames[0].Work[0].Span.EndNs, 292000);
  EXPECT_EQ(keep.Frames[0].Work[0].Span.Thread, 2);
}

// Clocks the test moves: each step advances the steady clock and the
// thread's and process's CPU clocks by what it is given.
class FakeClocks : public FrameClocks {
 public:
  TimePoint Now() override { return kOrigin + std::chrono::nanoseconds(mWallNs); }
  long long ThreadCpuNanos() override { return mThreadNs; }
  long long ProcessCpuNanos() override { return mProcessNs; }
  void Run(long long wallMicros, long long threadCpuMicros, long long otherThreadsCpuMicros = 0) {
    mWallNs += wallMicros * 1000;
    mThreadNs += threadCpuMicros * 1000;
    mProcessNs += (threadCpuMicros + otherThreadsCpuMicros) * 1000;
  }

 private:
  long long mWallNs = 0;
  long long mThreadNs = 0;
  long long mProcessNs = 0;
};

// A frame's work and presenting interleave: the frame clock keeps "Frame"
// and "Present" as their pieces around the viewport's submission and the
// tool paint's wait for the renderer (its time off the processor) in
// Present only, and the capture hands them on as they are.
TEST(KhostFrameClock, FrameAndPresentArePiecesAndThePaintsWaitCountsOnceInPresent) {
  FakeClocks clocks;
  FrameClock clock(clocks);
  FrameCapture capture;
  Keep keep;
  capture.AddSink(&keep);
  FrameTimings work;
  EXPECT_EQ(clock.StartFrame(0), nullptr);
  clock.Time(kLoopInput, [&] { clocks.Run(5, 4); });
  clock.Time(kLoopSceneUpdate, [&] { clocks.Run(2, 1); });
  clocks.Run(3000, 2990, 700);  // the workload, with the pool's help
  clock.SetWork(work);
  clock.TimeSubmission([&] { clocks.Run(1000, 100); });
  clock.TimePaint([&] { clocks.Run(4500, 500); });  // 4 ms waiting for the renderer
  clock.TimeSwap([&] { clocks.Run(1000, 50); });
  const MeasuredFrame* done = clock.StartFrame(1);
  ASSERT_NE(done, nullptr);
  capture.Capture(*done);

  const CycleTiming& devices = done->Loops[kLoopDevices];
  const CycleTiming& frame = done->Loops[kLoopFrame];
  const CycleTiming& present = done->Loops[kLoopPresent];
  const CycleTiming& paint = done->Loops[kLoopToolPaint];
  EXPECT_EQ(devices.Micros, 9507.0);
  EXPECT_EQ(devices.CpuMicros, 4345.0);  // the process's: every thread
  // The work less the submission and the paint's wait; its CPU time less
  // the submission's.
  EXPECT_EQ(frame.Micros, 3507.0);
  EXPECT_EQ(frame.CpuMicros, 3495.0);
  EXPECT_EQ(present.Micros, 6000.0);
  EXPECT_EQ(present.CpuMicros, 150.0);
  EXPECT_EQ(paint.Micros, 500.0);  // the tool's own work
  EXPECT_EQ(paint.CpuMicros, 500.0);
  EXPECT_TRUE(paint.Encloses);
  EXPECT_EQ(frame.Micros + present.Micros, devices.Micros);

  // As the capture hands them on: the pieces in nanoseconds from the
  // frame's start, the paint's interval holding its wait.
  const CycleSample f = keep.Find(0, "Frame");
  const CycleSample p = keep.Find(0, "Present");
  const CycleSample t = keep.Find(0, "Tool Paint");
  ASSERT_EQ(f.PartCount, 2);
  ASSERT_EQ(p.PartCount, 2);
  const Interval expected[5] = {{0, 3007000, 0},
                                {3007000, 4007000, 0},
                                {4007000, 8507000, 0},
                                {8507000, 9507000, 0},
                                {4007000, 8507000, 0}};
  const Interval got[5] = {f.Parts[0], p.Parts[0], f.Parts[1], p.Parts[1], t.Parts[0]};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(got[i].StartNs, expected[i].StartNs) << i;
    EXPECT_EQ(got[i].EndNs, expected[i].EndNs) << i;
  }
  EXPECT_TRUE(t.Encloses);
  EXPECT_EQ(t.Micros, 500.0);

  // A frame without a repaint: Tool Paint is 0 and left out of the
  // capture. A run that stops inside a frame, before it presents, hands on
  // its period and the steps it took.
  clock.Time(kLoopInput, [&] { clocks.Run(5, 4); });
  clock.TimeSubmission([&] { clocks.Run(1000, 100); });
  clock.NotPainted();
  clock.TimeSwap([&] { clocks.Run(1000, 50); });
  capture.Capture(*clock.StartFrame(2));
  EXPECT_EQ(keep.Find(1, "Tool Paint").Cycle, -1);
  EXPECT_EQ(keep.Find(1, "Present").Micros, 2000.0);
  clock.Time(kLoopInput, [&] { clocks.Run(7, 6); });
  capture.Capture(*clock.EndRun());
  EXPECT_EQ(keep.Paths(2), (std::vector<std::string>{"Devices", "Input"}));
  EXPECT_EQ(keep.Find(2, "Devices").Micros, 7.0);
  EXPECT_EQ(clock.EndRun(), nullptr);
}

}  // namespace

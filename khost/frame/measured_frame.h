// One frame as one measured value: the loop's cycles with their times on
// the steady clock and on a CPU clock and the intervals they ran in, and the
// workload's stages and characters. The frame clock (frame_clock.h) makes it
// once the frame's period is known; the profiler feed, the recording, the
// trace, the comparison, the tuning search and the statistics all read it,
// each cycle through the cycle catalogue (cycle_catalogue.h).
//
// [loop thread; borrows the workload's timings]
#pragma once

#include <span>
#include <vector>

#include "khost/base/stopwatch.h"
#include "khost/scene/workload.h"

namespace khost {

// The loop's own cycles, which the frame clock measures.
enum LoopCycle : int {
  kLoopDevices,      // the frame period
  kLoopFrame,        // the frame's work, in two pieces around the viewport's submission
  kLoopPresent,      // the viewport's submission, then the swap
  kLoopInput,        // polling the window's events
  kLoopSceneUpdate,  // applying setting changes
  kLoopToolPaint,    // repainting the tool
  kLoopCycleCount
};

// A stretch of time on one thread.
struct TimeSpan {
  TimePoint Start{};
  TimePoint End{};
};

// One cycle's measurement: microseconds on the steady clock (negative: not
// measured), on the CPU clock of the thread that ran it (for the period the
// whole process's CPU time, every thread, over it; negative: not measured on
// it) and where it ran.
struct CycleTiming {
  double Micros = -1.0;
  double CpuMicros = -1.0;
  int Thread = 0;
  // One interval, or two pieces that together are the cycle ("Frame"
  // before and after the viewport's submission, "Present" the submission
  // and the swap), each a real stretch of time.
  TimeSpan Parts[2];
  int PartCount = 0;
  // The one interval is longer than Micros: it holds other cycles between
  // the cycle's parts (rendering: culling, then deformation and upload,
  // then submission) or a wait counted elsewhere (the tool's paint: its wait
  // for the renderer, counted in Present).
  bool Encloses = false;
  // The cycle's work ran in this frame. When it did not (the tool was not
  // repainted), it counts as 0 for the profiler and is left out of the
  // recordings.
  bool Ran = true;
};

struct MeasuredFrame {
  long long Index = 0;
  TimePoint Start{};
  CycleTiming Loops[kLoopCycleCount];
  // The workload's timings of the frame, by WorkStage (borrowed: valid
  // until the workload runs its next frame, so the frame is read at once
  // when it is handed on).
  std::span<const StageTiming> Stages;
  std::span<const std::vector<WorkSpan>> Shares;  // per stage: its pool threads' spans
  std::span<const CharacterTimings> Characters;

  // Loop cycle `cycle`'s and stage `stage`'s measurements (not measured
  // when the frame has none).
  CycleTiming Loop(int cycle) const;
  CycleTiming Stage(int stage) const;
  // Stage `stage`'s spans on the pool's threads (none when the frame has
  // none).
  std::span<const WorkSpan> StageShares(int stage) const;
};

}  // namespace khost

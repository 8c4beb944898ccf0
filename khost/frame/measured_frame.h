// One frame as one measured value: every cycle's times on the steady clock
// and on a CPU clock, the period, the tool's paint and how the frame was
// presented. The frame clock (frame_clock.h) makes it once the frame's
// period is known; the profiler feed, the recording, the trace, the
// comparison, the tuning search and the statistics all read it.
//
// Root slots: 0 Devices (the frame period), 1 Frame (the CPU work of a
// frame), 2 Present, 3 Scene Update, 4 Input, 5 Animation, 6 Evaluation
// (children "Character N", each with "Skeleton" and "Constraints"), 8
// Deformation, 9 Upload, 10 Rendering (children "Culling", "Submission"),
// 11 Tool Paint. Slot 7 stays empty.
#pragma once

#include <span>

#include "host/kbaselib.h"
#include "khost/scene/workload.h"
#include "standin/kbaselib/profiler.h"

namespace khost {

// One cycle's measurement: microseconds on the steady clock (negative: not
// measured), on the CPU clock of the thread that ran it (for Devices the
// whole process's CPU time, every thread, over the period), where its
// interval began and the thread it ran on.
struct SlotTiming {
  double Micros = -1.0;
  double CpuMicros = -1.0;
  TimePoint Start{};
  int Thread = 0;
};

// One frame. The loop's own cycles (Devices, Frame, Present, Input, Scene
// Update, Tool Paint) are in Loop; the workload's stages (Animation,
// Evaluation, Deformation, Upload, Rendering) and their children are read
// from Work, the workload's own timings, which nothing copies: they stay
// valid until the workload runs its next frame, so the value is read at
// once when it is handed on. Rendering is culling plus submission.
struct MeasuredFrame {
  long long Index = 0;
  TimePoint Start{};
  SlotTiming Loop[KProfiler::kRootCycleCount];
  // The frame repainted the tool. When it did not, Tool Paint is 0 for the
  // profiler and left out of recordings.
  bool ToolPainted = false;
  // How the frame presented: its viewport's submission, then (after the
  // tool's paint) the swap. "Present" is these two stretches and "Frame"
  // the two around the first. Not Known for a frame stopped before it
  // presented.
  //
  // The tool's paint, between the two, can wait for the renderer to
  // rasterise the viewport (a software renderer finishes the viewport's
  // drawing when the paint's drawing needs it). The paint's time off the
  // processor, its length less the thread's CPU time around it, is that wait:
  // PaintWait microseconds, counted in Present and not in Tool Paint or
  // Frame. Waiting for the renderer anywhere else (a finish before the
  // paint, or painting before the viewport is drawn) doubles a software
  // renderer's frame, so the wait is measured where it happens.
  struct Presenting {
    TimePoint SubmitStart{};
    TimePoint SubmitEnd{};
    TimePoint SwapStart{};
    TimePoint SwapEnd{};
    double PaintWait = 0.0;
    bool Known = false;
  } Presented;
  const FrameTimings* Work = nullptr;  // the workload's stages and their children

  // Slot `slot`'s measurement, a workload stage's from Work.
  SlotTiming Slot(int slot) const;
  // Whether the slot's work ran in this frame (Tool Paint only when
  // painted) and was measured.
  bool Ran(int slot) const;
};

// Whether `slot` is one of the workload's stages, measured in FrameTimings.
bool IsWorkloadSlot(int slot);

// The name of a root slot's cycle (null for the empty slot 7 and outside
// the table).
const char* SlotName(int slot);

// The root slots in the order the full chart lists them: the upper block
// (Frame and Present), then the lower block.
inline constexpr int kChartSlotOrder[] = {kSlotFrame,       kSlotPresent,    kSlotDevices,
                                          kSlotInput,       kSlotAnimation,  kSlotEvaluation,
                                          kSlotDeformation, kSlotUpload,     kSlotRendering,
                                          kSlotToolPaint,   kSlotSceneUpdate};
inline constexpr std::span<const int> kUpperBlockSlots{kChartSlotOrder, 2};
inline constexpr std::span<const int> kLowerBlockSlots{kChartSlotOrder + 2,
                                                       std::size(kChartSlotOrder) - 2};

}  // namespace khost

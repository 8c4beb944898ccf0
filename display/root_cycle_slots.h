// The slots of the host profiler's root cycle table (KProfiler::RootCycles)
// that the display reads, by what the display uses them for.
#pragma once

namespace kp_display {

enum RootCycleSlot : int {
  kDevicesSlot = 0,     // the frame rate; the lower block's reference in percent mode
  kUpperFirstSlot = 1,  // first row of the upper block and that block's reference
  kUpperSecondSlot = 2,
  kEvaluationSlot = 6,  // the evaluation rate; the display choice "Evaluation"
  kRenderingSlot = 10,  // the display choice "Rendering"
};

// The lower block's rows when no cycle is chosen, in drawing order: slot 3
// comes last and slot 7 is never drawn.
inline constexpr int kLowerBlockSlots[] = {0, 4, 5, 6, 8, 9, 10, 11, 3};

}  // namespace kp_display
